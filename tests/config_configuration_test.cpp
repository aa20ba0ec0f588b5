// The settings file from the bottom up: file helpers, text encoding, the profile file (written
// in place, read once per load against a plain per-key reader, bounded, odd entries refused),
// Configuration, and where site-wide settings come from: the owner and mode rule, both files for
// real.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "config/access_settings.h"
#include "config/configuration.h"
#include "config/site_settings.h"
#include "link/trigger_states.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/profile_reference.h"
#include "tests/temp_folder.h"

#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/odd_files.h"
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using test::ReadBytes;
using test::WriteBytes;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::SizeIs;

// The log file tests reach the common paths; these are the edges.
TEST(FileSystemTest, EdgesOfEachOperation) {
  test::TempFolder folder;
  const auto path = [&](const char* name) { return folder.path() / name; };
  fs::create_symlink(path("nowhere"), path("dangling"));
  EXPECT_TRUE(EntryExists(path("dangling")));
  EXPECT_TRUE(CreateFolder(path("dir")));
  EXPECT_FALSE(CreateFolder(path("dir")));  // true only when created now
  EXPECT_FALSE(CreateFolder(path("a") / "b"));
  EXPECT_FALSE(AppendToFile(path("a") / "log", "x"));
  EXPECT_TRUE(AppendToFile(path("log"), "x"));
  EXPECT_FALSE(DeleteFile(path("dir")));  // files only
  EXPECT_TRUE(DeleteFile(path("log")));
  EXPECT_FALSE(DeleteFile(path("log")));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 2);  // dangling, dir
}

TEST(TextEncodingTest, Cp1252BothWaysAndQuestionMarksForWhatItCannotHold) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
  }
  EXPECT_EQ(Cp1252ToUtf8("A\x80\x81\x8A\x8D\x99\x9D\x9F\xA0\xFF"),
            "A\u20AC\u0081\u0160\u008D\u2122\u009D\u0178\u00A0\u00FF");
  // CJK, a C1 control that cp1252 uses otherwise, a lead byte before ASCII. (Which UTF-8 is
  // malformed is the validator's test.)
  EXPECT_EQ(Utf8ToCp1252("\u65E5|\u0085|\xC3!"), "?|?|?!");
}

TEST(TextEncodingTest, Utf8LengthCountsCharactersAndUtf8OffsetSkipsWholeOnes) {
  // Text, its length in characters, then the byte offset after 0, 1, 2 and 3 characters.
  const std::tuple<std::string, std::size_t, std::array<std::size_t, 4>> cases[] = {
      {"", 0, {0, 0, 0, 0}},
      {"abc", 3, {0, 1, 2, 3}},
      {"\u00FFx\u20AC", 3, {0, 2, 3, 6}},  // two, one and three bytes
      {"\u20AC\u20AC", 2, {0, 3, 6, 6}},   // nothing left after the second
      {"\U0001F600a", 2, {0, 4, 5, 5}},    // four bytes
      {"\x82\x82"
       "a\xE2\x82",
       2,
       {0, 3, 5, 5}},  // stray continuations go with what they follow
  };
  for (const auto& [text, length, offsets] : cases) {
    EXPECT_EQ(Utf8Length(text), length) << text;
    for (std::size_t n = 0; n < offsets.size(); ++n)
      EXPECT_EQ(Utf8Offset(text, n), offsets[n]) << text << " after " << n;
  }
}

// (How a key is read is the profile reader's test, against a second reader of its own.)
class ProfileTest : public ::testing::Test {
 protected:
  fs::path File() const { return folder_.path() / "test.ini"; }
  test::TempFolder folder_;
};

