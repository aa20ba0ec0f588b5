#pragma once

// The journal as tests look at it from outside: its records read back whole, plain SQL run on it
// (with chain values as blobs), and a record as the history's tests write them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal.h"
#include "platform/sqlite.h"

namespace orv::test {

// Every record of the journal file, in order; a file that cannot be read fails the test.
inline std::vector<JournalRow> JournalRows(const std::filesystem::path& file) {
  std::vector<JournalRow> rows;
  const sqlite::Result result = ReadJournalFile(file, 1, 10000000, rows);
  EXPECT_TRUE(result.ok()) << file << ": " << result.message;
  return rows;
}

// The texts of the records of one kind, in order.
inline std::vector<std::string> JournalTexts(const std::filesystem::path& file, JournalKind kind) {
  std::vector<std::string> texts;
  for (const JournalRow& row : JournalRows(file))
    if (row.entry.kind == kind) texts.push_back(row.entry.text);
  return texts;
}

// Plain SQL on a connection of the test's own, as another program (or a forger) would run it.
inline void JournalSql(const std::filesystem::path& file, const std::string& sql) {
  sqlite::Database db;
  ASSERT_TRUE(db.Open(file, sqlite::kReadWrite).ok()) << file;
  const sqlite::Result result = db.Exec(sql);
  ASSERT_TRUE(result.ok()) << sql << ": " << result.message;
}

// Bytes (a chain value) as an SQL blob literal: X'..', two hex digits a byte.
inline std::string SqlBlob(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string sql = "X'";
  for (const unsigned char b : bytes)
    sql += {kDigits[b >> 4], kDigits[b & 0x0F]};
  return sql + "'";
}

// A record for tests of the journal's readers: written an hour east of UTC on "panel-pc".
inline JournalEntry PanelEntry(std::int64_t utc_ms, JournalKind kind, std::string text,
                               std::string login = "alice") {
  return {{utc_ms, 3600}, kind, std::move(text), "", std::move(login), "panel-pc", ""};
}

}  // namespace orv::test
