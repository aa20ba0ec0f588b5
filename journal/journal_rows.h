#pragma once

// How a journal record is read back from its table: shared by the journal itself and its readers.
#include <string>
#include <string_view>

#include "journal/journal.h"
#include "platform/sqlite.h"

namespace orv::journal_detail {

// The value before the first record of a chain.
inline constexpr std::string_view kNoChain(
    "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32);

// Every column of a record, in the order JournalRowFrom() reads them. A file without the detail
// column (an earlier version's, not yet written to by this one) reads with an empty detail.
inline std::string SelectRows(bool detail) {
  return std::string(
             "SELECT seq, utc_ms, utc_offset_s, kind, text, raw_hex, login, host, chain, ") +
         (detail ? "detail" : "''") + " FROM journal";
}

// The record in the current row of a statement that selects SelectRows()' columns.
JournalRow JournalRowFrom(const sqlite::Statement& statement);

}  // namespace orv::journal_detail