TEST_F(ProfileTest, WriteChangesOnlyWhatItMust) {
  const std::vector<std::array<std::string, 5>> cases = {
      {"", "S\nT", "k\r1", "a\r\nb\nc\rd Z\u00FCrich \u20AC \u65E5-\xFF",
       "[S T]\r\nk 1=a  b c d Z\xFCrich \x80 ?-?\r\n"},
      {"; c\r\n\r\n[A]\r\nx = 1 \r\nk = old  \r\n\r\n[B]\r\nk=b\r\n", "A", "k", "new",
       "; c\r\n\r\n[A]\r\nx = 1 \r\nk =new\r\n\r\n[B]\r\nk=b\r\n"},
      {"[a]\r\nKEY  =old", "A", "key", "n", "[a]\r\nKEY  =n"},
      {"[A]\nx=1\n\n[B]\ny=2\n", "A", "k", "v", "[A]\nx=1\nk=v\n\n[B]\ny=2\n"},
      {"[A]\r\n[B]\r\n", "a", "k", "v", "[A]\r\nk=v\r\n[B]\r\n"},
      {"[A]\rk=1", "A", "m", "2", "[A]\rk=1\rm=2\r"},
      {"[A]\r\nk=1\r\n", "B", "k", "2", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n"},
      {"[A]\nk=1", "B", "x", "2", "[A]\nk=1\n[B]\nx=2\n"},
      {"k=0\n[A]\nk=1\n[A]\nk=2\n", "A", "k", "3", "k=0\n[A]\nk=3\n[A]\nk=2\n"},
      // Lone CR style, but the section's line ends in LF: the new line must not swallow the
      // blank line after it (found by fuzzing).
      {"\r[A]\n\n", "A", "k", "v", "\r[A]\nk=v\n\n"},
  };
  // (That each rewrite goes through a fresh temporary name and leaves none is the shared folder's
  // test.)
  for (const auto& [before, section, key, value, after] : cases) {
    SCOPED_TRACE(before + " <- " + section + "/" + key);
    fs::remove(File());
    if (!before.empty()) WriteBytes(File(), before);
    EXPECT_TRUE(WriteProfileString(section, key, value, File()));
    EXPECT_EQ(ReadBytes(File()), after);
  }
}

TEST_F(ProfileTest, WriteFailsWithoutHarm) {
  EXPECT_FALSE(WriteProfileString("S", "k", "v", folder_.path() / "missing" / "test.ini"));
  fs::create_directory(File());  // a folder where the file must be (modes would not stop root)
  EXPECT_FALSE(WriteProfileString("S", "k", "v", File()));
  // Names that could not be read back are refused.
  for (const auto& [section, key] : {std::pair{"", "k"}, {"S", " "}, {"a]b", "k"}, {"S", "a=b"}})
    EXPECT_FALSE(WriteProfileString(section, key, "v", folder_.path() / "other.ini"));
  // Nothing created, no temporary file left: still the one folder only.
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(folder_.path()), {}),
            std::vector<fs::path>{File()});
}

// Start-up's six groups, from one reading of the file.
void LoadAll(Configuration& config) {
  config.LoadConfigGroups(
      {"MainForm", "RS232Config", "ETrgName", "BTrgName", "VTrgName", "BGMName"});
}

class ConfigurationTest : public ::testing::Test {
 protected:
  // The machine's own site file has no say here.
  ConfigurationTest() : config_(folder_.path(), folder_.path() / "no-site-settings.ini") {}

  // Loads into the same object every time, so that a value left from an earlier load shows.
  void LoadFrom(const std::string& content) {
    fs::create_directories(config_.ConfigFolder());
    WriteBytes(config_.ConfigFile(), content);
    LoadAll(config_);
  }

  // Every setting but the names; "!" when the last serial load corrected the port or rate.
  std::string Settings() const {
    const Configuration& c = config_;
    return std::to_string(c.SerialComPort) + "|" + c.SerialBaudRate + "|" + c.SerialCheckBit + "|" +
           c.SerialBitLength + "|" + c.SerialStopBit + "|" + c.FilePathSetting + "|" +
           c.FileNameSetting + "|" + c.FileTypeSetting + (c.settings_corrected() ? "!" : "");
  }

  void ExpectDefaults() {
    EXPECT_EQ(Settings(), "1|9600|None|8|1|" + folder_.path().string() + "||2");
    const std::pair<std::string, std::size_t> pages[] = {
        {"EMG Trigger ", 60}, {"BUS Trigger ", 60}, {"Soft Trigger ", 120}, {"BGM ", 60}};
    for (int page = 0; page < 4; ++page) {
      const auto& [prefix, size] = pages[page];
      ASSERT_EQ(config_.Names(page).size(), size);
      for (std::size_t n = 1; n <= size; ++n)
        EXPECT_EQ(config_.Names(page)[n - 1], prefix + std::to_string(n));
    }
  }

  test::TempFolder folder_;
  Configuration config_;
};

