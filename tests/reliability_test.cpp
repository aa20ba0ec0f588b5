// What must hold under load and abuse: event storms, long runs and damaged configuration files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "link/frame.h"
#include "platform/profile.h"
#include "tests/form_fixture.h"
#ifndef _WIN32
#include "tests/odd_files.h"
#endif

namespace orv {
namespace {

using test::FormTest;
using namespace std::string_literals;

// Resident memory of this process in kB, from the kernel's own accounting.
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

struct Storm {
  int reports;
  int writes;  // the reports arrive in this many receive events between two ticks
};

class EventStorm : public FormTest, public ::testing::WithParamInterface<Storm> {};

// More reports between two ticks than the ring holds: the ring takes 1,199 bytes (149 reports
// of 8 bytes), the rest waits behind it, and the tick decodes every one.
TEST_P(EventStorm, OneTickLosesNoRecord) {
  const auto [reports, writes] = GetParam();
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  Bytes storm;
  for (int i = 0; i < reports; ++i) {
    const Bytes r = EncodeFrame(
        0xA0, Bytes{0x21, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
    storm.insert(storm.end(), r.begin(), r.end());
  }
  const std::size_t piece = storm.size() / static_cast<std::size_t>(writes) + 1;
  for (std::size_t at = 0; at < storm.size(); at += piece) {
    const auto begin = storm.begin() + static_cast<std::ptrdiff_t>(at);
    port_.Deliver(
        Bytes(begin, begin + static_cast<std::ptrdiff_t>(std::min(piece, storm.size() - at))));
  }
  Ticks(1);
  const std::string log = test::ReadBytes(LogPath());
  std::size_t at = 0;
  for (int i = 0; i < reports; ++i) {
    const std::string record = "Event = Fault " + FormatBits(i, 16) + "\n\r\n";
    const std::size_t found = log.find(record, at);
    ASSERT_NE(found, std::string::npos) << "record " << i << " missing or out of order";
    at = found + record.size();
  }
  EXPECT_EQ(at, log.size()) << "no record twice, nothing else";
  EXPECT_EQ(f.link().receiver().overflow_bytes(), 0u);
  EXPECT_EQ(f.link().receiver().backlog_size(), 0u) << "the tick drained everything";
  EXPECT_EQ(f.EventsLogTextBox.text().size(), 1000u);
  EXPECT_NE(f.EventsLogTextBox.text().rfind("Fault " + FormatBits(reports - 1, 16), 30),
            std::string::npos)
      << "the newest line is on top";
  EXPECT_TRUE(notices_.empty());
}

INSTANTIATE_TEST_SUITE_P(Reports, EventStorm,
                         ::testing::Values(Storm{149, 1}, Storm{150, 1}, Storm{2000, 1},
                                           Storm{2000, 37}),
                         [](const auto& info) {
                           return std::to_string(info.param.reports) + "in" +
                                  std::to_string(info.param.writes);
                         });

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

TEST_F(FormTest, SoakOfAMillionTicksKeepsMemoryAndTextsBounded) {
  const int ticks =
      std::getenv("ORV_SOAK_TICKS") ? std::atoi(std::getenv("ORV_SOAK_TICKS")) : 1000000;
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
    if (t == ticks / 10) warm_kb = ResidentKb();
  }
  EXPECT_LE(f.Receiver_Text.char_count(), ReceivedDataDisplay::kMaxTextLength);
  EXPECT_LE(f.EventsLogTextBox.text().size(), 1000u);
  const long end_kb = ResidentKb();
  RecordProperty("resident_kb_after_warm_up", std::to_string(warm_kb));
  RecordProperty("resident_kb_at_end", std::to_string(end_kb));
  std::printf("resident memory after warm-up %ld kB, after %d ticks %ld kB\n", warm_kb, ticks,
              end_kb);
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed memory in quarantine, which alone grows the resident size; the
  // memory figure is taken from the normal build.
  (void)end_kb;
#else
  EXPECT_LE(end_kb - warm_kb, 1024) << "memory grew after warm-up";
#endif
}

struct IniCase {
  const char* name;
  std::string bytes;
};

class DamagedIni : public FormTest, public ::testing::WithParamInterface<IniCase> {};

// A damaged file never stops the program: it starts, names still change, other lines stay.
TEST_P(DamagedIni, StartsAndKeepsWhatItDidNotWrite) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), GetParam().bytes);
  MainForm& f = Load();
  EXPECT_EQ(f.MainFormWindow.caption(), "Orvandel Program Ver 2.16.08");
  EXPECT_GE(f.ComPort_CB.list_index(), 0);
  EXPECT_GE(f.BaudRate_CB.list_index(), 0);
  f.TriggerLabel[0].PerformDblClick();
  f.TriggerNameText[0].SetText("Hall");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Hall");
  const std::string after = test::ReadBytes(IniPath());
  EXPECT_NE(after.find("ETRG 1=Hall"), std::string::npos);
  EXPECT_NE(after.find(GetParam().bytes.substr(0, 64)), std::string::npos);
}

