// The store as the journal's tests drive it: a journal of its own on a clock of the test's, and
// the system journal played by the test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_anchor.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv {

// Failures show the record, not its bytes.
inline void PrintTo(const JournalEntry& e, std::ostream* out) {
  *out << '{' << e.time.utc_ms << ", " << e.time.utc_offset_s << ", " << JournalKindName(e.kind)
       << ", \"" << e.text << "\", \"" << e.raw_hex << "\", " << e.login << ", " << e.host << '}';
}

namespace test {

constexpr std::int64_t kBase = 1796601600000;  // 2026-12-07 00:00:00 UTC

// Rewrites the text of record sequence and every chain value from it on, as a forger with the
// program's (unkeyed) chain function would.
inline void Recompute(const std::filesystem::path& file, std::int64_t sequence,
                      const std::string& text) {
  std::string previous(32, '\0');
  for (JournalRow row : test::JournalRows(file)) {
    if (row.sequence == sequence) row.entry.text = text;
    if (row.sequence >= sequence) {
      row.chain = JournalChainValue(previous, row.sequence, row.entry);
      test::JournalSql(file, "UPDATE journal SET text = '" + row.entry.text +
                                 "', chain = " + test::SqlBlob(row.chain) +
                                 " WHERE seq = " + std::to_string(row.sequence));
    }
    previous = row.chain;
  }
}

// The system journal as the tests see it: what was sent, and the newest of it read back.
struct FakeAnchors final : JournalAnchorSink {
  bool Send(const std::string& name, const JournalAnchor& anchor, std::string& problem) override {
    if (down) {
      problem = "down";
      return false;
    }
    names.push_back(name);
    sent.push_back(anchor);
    return true;
  }
  std::optional<JournalAnchor> Newest(const std::string&) override {
    return sent.empty() ? std::nullopt : std::optional(sent.back());
  }
  std::vector<JournalAnchor> All(const std::string&) override { return sent; }
  bool down = false;
  std::vector<std::string> names;
  std::vector<JournalAnchor> sent;
};

class JournalTest : public ::testing::Test {
 protected:
  std::unique_ptr<Journal> MakeJournal(std::shared_ptr<JournalAnchorSink> sink = nullptr,
                                       int retry_commits = 1) {
    JournalOptions options;
    options.clock = [this] { return JournalTime{now_ms_, 3600}; };
    options.login = "operator1";
    options.host = "panel-pc";
    options.retry_commits = retry_commits;
    options.anchor = std::move(sink);
    return std::make_unique<Journal>(
        data_, [this](const Notice& n) { notices_.push_back(n); }, std::move(options));
  }
  // Entry i of a test: every one different in every field.
  static JournalEntry Entry(int i, const std::string& text = "record ") {
    static constexpr JournalKind kKinds[] = {JournalKind::kEvent, JournalKind::kOperator,
                                             JournalKind::kLink, JournalKind::kProgram};
    const std::string n = std::to_string(i);
    return {.time = {kBase + 1000 * i, i % 2 == 0 ? 3600 : -18000},
            .kind = kKinds[i % 4],
            .text = text + n,
            .raw_hex = i % 4 == 0 ? "0203A0120000" + std::to_string(i % 10) + "703" : "",
            .login = "user" + n,
            .host = "host" + n,
            .detail = ""};
  }
  // A fresh journal of count records, committed at once at the base time; nothing sent or said.
  std::unique_ptr<Journal> Fresh(int count, std::shared_ptr<JournalAnchorSink> sink = nullptr,
                                 const std::string& text = "record ") {
    std::error_code ec;
    std::filesystem::remove_all(data_, ec);
    anchors_->sent.clear();
    notices_.clear();
    now_ms_ = kBase;
    auto journal = MakeJournal(std::move(sink));
    for (int i = 0; i < count; ++i)
      journal->Append(Entry(i, text));
    EXPECT_TRUE(journal->Commit());
    return journal;
  }
  void Sql(const std::string& sql) const { test::JournalSql(File(), sql); }
  std::vector<JournalRow> Rows() const { return test::JournalRows(File()); }
  static std::vector<std::int64_t> SequencesOf(const std::ranges::range auto& rows) {
    std::vector<std::int64_t> sequences;
    std::ranges::transform(rows, std::back_inserter(sequences), &JournalRow::sequence);
    return sequences;
  }
  std::filesystem::path File() const { return data_ / Journal::kFileName; }
  // A notice of this level with part in its text.
  static auto Said(NoticeLevel level, const std::string& part) {
    return ::testing::AllOf(::testing::Field(&Notice::level, level),
                            ::testing::Field(&Notice::text, ::testing::HasSubstr(part)));
  }

  test::TempFolder folder_;
  std::filesystem::path data_ = folder_.path() / "DATA";
  std::shared_ptr<FakeAnchors> anchors_ = std::make_shared<FakeAnchors>();
  std::vector<Notice> notices_;
  std::int64_t now_ms_ = kBase;
};

}  // namespace test
}  // namespace orv
