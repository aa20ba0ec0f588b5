// EventLog.txt under a disk that fills up, turns read-only or stands in the way: records are
// written whole or not at all, wait in order while the file cannot take them, and are written
// once each when it can again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  // The notices so far, each holding its part of the text.
  void ExpectNotices(const std::vector<std::string>& parts) {
    ASSERT_EQ(notices_.size(), parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i)
      EXPECT_NE(notices_[i].text.find(parts[i]), std::string::npos) << notices_[i].text;
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
  ExpectNotices({"No space left on device"});

  fs::remove(program_folder_ / "DATA" / "filler");
  Ticks(EventLogRecorder::kRetryTicks);  // retried within a second, with no new event
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit + 30));
  EXPECT_EQ(f.event_recorder().waiting(), 0u);
  Reports(fit + 30, fit + 35);
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit + 35));
  ExpectNotices({"No space left on device", "30 waiting event(s) written."});

  // Read-only, it holds records back; the next event once it is writable writes them first.
  ASSERT_TRUE(disk.SetReadOnly(true));
  Reports(fit + 35, fit + 50);
  EXPECT_EQ(f.event_recorder().waiting(), 15u);
  ASSERT_TRUE(disk.SetReadOnly(false));
  Reports(fit + 50, fit + 51);
  EXPECT_EQ(test::ReadBytes(LogPath()), FaultRecords(0, fit + 51));
  EXPECT_EQ(f.event_recorder().waiting(), 0u);
  ExpectNotices(
      {"No space", "30 waiting", "Read-only file system", "16 waiting event(s) written."});
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
  ExpectNotices({"Is a directory", "dropped"});  // waiting, then dropping: each said once

  fs::remove(LogPath());
  Ticks(EventLogRecorder::kRetryTicks);
  EXPECT_EQ(test::ReadBytes(LogPath()),
            FaultRecords(0, static_cast<int>(EventLogRecorder::kWaitingLimit)))
      << "the oldest ten thousand, in order";
  ExpectNotices({"Is a directory", "dropped", "10000 waiting event(s) written, 25 dropped."});
}

}  // namespace
}  // namespace orv
