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

bool EventLogFile::EnsureDataFolder() const {
  // A plain file named DATA counts as present: the write below it then fails.
  return EntryExists(DataFolder()) || CreateFolder(DataFolder());
}

bool EventLogFile::AppendEventLogLine(const std::string& line) {
  if (!EnsureDataFolder()) return false;
  return AppendToFile(LogFile(), Record(line));
}

bool EventLogFile::CheckDataFolderWritable() {
  if (!EnsureDataFolder()) return false;
  const std::filesystem::path test = TestFile();
  if (EntryExists(test) && !DeleteFile(test)) return false;
  if (!AppendToFile(test, Record(" This is a test file. "))) return false;
  return EntryExists(test);
}

}  // namespace orv