TEST_F(ConfigurationTest, FirstStartMakesTheFolderWritesNothingAndUnknownGroupsLoadNothing) {
  LoadAll(config_);
  EXPECT_TRUE(fs::is_empty(folder_.path() / "SYSINI"));  // made, and left empty
  ExpectDefaults();

  WriteBytes(config_.ConfigFile(),
             "[RS232Configure]\r\nComPort=5\r\n[FileConfigure]\r\nFileName=x\r\n"
             "[ETrgName]\r\nETRG 1=E\r\n");
  for (const char* group : {"rs232config", "RS232Configure", "FileConfigure", "ETRGNAME", "",
                            "ETrgName ", "MainForm.INI"})
    config_.LoadConfigGroup(group);
  ExpectDefaults();
  config_.LoadConfigGroup("ETrgName");  // only its own section
  EXPECT_EQ(config_.EmgTriggerNames[0], "E");
  EXPECT_EQ(Settings(), "1|9600|None|8|1|" + folder_.path().string() + "||2");
}

TEST_F(ConfigurationTest, PortAndBaudRateOutsideTheirListsFallBackAndCountAsCorrected) {
  const std::vector<std::tuple<std::string, std::string, int, std::string, bool>> cases = {
      {" 3 ", "115200", 3, "115200", false}, {"COM3", " 19200 ", 1, "19200", true},
      {"3abc", "1200", 3, "1200", false},    {"0", "14400", 1, "9600", true},
      {"10", "2400", 10, "2400", false},     {"11", "9600x", 1, "9600", true},
      {"2.5", "4800", 2, "4800", false},     {"259", "", 1, "9600", true},
      {"3.5", "38400", 4, "38400", false},   {"", "11520000", 1, "9600", true},  // cut to 7
      {"0000003", "14400", 3, "9600", true}, {"00000003", "28800", 1, "28800", true},
  };
  for (const auto& [port_text, baud_text, port, baud, corrected] : cases) {
    SCOPED_TRACE("ComPort=" + port_text + " BaudRate=" + baud_text);
    LoadFrom("[RS232Configure]\r\nComPort=" + port_text + "\r\nBaudRate=" + baud_text + "\r\n");
    EXPECT_EQ(config_.SerialComPort, port);
    EXPECT_EQ(config_.SerialBaudRate, baud);
    EXPECT_EQ(config_.settings_corrected(), corrected);
  }
}

TEST_F(ConfigurationTest, TextValuesAreTrimmedAndCutAtNulOrCapacityInAnyLetterCase) {
  LoadFrom("[VTrgName]\r\nVTRG 120=" + std::string(200, 'n') +
           "\r\n[rs232configure]\r\ncheckbit= Even \r\nBITLENGTH=7\r\nStopBit=TwoTwoTwo\r\n"
           "[FileConfigure]\r\nFilePath=/data/orv\r\nFileName=log \0tail\r\nFileType=\r\n"
           "[etrgname]\r\netrg 1=  Lobby  \r\nETRG 2=\r\n[BGMName]\r\nBGM 5=Radio \xE9t\xE9\r\n"s);
  EXPECT_EQ(Settings(), "1|9600|Even|7|TwoTwoT|/data/orv|log|");  // empty value, not default
  EXPECT_EQ(config_.EmgTriggerNames[0], "Lobby");
  EXPECT_EQ(config_.EmgTriggerNames[1], "");
  EXPECT_EQ(config_.SoftTriggerNames[119], std::string(127, 'n'));
  EXPECT_EQ(config_.BgmNames[4], "Radio \u00E9t\u00E9");
  EXPECT_EQ(config_.BgmNames[5], "BGM 6");
}

TEST_F(ConfigurationTest, SavesWithoutTheFolderOrOutsideTheSerialGroupAndPagesWriteNothing) {
  std::string said;
  config_.set_notice([&](const Notice& n) {
    said += (n.level == NoticeLevel::kError ? "error: " : "not an error: ") + n.text + "\n";
  });
  LoadAll(config_);
  // Without the folder: nothing is created, and each failed save is said, naming the file.
  fs::remove_all(config_.ConfigFolder());
  EXPECT_FALSE(config_.SaveConfigGroup("RS232Config"));
  EXPECT_FALSE(config_.SaveName(3, 1));
  EXPECT_FALSE(fs::exists(config_.ConfigFolder()));
  const std::string file = "error: " + config_.ConfigFile().string() + " cannot be written: ";
  const std::string failures = file + "the serial settings were not saved.\n" + file +
                               "the name \"BGM 1\" of BGM 1 were not saved.\n";
  EXPECT_EQ(said, failures);
  // Groups and names that are never written are no failures.
  fs::create_directories(config_.ConfigFolder());
  for (const std::string group : {"MainForm", "ETrgName", "BGMName", "rs232config", ""})
    config_.SaveConfigGroup(group);
  for (const auto& [page, n] : {std::pair{0, 0}, {0, 61}, {2, 121}, {4, 1}, {-1, 1}})
    config_.SaveName(page, n);
  EXPECT_FALSE(fs::exists(config_.ConfigFile()));
  EXPECT_EQ(said, failures);
}

