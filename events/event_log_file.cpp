#include "events/event_log_file.h"

#include "platform/file_system.h"

namespace orv {
namespace {

// The line is followed by a line feed, and the write itself ends the record with CR LF.
std::string Record(const std::string& line) {
  return line + "\n\r\n";
}

}  // namespace

EventLogFile::EventLogFile(std::filesystem::path program_folder)
    : program_folder_(std::move(program_folder)) {}

std::filesystem::path EventLogFile::DataFolder() const {
  return program_folder_ / "DATA";
}
std::filesystem::path EventLogFile::LogFile() const {
  return DataFolder() / "EventLog.txt";
}
std::filesystem::path EventLogFile::TestFile() const {
  return DataFolder() / "TestFile.txt";
}

bool EventLogFile::EnsureDataFolder() {
  // A plain file named DATA counts as present: the write below it then fails.
  if (EntryExists(DataFolder()) || CreateFolder(DataFolder())) return true;
  last_error_ = "the folder " + DataFolder().string() + " cannot be created";
  return false;
}

bool EventLogFile::AppendEventLogLine(const std::string& line) {
  const std::string record = Record(line);
  std::error_code error;
  if (AppendToFile(LogFile(), record, &error)) return true;
  // The folder is made only when it is missing (someone removed it while the program ran),
  // not looked for before every record.
  if (error == std::errc::no_such_file_or_directory && !EntryExists(DataFolder())) {
    if (!EnsureDataFolder()) return false;
    if (AppendToFile(LogFile(), record, &error)) return true;
  }
  last_error_ = error.message();
  return false;
}

bool EventLogFile::CheckDataFolderWritable() {
  if (!EnsureDataFolder()) return false;
  const std::filesystem::path test = TestFile();
  if (EntryExists(test) && !DeleteFile(test)) return false;
  // Created anew, exclusively: whatever another user puts there between the delete and this
  // (a link to one of this user's files) makes the check fail instead of being written through.
  std::error_code error;
  if (!CreateFileWith(test, Record(" This is a test file. "), &error)) {
    last_error_ = error.message();
    return false;
  }
  return EntryExists(test);
}

void EventLogRecorder::Record(const EventRecord& record) {
  if (waiting_.empty() && file_.AppendEventLogLine(record.text)) return;
  const std::string name = file_.LogFile().string();
  if (waiting_.size() >= kWaitingLimit) {
    if (dropped_++ == dropped_said_) {
      Notify(NoticeLevel::kError, name + ": events are being dropped, " +
                                      std::to_string(kWaitingLimit) +
                                      " already wait to be written.");
    }
  } else {
    if (waiting_.empty()) {
      Notify(NoticeLevel::kError, name + " cannot be written (" + file_.last_error() +
                                      "): events wait and are written as soon as it can be.");
    }
    waiting_.push_back(record.text);
    ++waited_;
  }
  Flush();
}

void EventLogRecorder::Tick() {
  if (waiting_.empty()) return;
  if (++ticks_ < kRetryTicks) return;
  ticks_ = 0;
  Flush();
}

void EventLogRecorder::Flush() {
  if (waiting_.empty()) return;
  while (!waiting_.empty()) {
    if (!file_.AppendEventLogLine(waiting_.front())) return;
    waiting_.pop_front();
  }
  std::string text = file_.LogFile().string() + " is written again: " + std::to_string(waited_) +
                     " waiting event(s) written";
  if (dropped_ > dropped_said_) {
    text += ", " + std::to_string(dropped_ - dropped_said_) + " dropped";
    dropped_said_ = dropped_;
  }
  Notify(NoticeLevel::kInfo, text + ".");
  waited_ = 0;
  ticks_ = 0;
}

}  // namespace orv
