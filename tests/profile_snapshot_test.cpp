// Reading MainForm.INI once and safely. The reader, one snapshot for many keys, against a plain
// per-key reader of the same text: every key the program reads, for hand-picked tricky files
// (random ones are the config fuzz target's). Then the size bound, and the entries
// that are no regular file: read as missing, never rewritten, said once per load.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "link/trigger_states.h"
#include "platform/profile.h"
#include "tests/profile_reference.h"
#include "tests/temp_folder.h"
#ifndef _WIN32
#include "tests/odd_files.h"
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

struct Query {
  std::string section;
  std::string key;
  std::string default_value;
  std::size_t capacity;
};

// Every key the program reads, with its default and capacity: start-up's six groups and the
// port map read at connect.
std::vector<Query> ProgramKeys() {
  std::vector<Query> keys = {
      {"RS232Configure", "ComPort", "1", 8},     {"RS232Configure", "BaudRate", "9600", 8},
      {"RS232Configure", "CheckBit", "None", 8}, {"RS232Configure", "BitLength", "8", 8},
      {"RS232Configure", "StopBit", "1", 8},     {"FileConfigure", "FilePath", "/opt/orv", 128},
      {"FileConfigure", "FileName", "", 128},    {"FileConfigure", "FileType", "2", 128},
  };
  for (const TriggerPage& page : kTriggerPages) {
    for (int n = 1; n <= page.size; ++n) {
      keys.push_back({page.ini_section, page.ini_key_prefix + std::to_string(n),
                      page.default_name_prefix + std::to_string(n), 128});
    }
  }
  for (int n = 1; n <= 10; ++n)
    keys.push_back({"SerialPorts", "COM" + std::to_string(n), "", 1024});
  return keys;
}

// Hand-picked texts where a reader could slip: line breaks of every kind, blanks and case around
// names, duplicate sections and keys, text beside the brackets, empty names, NUL and 8-bit bytes.
const std::vector<std::string>& TrickyTexts() {
  static const std::vector<std::string> texts = {
      "",
      "  [ \t rs232configure  ]\n \t COMPORT \t= \t 4  5 \t\n",
      "[RS232Configure]\r\nComPort=\r\nBaudRate=  \t\r\n",
      "ComPort=2\n[RS232Configure]\nother=v\n[T]\nComPort=3\n",
      "[RS232Configure]\nComPort\nComPort=6\n",
      "[RS232Configure]\n[T\nComPort=7\n",
      "[RS232Configure]\nCOMPORT=1\nComPort=2\n[rs232configure]\nComPort=3\nBaudRate=4800\n",
      "[ETrgName]\nETRG 1=a=b\nETRG  1=x\n ETRG 2 =y\n",
      "[ETrgName]\rETRG 1=cr only\rETRG 2=z",
      "[ETrgName]\n\rETRG 1=lf cr\r\n\r\nETRG 2=\xE9\x80\x81\xFF",
      "[ETrgName] ; comment\nETRG 1=after comment\n[[BTrgName]]\nBTRG 1=double\n",
      "[ETrgName]x\nETRG 1=text after bracket\n[BGMName\nBGM 1=no close\n",
      "[]\n=empty key\n[ETrgName]\n=\nETRG 3=\0nul\n"s,
      "[ETrgName]\nETRG 4=" + std::string(300, 'n') +
          "\n[VTrgName]\nVTRG 120=" + std::string(127, '\xE9') + "x\n",
      "[ETrgName]\nETRG 5=first\n[BTrgName]\n[ETrgName]\nETRG 5=second\nETRG 6=second\n",
      "[SerialPorts]\r\ncom1 = /dev/ttyUSB0 \r\nCOM10=/dev/pts/7\r\nCOM1=/dev/later\r\n",
      "\xEF\xBB\xBF[FileConfigure]\r\nFilePath=C:\\panel\r\n[FileConfigure]\r\nFileName=x\r\n",
      "[FileConfigure]\nFileType\t=\t3\t\n\t[\tBTrgName\t]\t\nBTRG 60=\tsixty\t\n",
  };
  return texts;
}

