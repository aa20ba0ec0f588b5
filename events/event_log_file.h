#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

#include "events/event_record.h"
#include "platform/notice.h"

namespace orv {

// EventLog.txt and the start-up test file, both in DATA under the program folder. Every record
// opens the file, writes, and closes it again, so nothing is lost in a crash and other programs
// can read the log while this one runs.
class EventLogFile {
 public:
  explicit EventLogFile(std::filesystem::path program_folder);

  std::filesystem::path DataFolder() const;
  std::filesystem::path LogFile() const;
  std::filesystem::path TestFile() const;

  // One record: the line, LF, then CR LF. When the folder or the file cannot be written the
  // record is skipped; the next event simply tries again. Returns whether it was written.
  bool AppendEventLogLine(const std::string& line);
  // Replaces TestFile.txt with one record, in a file created anew; true when it is there
  // afterwards.
  bool CheckDataFolderWritable();
  // Why the last write failed, in the system's words.
  const std::string& last_error() const { return last_error_; }

 private:
  bool EnsureDataFolder();
  std::filesystem::path program_folder_;
  std::string last_error_;
};

// The subscriber that appends every decoded event to EventLog.txt. A record that cannot be
// written waits, in order, with the ones after it, and they are written as soon as the file
// can take them again (tried with every new event and once a second). At most kWaitingLimit
// wait; events past that are counted as dropped. The operator is told when records start
// waiting, when some are dropped, and when all that waited were written.
class EventLogRecorder {
 public:
  static constexpr std::size_t kWaitingLimit = 10000;
  static constexpr int kRetryTicks = 10;

  EventLogRecorder(EventLogFile& file, NoticeFn notice) : file_(file), notice_(std::move(notice)) {}

  void Record(const EventRecord& record);
  // The 100 ms tick: retries the waiting records once a second.
  void Tick();

  std::size_t waiting() const { return waiting_.size(); }
  // Events dropped because too many waited, since the program started.
  std::uint64_t dropped() const { return dropped_; }

 private:
  // Writes waiting records in order; stops at the first that fails.
  void Flush();
  void Notify(NoticeLevel level, const std::string& text) const {
    if (notice_) notice_(Notice{level, text});
  }

  EventLogFile& file_;
  NoticeFn notice_;
  std::deque<std::string> waiting_;
  std::uint64_t dropped_ = 0;
  std::uint64_t dropped_said_ = 0;
  std::uint64_t waited_ = 0;  // records that had to wait in this spell
  int ticks_ = 0;
};

}  // namespace orv