std::string Binary(std::size_t n) {
  std::string s(n, '\0');
  std::mt19937 rng(11);
  for (auto& c : s)
    c = static_cast<char>(rng());
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedIni,
    ::testing::Values(IniCase{"garbage", "]]]=[[[\n==\n[RS232Configure\nComPort\n[=]\n"},
                      IniCase{"binary", Binary(4096)},
                      IniCase{"huge", "; " + std::string(1 << 20, 'x') + "\r\n"},
                      IniCase{"nulInValues",
                              "[RS232Configure]\r\nComPort=\0"
                              "7\r\n"s}),
    [](const auto& info) { return std::string(info.param.name); });

// A settings file at the size bound is read to its last line.
TEST_F(FormTest, IniOfExactlyTheBoundIsReadWhole) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  const std::string head = "[RS232Configure]\r\nComPort=3\r\nBaudRate=19200\r\n";
  const std::string tail = "[BGMName]\r\nBGM 60=Last";
  test::WriteBytes(IniPath(),
                   head + ";" +
                       std::string(kMaxProfileFileBytes - head.size() - tail.size() - 3, '-') +
                       "\r\n" + tail);
  ASSERT_EQ(std::filesystem::file_size(IniPath()), kMaxProfileFileBytes);
  MainForm& f = Load();
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text(), "COM3 19200");
  EXPECT_EQ(f.config().BgmNames[59], "Last");
  EXPECT_TRUE(notices_.empty());
}

#ifndef _WIN32  // FIFOs, devices and sparse files
struct UnreadIniCase {
  const char* name;
  std::function<void(const std::filesystem::path&)> make;
  const char* reason;
};

void PrintTo(const UnreadIniCase& c, std::ostream* os) {
  *os << c.name;
}

class UnreadIni : public FormTest, public ::testing::WithParamInterface<UnreadIniCase> {
 protected:
  // What the entry is, to see that it was left alone.
  std::string Entry() const {
    const auto status = std::filesystem::symlink_status(IniPath());
    std::string what = std::to_string(static_cast<int>(status.type()));
    if (std::filesystem::is_regular_file(status)) {
      what += " of " + std::to_string(std::filesystem::file_size(IniPath())) + " bytes";
    }
    return what;
  }
  // Should start-up wait on a FIFO, opening its other end lets it go on, and the test fails.
  void Release() const { test::ReleaseFifoReader(IniPath()); }
};

// A MainForm.INI that must not be read: start-up finishes with every default and says once why;
// a renamed trigger shows but is not saved, which is said too, and the entry stays as it was.
TEST_P(UnreadIni, StartsWithDefaultsSaysWhyOnceAndLeavesItAlone) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  GetParam().make(IniPath());
  const std::string before = Entry();
  test::FinishOrStop([this] { Load(); }, "start-up", [this] { Release(); });
  MainForm& f = form();
  EXPECT_EQ(f.ComPort_CB.text() + " " + f.BaudRate_CB.text(), "COM1 9600");
  EXPECT_EQ(f.RS232BitType_LB.caption(), "None Parity , 8 Bits , 1 Stop");
  EXPECT_EQ(f.TriggerLabel[0].caption(), "EMG Trigger 1");
  EXPECT_EQ(f.config().BgmNames[59], "BGM 60");
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].level, NoticeLevel::kWarning);
  EXPECT_EQ(notices_[0].text,
            IniPath().string() + " " + GetParam().reason + ": its settings were not read.");

  test::FinishOrStop(
      [&f] {
        f.TriggerLabel[0].PerformDblClick();
        f.TriggerNameText[0].SetText("Hall");
        f.focus.MoveFocus(&f.Trigger_PictureBox);
      },
      "renaming a trigger", [this] { Release(); });
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Hall");
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[1].level, NoticeLevel::kError);
  EXPECT_EQ(notices_[1].text.rfind(IniPath().string() + " cannot be written: ", 0), 0u)
      << notices_[1].text;
  EXPECT_EQ(Entry(), before);
}

// Settings at the top that a reading would find; one byte above the bound keeps them unread.
void MakeJustAboveTheBound(const std::filesystem::path& p) {
  const std::string head = "[RS232Configure]\r\nComPort=3\r\nBaudRate=19200\r\n";
  test::WriteBytes(p, head + ";" + std::string(kMaxProfileFileBytes - head.size(), '-'));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UnreadIni,
    ::testing::Values(UnreadIniCase{"fifo", test::MakeFifo, "is not a regular file"},
                      UnreadIniCase{"devZero",
                                    [](const std::filesystem::path& p) {
                                      std::filesystem::create_symlink("/dev/zero", p);
                                    },
                                    "is a symbolic link"},
                      UnreadIniCase{"sparse8GiB",
                                    [](const std::filesystem::path& p) {
                                      test::MakeSparseFile(p, std::int64_t{8} << 30);
                                    },
                                    "is larger than 4 MiB"},
                      UnreadIniCase{"justAboveTheBound", MakeJustAboveTheBound,
                                    "is larger than 4 MiB"}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace orv