// Many repeats of a few keys, in many sections of the same name: only the first section and the
// first of each key count, however the reader orders them to look them up.
std::string ManyRepeats() {
  std::string text;
  for (int section = 0; section < 40; ++section) {
    text += section % 2 == 0 ? "[ETrgName]\n" : "[etrgname]\r\n";
    for (int i = 0; i < 100; ++i) {
      text += (i % 3 == 0 ? "etrg " : "ETRG ") + std::to_string((i * 7 + section) % 13 + 1) + "=s" +
              std::to_string(section) + "i" + std::to_string(i) + "\n";
    }
  }
  return text;
}

// Every program key agrees with the per-key reader of the file's text: read from one snapshot
// of the file, and read alone. (What Configuration makes of the values is its own test.)
void ExpectProgramKeysAsPerKeyReads(const fs::path& file) {
  const std::string text = test::ReadBytes(file);
  const test::ReferenceProfile reference(text);
  const ProfileSnapshot snapshot(file);
  EXPECT_EQ(snapshot.state(), ProfileFileState::kRead);
  for (const Query& q : ProgramKeys()) {
    const std::string expected = reference.Read(q.section, q.key, q.default_value, q.capacity);
    EXPECT_EQ(snapshot.Read(q.section, q.key, q.default_value, q.capacity), expected)
        << "[" << q.section << "] " << q.key;
    EXPECT_EQ(ReadProfileString(q.section, q.key, q.default_value, q.capacity, file), expected)
        << "[" << q.section << "] " << q.key;
  }
}

// (Random texts and the seed corpus against the per-key reader are the config fuzz target's.)
TEST(ProfileReaderTest, EveryProgramKeyOfTrickyFilesReadsAsPerKeyReads) {
  test::TempFolder folder;
  const fs::path file = folder.path() / "MainForm.INI";
  std::vector<std::string> texts = TrickyTexts();
  texts.push_back(ManyRepeats());
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 80)));
    test::WriteBytes(file, text);
    ExpectProgramKeysAsPerKeyReads(file);
  }
  // Letter case is ASCII's only; defaults are cut as values are, to whole characters.
  const ProfileSnapshot snapshot = ProfileSnapshot::FromText("[\xC9]\nk=upper\n[\xE9]\nk=lower\n");
  EXPECT_EQ(snapshot.Read("\u00E9", "K", "d", 9), "lower");
  EXPECT_EQ(snapshot.Read("\u00E9", "k", "d", 0), "");
  EXPECT_EQ(snapshot.Read("S", "k", "d\u00E9fault", 3), "d\u00E9");
}

#ifdef _WIN32
constexpr long kLockFiles = 0;
#else
constexpr long kLockFiles = 1;
#endif

// A text of exactly size bytes whose last line is the value: only a whole reading finds it.
std::string TextOfSize(std::size_t size, const std::string& last_lines) {
  return ";" + std::string(size - 2 - last_lines.size(), '-') + "\n" + last_lines;
}

TEST(ProfileBoundTest, FilesUpToTheBoundAreReadAndWrittenLargerOnesNotAtAll) {
  test::TempFolder folder;
  const fs::path file = folder.path() / "bound.ini";
  const std::string at_bound = TextOfSize(kMaxProfileFileBytes, "[S]\nk=end");
  const std::string above_bound = TextOfSize(kMaxProfileFileBytes + 1, "[S]\nk=end");
  ASSERT_EQ(at_bound.size(), std::size_t{4} << 20);
  test::WriteBytes(file, at_bound);
  EXPECT_EQ(ProfileSnapshot(file).Read("S", "k", "none", 128), "end");
  // At the bound, a value of the same length still fits; one character more would not.
  EXPECT_TRUE(WriteProfileString("S", "k", "abc", file));
  const std::string rewritten = at_bound.substr(0, at_bound.size() - 3) + "abc";
  EXPECT_EQ(test::ReadBytes(file), rewritten);
  EXPECT_FALSE(WriteProfileString("S", "k", "abcd", file));
  EXPECT_FALSE(WriteProfileString("S", "other", "", file));
  EXPECT_EQ(test::ReadBytes(file), rewritten);
  // Above it, the file is not read at all, not even for a write that would make it smaller.
  test::WriteBytes(file, above_bound);
  const ProfileSnapshot refused(file);
  EXPECT_EQ(refused.state(), ProfileFileState::kTooLarge);
  EXPECT_EQ(refused.Read("S", "k", "none", 128), "none");
  EXPECT_EQ(refused.Problem(), "is larger than 4 MiB");
  EXPECT_EQ(ProfileSnapshot::FromText(above_bound).state(), ProfileFileState::kTooLarge);
  EXPECT_FALSE(WriteProfileString("S", "k", "", file));
  EXPECT_EQ(test::ReadBytes(file), above_bound);
  // No temporary file is left: the file and (POSIX) the lock file of the rewrites.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), kLockFiles + 1);
}

