#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

namespace orv {

// syslog's priorities, which journald reads from a "<N>" at the start of a line it is handed on
// a stream (sd-daemon.h's SD_ERR, SD_WARNING, SD_INFO, SD_DEBUG).
enum class LogPriority { kError = 3, kWarning = 4, kInfo = 6, kDebug = 7 };

// True when JOURNAL_STREAM ("DEVICE:INODE", as systemd sets it) names the file with this device
// and inode: the output is the journal's stream, not a terminal or a file the caller chose.
bool JournalStreamNames(std::string_view journal_stream, dev_t device, ino_t inode);
// The same for an open descriptor (standard output or error), from the environment.
bool IsJournalStream(int fd);

// The text as the output wants it, ending in a newline: to the journal each of its lines starts
// with its priority (journald splits at newlines and reads the prefix of each); anywhere else
// the text alone, as a terminal has always shown it.
std::string LogLine(std::string_view text, LogPriority priority, bool to_journal);

}  // namespace orv
