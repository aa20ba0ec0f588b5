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
  if (!EnsureDataFolder()) return false;
  std::error_code error;
  if (AppendToFile(LogFile(), Record(line), &error)) return true;
  last_error_ = error.message();
  return false;
}

bool EventLogFile::CheckDataFolderWritable() {
  if (!EnsureDataFolder()) return false;
  const std::filesystem::path test = TestFile();
  if (EntryExists(test) && !DeleteFile(test)) return false;
  if (!AppendToFile(test, Record(" This is a test file. "))) return false;
  return EntryExists(test);
}

void EventLogRecorder::Record(const EventRecord& record) {
  const std::string name = file_.LogFile().string();
  if (file_.AppendEventLogLine(record.text)) {
    if (missed_ > 0) {
      Notify(NoticeLevel::kInfo, name + " is written again; " + std::to_string(missed_) +
                                     " event(s) could not be written to it.");
      missed_ = 0;
    }
    return;
  }
  if (missed_++ == 0) {
    Notify(NoticeLevel::kError, name + " cannot be written (" + file_.last_error() +
                                    "): events are shown but not logged to it.");
  }
}

}  // namespace orv