TEST_F(ConfigurationTest, GarbageReadsDefaultsAndANameSavedToItKeepsTheGarbage) {
  std::string garbage = "\0\0\0\xFF\xFE=\r\n]]]==\n\n\r"s + std::string(100'000, '\0') + "\n" +
                        std::string(500'000, 'x') + "=\n";
  for (int i = 0; i < 4096; ++i)  // every byte value but "[", which could open a section
    garbage.push_back(static_cast<char>(i * 37 % 256 == '[' ? 0 : i * 37 % 256));
  LoadFrom(garbage);
  ExpectDefaults();
  config_.BgmNames[0] = "Music";
  config_.SaveName(3, 1);
  // The last garbage line has no line break; one in the file's own style (CRLF) comes first.
  EXPECT_EQ(ReadBytes(config_.ConfigFile()), garbage + "\r\n[BGMName]\r\nBGM 1=Music\r\n");
}

// Every key the program reads (section, key, default, capacity): start-up's six groups and the
// port map read at connect.
std::vector<std::tuple<std::string, std::string, std::string, std::size_t>> ProgramKeys() {
  std::vector<std::tuple<std::string, std::string, std::string, std::size_t>> keys = {
      {"RS232Configure", "ComPort", "1", 8},     {"RS232Configure", "BaudRate", "9600", 8},
      {"RS232Configure", "CheckBit", "None", 8}, {"RS232Configure", "BitLength", "8", 8},
      {"RS232Configure", "StopBit", "1", 8},     {"FileConfigure", "FilePath", "/opt/orv", 128},
      {"FileConfigure", "FileName", "", 128},    {"FileConfigure", "FileType", "2", 128},
  };
  for (const TriggerPage& page : kTriggerPages) {
    for (int n = 1; n <= page.size; ++n) {
      keys.emplace_back(page.ini_section, page.ini_key_prefix + std::to_string(n),
                        page.default_name_prefix + std::to_string(n), 128);
    }
  }
  for (int n = 1; n <= 10; ++n)
    keys.emplace_back("SerialPorts", "COM" + std::to_string(n), "", 1024);
  return keys;
}

// Every program key of hand-picked texts agrees with the per-key reader, read from one snapshot of
// the file and read alone. (Random texts are the config fuzz target's; what Configuration makes of
// the values is its own test.)
TEST_F(ProfileTest, EveryProgramKeyOfTrickyFilesReadsAsPerKeyReads) {
  // Where a reader could slip: line breaks of every kind, blanks and case around names, duplicate
  // sections and keys, text beside the brackets, empty names, NUL and 8-bit bytes.
  std::vector<std::string> texts = {
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
  // Many repeats of a few keys, in many sections of the same name: only the first section and the
  // first of each key count, however the reader orders them to look them up.
  std::string& repeats = texts.emplace_back();
  for (int section = 0; section < 40; ++section) {
    repeats += section % 2 == 0 ? "[ETrgName]\n" : "[etrgname]\r\n";
    for (int i = 0; i < 100; ++i) {
      repeats += (i % 3 == 0 ? "etrg " : "ETRG ") + std::to_string((i * 7 + section) % 13 + 1) +
                 "=s" + std::to_string(section) + "i" + std::to_string(i) + "\n";
    }
  }
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 80)));
    WriteBytes(File(), text);
    const test::ReferenceProfile reference(text);
    const ProfileSnapshot snapshot(File());
    EXPECT_EQ(snapshot.state(), ProfileFileState::kRead);
    for (const auto& [section, key, default_value, capacity] : ProgramKeys()) {
      SCOPED_TRACE("[" + section + "] " + key);
      const std::string expected = reference.Read(section, key, default_value, capacity);
      EXPECT_EQ(snapshot.Read(section, key, default_value, capacity), expected);
      EXPECT_EQ(ReadProfileString(section, key, default_value, capacity, File()), expected);
    }
  }
  // Letter case is ASCII's only; defaults are cut as values are, to whole characters.
  const ProfileSnapshot snapshot = ProfileSnapshot::FromText("[\xC9]\nk=upper\n[\xE9]\nk=lower\n");
  EXPECT_EQ(snapshot.Read("\u00E9", "K", "d", 9), "lower");
  EXPECT_EQ(snapshot.Read("\u00E9", "k", "d", 0), "");
  EXPECT_EQ(snapshot.Read("S", "k", "d\u00E9fault", 3), "d\u00E9");
}

