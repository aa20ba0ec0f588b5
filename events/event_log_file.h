#pragma once

#include <filesystem>
#include <string>

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

 private:
  bool EnsureDataFolder() const;
  std::filesystem::path program_folder_;
};

}  // namespace orv
