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

// The chain value that row, the current row of such a statement, must have after previous: over
// its fields as stored (a kind edited to a name the program does not know hashes as what it is).
std::string StoredChainValue(std::string_view previous, const sqlite::Statement& statement,
                             const JournalRow& row);

// The SHA-256 of what is left to read of fd, from where it stands; empty with why in problem
// when it cannot be read.
std::string DescriptorSha256(int fd, std::string& problem);

}  // namespace orv::journal_detail
