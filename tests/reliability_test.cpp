// What must hold under load and abuse: event storms, long runs and a configuration file that is
// no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/support/journal_fixture.h"
#include "tests/support/resident_memory.h"
#include "tests/support/storm.h"
#ifndef _WIN32
#include "tests/odd_files.h"
#endif

namespace orv {
namespace {

using test::FormTest;

// Far more reports between two ticks than the ring holds (1,199 bytes, 149 reports of 8 bytes),
// in 37 receive events: the rest waits behind it, and the tick decodes every one. Each is one
// line of EventLog.txt and one journal record, in order, all written by one commit. (Where the
// ring ends is the receiver's test.)
TEST_F(FormTest, AnEventStormBetweenTwoTicksLosesNoRecord) {
  const int reports = 2000;
  const std::size_t writes = 37;
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  Ticks(1);
  const std::filesystem::path journal = program_folder_ / "DATA" / Journal::kFileName;
  const std::int64_t before = static_cast<std::int64_t>(test::JournalRows(journal).size());
  std::vector<std::int64_t> commits;
  const Connection listening =
      f.journal()->committed().Connect([&commits](std::int64_t last) { commits.push_back(last); });
  const Bytes storm = test::FaultReports(0, reports);
  const std::size_t piece = storm.size() / writes + 1;
  for (std::size_t at = 0; at < storm.size(); at += piece) {
    const auto begin = storm.begin() + static_cast<std::ptrdiff_t>(at);
    port_.Deliver(
        Bytes(begin, begin + static_cast<std::ptrdiff_t>(std::min(piece, storm.size() - at))));
  }
  Ticks(1);
  EXPECT_EQ(test::ReadBytes(LogPath()), test::FaultRecords(0, reports));
  // The first Fault report also sounds the annunciator, which says so in a record of its own.
  EXPECT_EQ(commits, std::vector<std::int64_t>{before + reports + 1});
  std::vector<JournalRow> rows = test::JournalRows(journal);
  std::erase_if(rows, [](const JournalRow& row) {
    return row.entry.text.starts_with(kAnnunciationRecordPrefix);
  });
  ASSERT_EQ(static_cast<std::int64_t>(rows.size()), before + reports);
  for (int i = 0; i < reports; ++i) {
    const JournalEntry& e = rows[static_cast<std::size_t>(before + i)].entry;
    ASSERT_EQ(std::string(JournalKindName(e.kind)) + " " + e.text,
              "event 12/04 05:21 " + test::FaultEvent(i));
  }
  EXPECT_EQ(f.EventsLogTextBox.text().size(), 1000u);
  EXPECT_EQ(f.EventsLogTextBox.text().rfind("12/04 05:21 " + test::FaultEvent(reports - 1), 0), 0u)
      << "the newest line is on top";
  EXPECT_TRUE(notices_.empty());
}

// A line faster than the program can take: bytes past the backlog's bound are lost, counted and
// said; everything before them is still decoded, and the ring never reads as empty while full.
TEST_F(FormTest, BytesPastTheBacklogAreCountedAndSaid) {
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  // Panel status reports (8 bytes each): decoded, but not written to the log one by one.
  const Bytes report = EncodeFrame(0xA0, Bytes{0x50, 0x00, 0x01});
  std::size_t decoded = 0;
  const Connection count =
      f.link().dispatcher().panel_status().Connect([&](std::int32_t) { ++decoded; });
  const std::size_t held = Receiver::kBacklogLimit + Receiver::kRingPositions - 1;
  Bytes flood;
  for (std::size_t i = 0; i < held / report.size(); ++i)
    flood.insert(flood.end(), report.begin(), report.end());
  flood.resize(held, 0x00);  // noise up to the last byte that is kept
  port_.Deliver(flood);
  port_.Deliver(Bytes(3 * report.size() + 5, 0x02));
  EXPECT_EQ(f.link().receiver().overflow_bytes(), 3 * report.size() + 5);
  Ticks(1);
  EXPECT_EQ(decoded, held / report.size());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_[0].text.find("29 bytes"), std::string::npos) << notices_[0].text;
  // Said again only when more are lost, and not more often than every ten seconds.
  port_.Deliver(flood);
  port_.Deliver(Bytes(1, 0));
  Ticks(1);
  EXPECT_EQ(notices_.size(), 1u);
  Ticks(100);
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_NE(notices_[1].text.find("30 bytes"), std::string::npos) << notices_[1].text;
  Ticks(200);
  EXPECT_EQ(notices_.size(), 2u) << "nothing new lost";
}

TEST_F(FormTest, SoakOfAMillionTicksKeepsMemoryFlat) {
#if defined(ORV_SANITIZED)
  // Memory is measured in the plain build; here a tenth still wraps every ring and bound many
  // times over, at a tenth of the sanitizers' minute.
  constexpr int kDefaultTicks = 100000;
#else
  constexpr int kDefaultTicks = 1000000;
#endif
  const int ticks =
      std::getenv("ORV_SOAK_TICKS") ? std::atoi(std::getenv("ORV_SOAK_TICKS")) : kDefaultTicks;
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  std::mt19937 rng(7);
  long warm_kb = 0;
  for (int t = 1; t <= ticks; ++t) {
    if (t % 11 == 0) {  // a reply to every poll
      Bytes bits(15);
      for (auto& b : bits)
        b = static_cast<std::uint8_t>(rng());
      port_.Deliver(EncodeFrame(static_cast<std::uint8_t>(6 + rng() % 5), bits));
    }
    if (t % 7 == 0) port_.Deliver(Bytes{static_cast<std::uint8_t>(rng()), 0x02, 0x03});  // noise
    if (t % 97 == 0) {  // an event report now and then, of any kind
      port_.Deliver(EncodeFrame(
          0xA0, Bytes{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                      static_cast<std::uint8_t>(rng())}));
    }
    if (t % 50000 == 0) {
      port_.ClearWrites();  // the fake port's record of writes is the test's, not the program's
      std::filesystem::remove(LogPath());
    }
    f.TRTimer_Timer();
    if (t == ticks / 10) warm_kb = static_cast<long>(test::ResidentBytes() / 1024);
  }
  const long end_kb = static_cast<long>(test::ResidentBytes() / 1024);
  RecordProperty("resident_kb_after_warm_up", std::to_string(warm_kb));
  RecordProperty("resident_kb_at_end", std::to_string(end_kb));
  std::printf("resident memory after warm-up %ld kB, after %d ticks %ld kB\n", warm_kb, ticks,
              end_kb);
#if defined(ORV_SANITIZED)
  // AddressSanitizer keeps freed memory in quarantine, which alone grows the resident size; the
  // memory figure is taken from the normal build.
  (void)end_kb;
#else
  // The journal's file grows all run long, and SQLite's page cache with it up to its own bound
  // (2,000 KiB by default): that much may come on top.
  EXPECT_LE(end_kb - warm_kb, 1024 + 2048) << "memory grew after warm-up";
#endif
}

#ifndef _WIN32
// A MainForm.INI that must not be read, here a FIFO: start-up does not wait on it, finishes with
// every default and says once why; the one check that the configuration's notices reach the
// window. (Which entries are refused, that a rewrite is refused too and the size bound are the
// profile reader's tests; how often it is said, the configuration's.)
TEST_F(FormTest, AnIniThatIsNoFileStartsWithDefaultsAndSaysWhyOnce) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::MakeFifo(IniPath());
  test::FinishOrStop([this] { Load(); }, "start-up",
                     [this] { test::ReleaseFifoReader(IniPath()); });
  EXPECT_EQ(form().ComPort_CB.text() + " " + form().BaudRate_CB.text(), "COM1 9600");
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text,
            IniPath().string() + " is not a regular file: its settings were not read.");
}
#endif

}  // namespace
}  // namespace orv