// A text of exactly size bytes whose last line is the value: only a whole reading finds it.
std::string TextOfSize(std::size_t size, const std::string& last_lines) {
  return ";" + std::string(size - 2 - last_lines.size(), '-') + "\n" + last_lines;
}

TEST_F(ProfileTest, FilesUpToTheBoundAreReadAndWrittenLargerOnesNotAtAll) {
  const std::string at_bound = TextOfSize(kMaxProfileFileBytes, "[S]\nk=end");
  const std::string above_bound = TextOfSize(kMaxProfileFileBytes + 1, "[S]\nk=end");
  ASSERT_EQ(at_bound.size(), std::size_t{4} << 20);
  WriteBytes(File(), at_bound);
  EXPECT_EQ(ProfileSnapshot(File()).Read("S", "k", "none", 128), "end");
  // At the bound, a value of the same length still fits; one character more would not.
  EXPECT_TRUE(WriteProfileString("S", "k", "abc", File()));
  const std::string rewritten = at_bound.substr(0, at_bound.size() - 3) + "abc";
  EXPECT_EQ(ReadBytes(File()), rewritten);
  EXPECT_FALSE(WriteProfileString("S", "k", "abcd", File()));
  EXPECT_FALSE(WriteProfileString("S", "other", "", File()));
  EXPECT_EQ(ReadBytes(File()), rewritten);
  // Above it, the file is not read at all, not even for a write that would make it smaller.
  WriteBytes(File(), above_bound);
  const ProfileSnapshot refused(File());
  EXPECT_EQ(refused.state(), ProfileFileState::kTooLarge);
  EXPECT_EQ(refused.Read("S", "k", "none", 128), "none");
  EXPECT_EQ(refused.Problem(), "is larger than 4 MiB");
  EXPECT_EQ(ProfileSnapshot::FromText(above_bound).state(), ProfileFileState::kTooLarge);
  EXPECT_FALSE(WriteProfileString("S", "k", "", File()));
  EXPECT_EQ(ReadBytes(File()), above_bound);
  // No temporary file is left: the file and (POSIX) the lock file of the rewrites.
  for (const auto& entry : fs::directory_iterator(folder_.path()))
    EXPECT_THAT(entry.path().filename().string(), AnyOf("test.ini", "test.ini.lock"));
}

#ifndef _WIN32  // FIFOs and devices
TEST(OddProfileEntryTest, ReadsAsMissingSaysWhyAndIsNeverRewritten) {
  const std::tuple<const char*, std::function<void(const fs::path&)>, const char*> entries[] = {
      {"FIFO", test::MakeFifo, "is not a regular file"},
      {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       "is a symbolic link"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "is not a regular file"},
      {"link to nowhere", [](const fs::path& p) { fs::create_symlink(p.string() + ".gone", p); },
       "is a symbolic link"},
  };
  for (const auto& [name, make, problem] : entries) {
    SCOPED_TRACE(name);
    test::TempFolder folder;
    const fs::path file = folder.path() / "MainForm.INI";
    make(file);
    const fs::file_type before = fs::symlink_status(file).type();
    std::string said;
    test::FinishOrStop(
        [&] {
          const ProfileSnapshot snapshot(file);
          said = std::to_string(snapshot.state() == ProfileFileState::kNotRegular) + " " +
                 snapshot.Problem() + ", " +
                 snapshot.Read("ETrgName", "ETRG 1", "EMG Trigger 1", 128) + ", written " +
                 std::to_string(WriteProfileString("ETrgName", "ETRG 1", "Hall", file));
        },
        std::string("reading and writing a ") + name, [&] { test::ReleaseFifoReader(file); });
    EXPECT_EQ(said, "1 " + std::string(problem) + ", EMG Trigger 1, written 0");
    EXPECT_EQ(fs::symlink_status(file).type(), before);  // not replaced by a file
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 1) << "no file beside it";
  }
}