#ifndef _WIN32  // FIFOs and devices
struct OddEntry {
  const char* name;
  std::function<void(const fs::path&)> make;
  ProfileFileState state;
  const char* problem;
};

const std::vector<OddEntry>& OddEntries() {
  static const std::vector<OddEntry> entries = {
      {"FIFO", test::MakeFifo, ProfileFileState::kNotRegular, "is not a regular file"},
      {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       ProfileFileState::kNotRegular, "is a symbolic link"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, ProfileFileState::kNotRegular,
       "is not a regular file"},
      {"link to nowhere", [](const fs::path& p) { fs::create_symlink(p.string() + ".gone", p); },
       ProfileFileState::kNotRegular, "is a symbolic link"},
  };
  return entries;
}

// What the entry is, so that a test can see it left alone.
std::string Describe(const fs::path& p) {
  const fs::file_status s = fs::symlink_status(p);
  std::string what = std::to_string(static_cast<int>(s.type()));
  if (fs::is_regular_file(s)) what += " of " + std::to_string(fs::file_size(p)) + " bytes";
  return what;
}

TEST(OddProfileEntryTest, ReadsAsMissingSaysWhyAndIsNeverRewritten) {
  for (const OddEntry& entry : OddEntries()) {
    SCOPED_TRACE(entry.name);
    test::TempFolder folder;
    const fs::path file = folder.path() / "MainForm.INI";
    entry.make(file);
    const std::string before = Describe(file);
    ProfileFileState state{};
    std::string problem, value;
    bool written = true;
    test::FinishOrStop(
        [&] {
          const ProfileSnapshot snapshot(file);
          state = snapshot.state();
          problem = snapshot.Problem();
          value = snapshot.Read("ETrgName", "ETRG 1", "EMG Trigger 1", 128);
          written = WriteProfileString("ETrgName", "ETRG 1", "Hall", file);
        },
        std::string("reading and writing a ") + entry.name, [&] { test::ReleaseFifoReader(file); });
    EXPECT_EQ(state, entry.state);
    EXPECT_EQ(problem, entry.problem);
    EXPECT_EQ(value, "EMG Trigger 1");
    EXPECT_FALSE(written);
    EXPECT_EQ(Describe(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 1) << "no file beside it";
  }
}

TEST(OddProfileEntryTest, ConfigurationSaysSoOncePerLoadAndAtEachPortLookUp) {
  test::TempFolder folder;
  Configuration config(folder.path());
  std::vector<Notice> notices;
  config.set_notice([&](const Notice& n) { notices.push_back(n); });
  fs::create_directories(config.ConfigFolder());
  test::MakeFifo(config.ConfigFile());
  const std::string warning =
      config.ConfigFile().string() + " is not a regular file: its settings were not read.";
  std::string device = "?";
  test::FinishOrStop(
      [&] {
        config.LoadConfigGroups(
            {"MainForm", "RS232Config", "ETrgName", "BTrgName", "VTrgName", "BGMName"});
        config.LoadConfigGroup("ETrgName");
        device = config.SerialDevice(1);
      },
      "loading settings from a FIFO", [&] { test::ReleaseFifoReader(config.ConfigFile()); });
  ASSERT_EQ(notices.size(), 3u);
  for (const Notice& n : notices) {
    EXPECT_EQ(n.level, NoticeLevel::kWarning);
    EXPECT_EQ(n.text, warning);
  }
  EXPECT_EQ(device, "");
  EXPECT_EQ(config.SerialComPort, 1);
  EXPECT_EQ(config.BgmNames[59], "BGM 60");
  // A missing file is the first start: nothing to say.
  fs::remove(config.ConfigFile());
  config.LoadConfigGroups({"MainForm", "RS232Config"});
  EXPECT_EQ(config.SerialDevice(1), "");
  EXPECT_EQ(notices.size(), 3u);
}
#endif

}  // namespace
}  // namespace orv
