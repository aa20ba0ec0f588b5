// The settings file from the bottom up: file helpers, text encoding, profile file, Configuration.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using test::ReadBytes;
using test::WriteBytes;

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

void LoadAll(Configuration& config) {
  for (const char* g : {"MainForm", "RS232Config", "ETrgName", "BTrgName", "VTrgName", "BGMName"})
    config.LoadConfigGroup(g);
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

}  // namespace
}  // namespace orv