TEST_F(ConfigurationTest, AnOddEntryIsSaidOncePerLoadAndAtEachPortLookUp) {
  std::vector<std::string> notices;
  config_.set_notice([&](const Notice& n) {
    notices.push_back((n.level == NoticeLevel::kWarning ? "warning: " : "other: ") + n.text);
  });
  fs::create_directories(config_.ConfigFolder());
  test::MakeFifo(config_.ConfigFile());
  std::string device = "?";
  test::FinishOrStop(
      [&] {
        LoadAll(config_);
        config_.LoadConfigGroup("ETrgName");
        device = config_.SerialDevice(1);
      },
      "loading settings from a FIFO", [&] { test::ReleaseFifoReader(config_.ConfigFile()); });
  const std::string warning = "warning: " + config_.ConfigFile().string() +
                              " is not a regular file: its settings were not read.";
  EXPECT_EQ(notices, std::vector<std::string>(3, warning));
  EXPECT_EQ(device, "");
  ExpectDefaults();
  // A missing file is the first start: nothing to say.
  fs::remove(config_.ConfigFile());
  LoadAll(config_);
  EXPECT_EQ(config_.SerialDevice(1), "");
  EXPECT_EQ(notices.size(), 3u);
}
#endif

constexpr std::uint32_t kRoot = 0;
constexpr std::uint32_t kSelf = 1000;
constexpr std::uint32_t kOther = 1001;

// Files, and the folders on the way up to /: as a file, except that root's sticky folder (/tmp)
// is safe.
TEST(SiteSettingsTrust, OwnerAndModeRuleOfFilesAndFolders) {
  using T = SettingsTrust;
  struct Case {
    bool folder;
    std::uint32_t owner;
    std::uint32_t mode;
    T program_file;  // self may own it
    T site_file;     // root alone may
  };
  const Case cases[] = {
      {false, kSelf, 0644, T::kTrusted, T::kOtherOwner},
      {false, kSelf, 0664, T::kWritableByOthers, T::kOtherOwner},
      {false, kRoot, 0644, T::kTrusted, T::kTrusted},
      {false, kRoot, 0664, T::kWritableByOthers, T::kWritableByOthers},
      {false, kRoot, 0646, T::kWritableByOthers, T::kWritableByOthers},
      {false, kRoot, 02755, T::kTrusted, T::kTrusted},  // set-id bits let no one write
      {false, kOther, 0644, T::kOtherOwner, T::kOtherOwner},
      {true, kRoot, 0755, T::kTrusted, T::kTrusted},
      {true, kRoot, 01777, T::kTrusted, T::kTrusted},                    // /tmp
      {true, kRoot, 02775, T::kWritableByOthers, T::kWritableByOthers},  // the installed SYSINI
      {true, kSelf, 0755, T::kTrusted, T::kOtherOwner},
      {true, kSelf, 01777, T::kWritableByOthers, T::kOtherOwner},  // sticky, but not root's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.folder) + " " + std::to_string(c.owner) + " " +
                 std::to_string(c.mode));
    const auto judge = c.folder ? JudgeFolder : JudgeOwnerAndMode;
    EXPECT_EQ(judge(c.owner, c.mode, kSelf, true), c.program_file);
    EXPECT_EQ(judge(c.owner, c.mode, kSelf, false), c.site_file);
  }
  // Run by root, a file of root is the program's own.
  EXPECT_EQ(JudgeOwnerAndMode(kRoot, 0644, kRoot, true), T::kTrusted);
  EXPECT_EQ(JudgeOwnerAndMode(kSelf, 0644, kRoot, true), T::kOtherOwner);
}

// A folder with a program settings file and a site file beside it.
class SiteSettingsFiles : public ::testing::Test {
 protected:
  fs::path program_file() const { return folder_.path() / "MainForm.INI"; }
  fs::path site_file() const { return folder_.path() / "orvandel.ini"; }

  void Write(const fs::path& file, const std::string& text, unsigned mode = 0644) {
    WriteBytes(file, text);
    fs::permissions(file, fs::perms(mode));
  }

  SiteSettings Make(const fs::path& program = {}) {
    return SiteSettings(
        program.empty() ? program_file() : program,
        [this](const Notice& n) { notices_.push_back(n.text); }, site_file());
  }

  test::TempFolder folder_;
  std::vector<std::string> notices_;
};

