// Configuration: the six groups read at start-up, what it makes of their values, what it saves,
// and what it says of a settings file it cannot use.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "tests/temp_folder.h"

#include "tests/odd_files.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using test::WriteBytes;

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

TEST_F(ConfigurationTest, FirstStartLoadsDefaultsAndUnknownGroupsLoadNothing) {
  LoadAll(config_);
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
}

}  // namespace
}  // namespace orv
