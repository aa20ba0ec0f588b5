#pragma once

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
  // Replaces TestFile.txt with one record; true when it is there afterwards.
  bool CheckDataFolderWritable();
  // Why the last write failed, in the system's words.
  const std::string& last_error() const { return last_error_; }

 private:
  bool EnsureDataFolder();
  std::filesystem::path program_folder_;
  std::string last_error_;
};

// The subscriber that appends every decoded event to EventLog.txt. A failing log is said once
// when it starts failing and once when it works again, with the count of records it missed.
class EventLogRecorder {
 public:
  EventLogRecorder(EventLogFile& file, NoticeFn notice) : file_(file), notice_(std::move(notice)) {}

  void Record(const EventRecord& record);
  // Records not written since the log last worked.
  long missed() const { return missed_; }

 private:
  void Notify(NoticeLevel level, const std::string& text) const {
    if (notice_) notice_(Notice{level, text});
  }

  EventLogFile& file_;
  NoticeFn notice_;
  long missed_ = 0;
};

}  // namespace orv