TEST_F(SiteSettingsFiles, ATrustedProgramFileComesFirstKeyByKeyThenTheSiteFile) {
  Write(program_file(), "[SerialPorts]\r\nCOM1 = /dev/ttyUSB0 \r\nCOM3=\r\n");
  Write(site_file(), "[serialports]\ncom1=/dev/site1\ncom2=/dev/site2\nCOM3=/dev/site3\n");
  const SiteSettings settings = Make();
  EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kTrusted);
  EXPECT_EQ(settings.Read("SerialPorts", "COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(settings.Read("SerialPorts", "COM3"), "");  // set, to nothing: the default device
  EXPECT_EQ(settings.Read("SerialPorts", "COM4"), "");
  EXPECT_EQ(settings.Read("SerialPorts", "COM1", 6), "/dev/");
  EXPECT_EQ(settings.Read("SerialPorts", "COM1", 1), "");
#ifndef _WIN32
  if (geteuid() != 0) GTEST_SKIP() << "the site file must belong to root";
  EXPECT_EQ(settings.site_file_trust(), SettingsTrust::kTrusted);
  EXPECT_EQ(settings.Read("SerialPorts", "COM2"), "/dev/site2");
#endif
  EXPECT_TRUE(notices_.empty());
}

TEST_F(SiteSettingsFiles, IdleMinutesTakeOneToADayAnythingElseIsTen) {
  const std::pair<const char*, int> texts[] = {{"1", 1},  {"0015", 15}, {"1440", 1440},
                                               {"0", 10}, {"1441", 10}, {"10000", 10},
                                               {"", 10},  {"5m", 10}};
  for (const auto& [text, minutes] : texts)
    EXPECT_EQ(ParseIdleMinutes(text), minutes) << text;
  Write(program_file(), "[access]\r\nidleminutes = 3 \r\n");
  EXPECT_EQ(AccessIdleMinutes(Make()), 3);
}

TEST_F(SiteSettingsFiles, AnIgnoredMapIsSaidOncePerSectionNamingTheSiteFile) {
  Write(program_file(), "[SerialPorts]\r\nCOM1=/tmp/attacker-pty\r\nCOM2=/tmp/other\r\n", 0664);
  {
    const SiteSettings settings = Make();
    EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kWritableByOthers);
    // COM5 is not set there: nothing ignored.
    for (const char* key : {"COM1", "COM2", "COM5"})
      EXPECT_EQ(settings.Read("SerialPorts", key), "") << key;
    EXPECT_EQ(settings.Read("LinkWatch", "Seconds"), "");
  }
  const std::string said = "[SerialPorts] in " + program_file().string() +
                           " is ignored: other users can change that file. Put site-wide "
                           "settings in " +
                           site_file().string() + ".";
  EXPECT_EQ(notices_, std::vector<std::string>{said});
  // The next use (connect) says it again.
  EXPECT_EQ(Make().Read("SerialPorts", "COM1"), "");
  EXPECT_EQ(notices_, std::vector<std::string>(2, said));
}

// What the configuration maps a port to is asked afresh at each look-up. (Its notice is the
// odd-entry test's.)
TEST_F(SiteSettingsFiles, ThroughConfigurationAnIgnoredPortMapLeavesThePortUnmapped) {
  Configuration config(folder_.path(), site_file());
  fs::create_directories(config.ConfigFolder());
  Write(config.ConfigFile(), "[SerialPorts]\r\ncom10 = /dev/pts/7 \r\n", 0646);
  EXPECT_EQ(config.SerialDevice(10), "");
  fs::permissions(config.ConfigFile(), fs::perms(0644));
  EXPECT_EQ(config.SerialDevice(10), "/dev/pts/7");
  EXPECT_EQ(config.SerialDevice(1), "");
}

#ifndef _WIN32
TEST_F(SiteSettingsFiles, LinkedFilesAreNotTakenAndSaySo) {
  Write(folder_.path() / "real.ini", "[SerialPorts]\nCOM1=/dev/ttyS9\n");
  fs::create_symlink(folder_.path() / "real.ini", program_file());
  {
    const SiteSettings settings = Make();
    EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kLinked);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"), "");
  }
  // A second name for the file: whoever holds the other name can change it.
  fs::remove(program_file());
  fs::create_hard_link(folder_.path() / "real.ini", program_file());
  EXPECT_EQ(Make().Read("SerialPorts", "COM1"), "");
  const std::string file = program_file().string();
  EXPECT_EQ(notices_,
            (std::vector<std::string>{
                file + " is a symbolic link: site-wide settings are not taken from it.",
                file + " has other hard links: site-wide settings are not taken from it."}));
}

// Root plays an ordinary user, "nobody" (self), beside another user without an account (other):
// files made by root are given away, and the settings are read as self.
class SiteSettingsAsUsers : public SiteSettingsFiles {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    self_ = nobody->pw_uid;
    other_ = self_ == 12345 ? 12346 : 12345;
    fs::permissions(folder_.path(), fs::perms(0755));
  }
  SiteSettings MakeAsSelf(const fs::path& program) {
    notices_.clear();
    EXPECT_EQ(seteuid(self_), 0);
    SiteSettings settings = Make(program);
    EXPECT_EQ(seteuid(0), 0);
    return settings;
  }
  static void Give(const fs::path& p, std::uint32_t owner, unsigned mode) {
    ASSERT_EQ(chown(p.c_str(), owner, 0), 0);
    ASSERT_EQ(chmod(p.c_str(), mode), 0);
  }

  std::uint32_t self_ = 0;
  std::uint32_t other_ = 0;
};

