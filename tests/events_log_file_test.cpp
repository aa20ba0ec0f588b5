#include <gtest/gtest.h>

#include <filesystem>

#include "events/event_log_file.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

TEST(EventLogFile, FirstRecordCreatesFolderAndFileEndingLfCrLf) {
  TempFolder temp;
  EventLogFile log(temp.path());
  ASSERT_FALSE(std::filesystem::exists(temp.path() / "DATA"));
  EXPECT_TRUE(log.AppendEventLogLine("12/04 05:21 Event = EMG Ack"));
  const std::string bytes = ReadBytes(temp.path() / "DATA" / "EventLog.txt");
  EXPECT_EQ(bytes, std::string("12/04 05:21 Event = EMG Ack") + '\x0A' + '\x0D' + '\x0A');
}

TEST(EventLogFile, RecordsKeepTheirOrderAndTheFolderIsMadeAgainWhenDeleted) {
  TempFolder temp;
  EventLogFile log(temp.path());
  log.AppendEventLogLine("first");
  log.AppendEventLogLine("second");
  EXPECT_EQ(ReadBytes(log.LogFile()), "first\n\r\nsecond\n\r\n");
  std::filesystem::remove_all(log.DataFolder());
  EXPECT_TRUE(log.AppendEventLogLine("third"));
  EXPECT_EQ(ReadBytes(log.LogFile()), "third\n\r\n");
}

TEST(EventLogFile, StartUpTestReplacesAnOldTestFile) {
  TempFolder temp;
  std::filesystem::create_directories(temp.path() / "DATA");
  WriteBytes(temp.path() / "DATA" / "TestFile.txt", std::string(300, 'z'));
  EventLogFile log(temp.path());
  EXPECT_TRUE(log.CheckDataFolderWritable());
  const std::string bytes = ReadBytes(log.TestFile());
  EXPECT_EQ(bytes.size(), 25u);
  EXPECT_EQ(bytes, " This is a test file. \n\r\n");
}

TEST(EventLogFile, DataAsAPlainFileFailsBothOperations) {
  TempFolder temp;
  WriteBytes(temp.path() / "DATA", "not a folder");
  EventLogFile log(temp.path());
  EXPECT_FALSE(log.CheckDataFolderWritable());
  EXPECT_FALSE(log.AppendEventLogLine("lost"));
  EXPECT_EQ(ReadBytes(temp.path() / "DATA"), "not a folder");
}

TEST(EventLogFile, UnwritableLogIsSkippedAndWritingResumesByItself) {
  TempFolder temp;
  EventLogFile log(temp.path());
  ASSERT_TRUE(log.AppendEventLogLine("before"));
  // A folder where the file must be stops the write, also for root.
  std::filesystem::remove(log.LogFile());
  std::filesystem::create_directory(log.LogFile());
  EXPECT_FALSE(log.AppendEventLogLine("skipped"));
  std::filesystem::remove(log.LogFile());
  EXPECT_TRUE(log.AppendEventLogLine("after"));
  EXPECT_EQ(ReadBytes(log.LogFile()), "after\n\r\n");
}

}  // namespace
}  // namespace orv
