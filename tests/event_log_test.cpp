// EventLog.txt under a disk that fills up, turns read-only or stands in the way: records are
// written whole or not at all, wait in order while the file cannot take them, and are written
// once each when it can again.
#include <gtest/gtest.h>

#include <string>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/small_disk.h"
#include "tests/support/storm.h"

namespace orv {
namespace {

using test::FormTest;
namespace fs = std::filesystem;

using test::FaultRecords;

class EventLogDisk : public FormTest {
 protected:
  EventLogDisk() { keep_journal_ = false; }
  // The reports of values first..last-1, one per tick: every record different and in order.
  void Reports(int first, int last) {
    for (int i = first; i < last; ++i) {
      port_.Deliver(test::FaultReports(i, i + 1));
      Ticks(1);
    }
  }
};

TEST_F(EventLogDisk, AFullOrReadOnlyDiskLeavesNoFragmentAndEveryWaitingRecordIsWrittenOnce) {
  test::SmallDisk disk(program_folder_ / "DATA", 8192);  // two pages
  if (!disk.ok()) GTEST_SKIP() << "mounting a small disk needs root";
  MainForm& f = Load();
  ConnectAndClear();
  // The start-up test file is gone; a filler takes one page, the log gets the other.
  fs::remove(program_folder_ / "DATA" / "TestFile.txt");
  test::WriteBytes(program_folder_ / "DATA" / "filler", std::string(4096, 'x'));
  const int fit = 4096 / static_cast<int>(FaultRecords(0, 1).size());  // 91 whole records
  Reports(0, fit + 30);
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit)) << "whole records only";
  EXPECT_EQ(f.event_recorder().waiting(), 30u);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_[0].text.find("No space left on device"), std::string::npos)
      << notices_[0].text;

  fs::remove(program_folder_ / "DATA" / "filler");
  Ticks(EventLogRecorder::kRetryTicks);  // retried within a second, with no new event
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit + 30));
  EXPECT_EQ(f.event_recorder().waiting(), 0u);
  Reports(fit + 30, fit + 35);
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit + 35));
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_NE(notices_[1].text.find("30 waiting event(s) written."), std::string::npos)
      << notices_[1].text;

  // Read-only, it holds records back; the next event once it is writable writes them first.
  ASSERT_TRUE(disk.SetReadOnly(true));
  Reports(fit + 35, fit + 50);
  EXPECT_EQ(f.event_recorder().waiting(), 15u);
  ASSERT_TRUE(disk.SetReadOnly(false));
  Reports(fit + 50, fit + 51);
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit + 51));
  EXPECT_EQ(f.event_recorder().waiting(), 0u);
  ASSERT_EQ(notices_.size(), 4u);
  EXPECT_NE(notices_[2].text.find("Read-only file system"), std::string::npos) << notices_[2].text;
}

// No root needed: a folder where the file should be refuses every write.
TEST_F(EventLogDisk, AtMostTenThousandWaitAndTheRestAreCountedAsDropped) {
  MainForm& f = Load();
  ConnectAndClear();
  fs::create_directories(LogPath());
  port_.Deliver(test::FaultReports(0, static_cast<int>(EventLogRecorder::kWaitingLimit) + 25));
  Ticks(1);
  EXPECT_EQ(f.event_recorder().waiting(), EventLogRecorder::kWaitingLimit);
  EXPECT_EQ(f.event_recorder().dropped(), 25u);
  ASSERT_EQ(notices_.size(), 2u) << "waiting, then dropping: each said once";
  EXPECT_NE(notices_[0].text.find("Is a directory"), std::string::npos) << notices_[0].text;
  EXPECT_NE(notices_[1].text.find("dropped"), std::string::npos) << notices_[1].text;

  fs::remove(LogPath());
  Ticks(EventLogRecorder::kRetryTicks);
  EXPECT_EQ(test::ReadBytes(LogPath()),
            FaultRecords(0, static_cast<int>(EventLogRecorder::kWaitingLimit)))
      << "the oldest ten thousand, in order";
  ASSERT_EQ(notices_.size(), 3u);
  EXPECT_NE(notices_[2].text.find("10000 waiting event(s) written, 25 dropped."), std::string::npos)
      << notices_[2].text;
}

}  // namespace
}  // namespace orv