// Both files for real, run as an ordinary user (files made by root and given away): which file
// the key comes from, and what is said. (Every owner and mode is the rule's own table.)
TEST_F(SiteSettingsAsUsers, RealFilesOfEachTrustGiveTheKeyAndTheirNotices) {
  using T = SettingsTrust;
  struct File {
    std::uint32_t owner;
    unsigned mode;  // 0: no file
  };
  const File absent{0, 0};
  struct Row {
    File program, site;
    T program_trust, site_trust;
    const char* device;
    std::vector<std::string> said;  // a part of each notice
  };
  const std::string ignored = "[SerialPorts] in " + program_file().string() + " is ignored";
  // clang-format off
  const Row rows[] = {
      {{self_, 0644}, {0, 0644}, T::kTrusted, T::kTrusted, "/dev/program", {}},
      {{self_, 0664}, {0, 0644}, T::kWritableByOthers, T::kTrusted, "/dev/site", {ignored}},
      {{other_, 0644}, absent, T::kOtherOwner, T::kMissing, "", {ignored}},
      // A file of root with mode 0600 cannot even be read by "nobody".
      {{0, 0600}, {other_, 0600}, T::kNotRead, T::kNotRead, "",
       {program_file().string() + " cannot be read", site_file().string() + " cannot be read"}},
      {absent, {self_, 0644}, T::kMissing, T::kOtherOwner, "",
       {site_file().string() + " is ignored"}},
  };
  // clang-format on
  const auto put = [](const fs::path& file, const File& f, const std::string& text) {
    fs::remove(file);
    if (f.mode == 0) return;
    WriteBytes(file, text);
    Give(file, f.owner, f.mode);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &row - rows);
    put(program_file(), row.program, "[SerialPorts]\r\nCOM1=/dev/program\r\n");
    put(site_file(), row.site, "[SerialPorts]\nCOM1=/dev/site\n");
    const SiteSettings settings = MakeAsSelf(program_file());
    EXPECT_EQ(settings.program_file_trust(), row.program_trust);
    EXPECT_EQ(settings.site_file_trust(), row.site_trust);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"), row.device);
    EXPECT_EQ(notices_.size(), row.said.size());
    for (const std::string& part : row.said)
      EXPECT_THAT(notices_, Contains(HasSubstr(part)).Times(1));
  }
}

// MainForm.INI in b, below a, below the test's folder: which folder on the way makes it
// untrusted, run as an ordinary user. Folders are made by root and given away.
TEST_F(SiteSettingsAsUsers, EveryFolderUpToTheRootIsJudged) {
  const fs::path a = folder_.path() / "a", b = a / "b", link = folder_.path() / "via-link";
  // Owner and mode of a, then of b; the folder that makes the file untrusted, if any.
  const std::tuple<std::uint32_t, unsigned, std::uint32_t, unsigned, fs::path> rows[] = {
      {0, 0755, self_, 0755, {}},  // both safe
      {0, 02775, self_, 0755, a},  // a shared by the group (installed)
      {0, 0755, other_, 0755, b},  // b another user's
  };
  for (const auto& [a_owner, a_mode, b_owner, b_mode, culprit] : rows) {
    SCOPED_TRACE(culprit);
    fs::remove_all(a);
    fs::create_directories(b);
    WriteBytes(b / "MainForm.INI", "[SerialPorts]\r\nCOM1=/dev/program\r\n");
    Give(b / "MainForm.INI", self_, 0644);
    Give(a, a_owner, a_mode);
    Give(b, b_owner, b_mode);
    // Through a link to b: what counts is where the file really is.
    fs::remove(link);
    fs::create_directory_symlink(b, link);
    const SiteSettings settings = MakeAsSelf(link / "MainForm.INI");
    const bool trusted = culprit.empty();
    EXPECT_EQ(settings.program_file_trust(),
              trusted ? SettingsTrust::kTrusted : SettingsTrust::kFolderNotSafe);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"), trusted ? "/dev/program" : "");
    EXPECT_THAT(notices_, SizeIs(trusted ? 0 : 1));
    EXPECT_THAT(notices_, Each(HasSubstr("is ignored: other users can change the folder " +
                                         culprit.string() + ". Put site-wide settings in ")));
  }
}

#endif

}  // namespace
}  // namespace orv
