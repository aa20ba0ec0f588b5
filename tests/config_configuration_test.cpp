#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "platform/profile.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using namespace std::string_literals;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const std::vector<std::string> kAllGroups = {"MainForm", "RS232Config", "ETrgName",
                                             "BTrgName", "VTrgName",    "BGMName"};

class ConfigurationTest : public ::testing::Test {
 protected:
  ConfigurationTest() : config_(folder_.path()) {}

  // Writes the file as given (creating SYSINI) and loads every group into a fresh object.
  void LoadFrom(const std::string& content) {
    std::filesystem::create_directories(config_.ConfigFolder());
    WriteBytes(config_.ConfigFile(), content);
    config_ = Configuration(folder_.path());
    for (const std::string& group : kAllGroups)
      config_.LoadConfigGroup(group);
  }

  TempFolder folder_;
  Configuration config_;
};

TEST_F(ConfigurationTest, PathsLieUnderTheProgramFolder) {
  EXPECT_EQ(config_.ConfigFolder(), folder_.path() / "SYSINI");
  EXPECT_EQ(config_.ConfigFile(), folder_.path() / "SYSINI" / "MainForm.INI");
}

void ExpectDefaultNames(Configuration& config) {
  struct Page {
    const char* prefix;
    std::size_t size;
  };
  const std::vector<Page> pages = {
      {"EMG Trigger ", 60}, {"BUS Trigger ", 60}, {"Soft Trigger ", 120}, {"BGM ", 60}};
  for (int page = 0; page < 4; ++page) {
    const Page& p = pages[static_cast<std::size_t>(page)];
    ASSERT_EQ(config.Names(page).size(), p.size) << "page " << page;
    for (std::size_t n = 1; n <= p.size; ++n)
      EXPECT_EQ(config.Names(page)[n - 1], p.prefix + std::to_string(n));
  }
}

TEST_F(ConfigurationTest, FirstStartReadsDefaultsCreatesTheFolderAndWritesNothing) {
  ASSERT_FALSE(std::filesystem::exists(config_.ConfigFolder()));
  config_.LoadConfigGroup("MainForm");
  EXPECT_TRUE(std::filesystem::is_directory(config_.ConfigFolder()));
  for (const std::string& group : kAllGroups)
    config_.LoadConfigGroup(group);

  EXPECT_FALSE(std::filesystem::exists(config_.ConfigFile()));
  EXPECT_TRUE(std::filesystem::is_empty(config_.ConfigFolder()));
  EXPECT_EQ(config_.SerialComPort, 1);
  EXPECT_EQ(config_.SerialBaudRate, "9600");
  EXPECT_EQ(config_.SerialCheckBit, "None");
  EXPECT_EQ(config_.SerialBitLength, "8");
  EXPECT_EQ(config_.SerialStopBit, "1");
  EXPECT_FALSE(config_.settings_corrected());
  EXPECT_EQ(config_.FilePathSetting, folder_.path().string());
  EXPECT_EQ(config_.FileNameSetting, "");
  EXPECT_EQ(config_.FileTypeSetting, "2");
  ExpectDefaultNames(config_);
}

TEST_F(ConfigurationTest, PortNumberIsItsLeadingNumberOrFallsBackToOne) {
  struct Case {
    std::string stored;
    int port;
    bool corrected;
  };
  const std::vector<Case> cases = {
      {" 3 ", 3, false},
      {"3abc", 3, false},
      {"10", 10, false},
      {"+7", 7, false},
      {"2.5", 2, false},
      {"2.6", 3, false},
      {"3\0"
       "9"s,
       3, false},
      {"COM3", 1, true},
      {"0", 1, true},
      {"11", 1, true},
      {"-1", 1, true},
      {"300", 1, true},
      {"256", 1, true},
      {"99999999999", 1, true},
      {"", 1, true},
      {"0000003", 3, false},
      {"00000003", 1, true},  // cut to 7 characters: "0000000"
      {"3.5", 4, false},
      {"9.51", 10, false},
      {"10.5", 10, false},
      {"0.7", 1, false},
      {".", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("stored \"" + c.stored + "\"");
    LoadFrom("[RS232Configure]\r\nComPort=" + c.stored + "\r\n");
    EXPECT_EQ(config_.SerialComPort, c.port);
    EXPECT_EQ(config_.settings_corrected(), c.corrected);
  }
}

TEST_F(ConfigurationTest, BaudRateMustBeOneOfTheListedRates) {
  struct Case {
    const char* stored;
    const char* rate;
    bool corrected;
  };
  const std::vector<Case> cases = {
      {"115200", "115200", false}, {"  19200 ", "19200", false}, {"1200", "1200", false},
      {"14400", "9600", true},     {"57600", "9600", true},      {"", "9600", true},
      {"9600x", "9600", true},     {"11520000", "9600", true},  // cut to "1152000"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    LoadFrom("[RS232Configure]\r\nComPort=2\r\nBaudRate="s + c.stored + "\r\n");
    EXPECT_EQ(config_.SerialBaudRate, c.rate);
    EXPECT_EQ(config_.settings_corrected(), c.corrected);
    EXPECT_EQ(config_.SerialComPort, 2);
  }
}

TEST_F(ConfigurationTest, CorrectionReflectsTheLatestSerialLoad) {
  LoadFrom("[RS232Configure]\r\nComPort=12\r\n");
  EXPECT_TRUE(config_.settings_corrected());
  WriteBytes(config_.ConfigFile(), "[RS232Configure]\r\nComPort=4\r\n");
  config_.LoadConfigGroup("RS232Config");
  EXPECT_FALSE(config_.settings_corrected());
  EXPECT_EQ(config_.SerialComPort, 4);
}

TEST_F(ConfigurationTest, OtherSerialAndFileValuesAreTextCutAndTrimmed) {
  LoadFrom(
      "[rs232configure]\r\n"
      "checkbit= Even \r\nBITLENGTH=7\r\nStopBit=TwoTwoTwo\r\n"
      "[FileConfigure]\r\n"
      "FilePath=/data/orv\r\nFileName=log\0tail\r\nFileType=\r\n"s);
  EXPECT_EQ(config_.SerialCheckBit, "Even");
  EXPECT_EQ(config_.SerialBitLength, "7");
  EXPECT_EQ(config_.SerialStopBit, "TwoTwoT");
  EXPECT_EQ(config_.FilePathSetting, "/data/orv");
  EXPECT_EQ(config_.FileNameSetting, "log");
  EXPECT_EQ(config_.FileTypeSetting, "");
}

TEST_F(ConfigurationTest, NamesAreReadPerPageWithTheirDefaults) {
  const std::string long_name(200, 'n');
  LoadFrom(
      "[ETrgName]\r\nETRG 1=  Lobby  \r\nETRG 2=\r\nETRG 60=Last\r\n"
      "[btrgname]\r\nbtrg 12=Car park\r\n"
      "[VTrgName]\r\nVTRG 120=" +
      long_name +
      "\r\nVTRG 5=Hall\0junk\r\n"s
      "[BGMName]\r\nBGM 5=Radio \xE9t\xE9\r\n");
  EXPECT_EQ(config_.EmgTriggerNames[0], "Lobby");
  EXPECT_EQ(config_.EmgTriggerNames[1], "");  // present but empty: not the default
  EXPECT_EQ(config_.EmgTriggerNames[2], "EMG Trigger 3");
  EXPECT_EQ(config_.EmgTriggerNames[59], "Last");
  EXPECT_EQ(config_.BusTriggerNames[11], "Car park");
  EXPECT_EQ(config_.BusTriggerNames[10], "BUS Trigger 11");
  EXPECT_EQ(config_.SoftTriggerNames[119], long_name.substr(0, 127));
  EXPECT_EQ(config_.SoftTriggerNames[4], "Hall");
  EXPECT_EQ(config_.BgmNames[4], "Radio \u00E9t\u00E9");
  EXPECT_EQ(config_.BgmNames[5], "BGM 6");
}

TEST_F(ConfigurationTest, UnknownGroupsLoadNothingButStillMakeTheFolder) {
  const std::string content =
      "[RS232Configure]\r\nComPort=5\r\n[FileConfigure]\r\nFileName=x\r\n"
      "[ETrgName]\r\nETRG 1=Named\r\n";
  for (const std::string group : {"rs232config", "RS232Configure", "FileConfigure", "ETRGNAME", "",
                                  "MainForm.INI", "ETrgName "}) {
    SCOPED_TRACE("group \"" + group + "\"");
    std::filesystem::remove_all(config_.ConfigFolder());
    Configuration config(folder_.path());
    config.LoadConfigGroup(group);
    EXPECT_TRUE(std::filesystem::is_directory(config.ConfigFolder()));
    WriteBytes(config.ConfigFile(), content);
    config.LoadConfigGroup(group);
    EXPECT_EQ(config.SerialComPort, 1);
    EXPECT_EQ(config.FileNameSetting, "");
    EXPECT_EQ(config.EmgTriggerNames[0], "EMG Trigger 1");
  }
}

TEST_F(ConfigurationTest, EachGroupLoadsOnlyItsOwnSection) {
  std::filesystem::create_directories(config_.ConfigFolder());
  WriteBytes(config_.ConfigFile(),
             "[RS232Configure]\r\nComPort=5\r\n[ETrgName]\r\nETRG 1=E\r\n[BGMName]\r\nBGM 1=B\r\n");
  config_.LoadConfigGroup("ETrgName");
  EXPECT_EQ(config_.EmgTriggerNames[0], "E");
  EXPECT_EQ(config_.BgmNames[0], "BGM 1");
  EXPECT_EQ(config_.SerialComPort, 1);
  config_.LoadConfigGroup("RS232Config");
  EXPECT_EQ(config_.SerialComPort, 5);
  EXPECT_EQ(config_.BgmNames[0], "BGM 1");
}

TEST_F(ConfigurationTest, SavingSerialSettingsToANewFileWritesFiveKeysInOrder) {
  config_.LoadConfigGroup("RS232Config");
  config_.SerialComPort = 3;
  config_.SerialBaudRate = "19200";
  config_.SaveConfigGroup("RS232Config");
  EXPECT_EQ(ReadBytes(config_.ConfigFile()),
            "[RS232Configure]\r\nComPort=3\r\nBaudRate=19200\r\nCheckBit=None\r\n"
            "BitLength=8\r\nStopBit=1\r\n");

  Configuration reloaded(folder_.path());
  reloaded.LoadConfigGroup("RS232Config");
  EXPECT_EQ(reloaded.SerialComPort, 3);
  EXPECT_EQ(reloaded.SerialBaudRate, "19200");
}

TEST_F(ConfigurationTest, SavingReplacesValuesInPlaceAndKeepsEverythingElse) {
  const std::string before =
      "; hand-written notes\r\n[FileConfigure]\r\nFilePath=C:\\Orv\r\n\r\n"
      "[RS232Configure]\r\nbaudrate = 9600\r\nCOMPORT=1\r\nCheckBit=Even\r\nStopBit=2\r\n"
      "Extra=keep me\r\n\r\n[Unknown]\r\nx=y\r\n";
  LoadFrom(before);
  config_.SerialComPort = 10;
  config_.SerialBaudRate = "115200";
  config_.SaveConfigGroup("RS232Config");
  EXPECT_EQ(ReadBytes(config_.ConfigFile()),
            "; hand-written notes\r\n[FileConfigure]\r\nFilePath=C:\\Orv\r\n\r\n"
            "[RS232Configure]\r\nbaudrate =115200\r\nCOMPORT=10\r\nCheckBit=Even\r\nStopBit=2\r\n"
            "Extra=keep me\r\nBitLength=8\r\n\r\n[Unknown]\r\nx=y\r\n");
}

TEST_F(ConfigurationTest, OnlyTheSerialGroupIsEverSaved) {
  std::filesystem::create_directories(config_.ConfigFolder());
  for (const std::string group : {"MainForm", "ETrgName", "BGMName", "rs232config", ""})
    config_.SaveConfigGroup(group);
  EXPECT_FALSE(std::filesystem::exists(config_.ConfigFile()));
}

TEST_F(ConfigurationTest, SaveWithoutTheFolderFailsQuietlyAndCreatesNothing) {
  config_.SaveConfigGroup("RS232Config");
  config_.SaveName(3, 1);
  EXPECT_FALSE(std::filesystem::exists(config_.ConfigFolder()));
}

TEST_F(ConfigurationTest, SavedNamesGoToTheirPageSectionAndReadBackAtNextStart) {
  struct Case {
    int page;
    int n;
    const char* section;
    const char* key;
  };
  const std::vector<Case> cases = {
      {0, 7, "ETrgName", "ETRG 7"},     {1, 60, "BTrgName", "BTRG 60"},
      {2, 120, "VTrgName", "VTRG 120"}, {3, 5, "BGMName", "BGM 5"},
      {3, 1, "BGMName", "BGM 1"},
  };
  for (const std::string& group : kAllGroups)
    config_.LoadConfigGroup(group);
  for (const Case& c : cases) {
    const std::string name = "Name " + std::to_string(c.page) + "/" + std::to_string(c.n);
    config_.Names(c.page)[static_cast<std::size_t>(c.n - 1)] = name;
    config_.SaveName(c.page, c.n);
    EXPECT_EQ(ReadProfileString(c.section, c.key, "<missing>", 128, config_.ConfigFile()), name);
  }

  Configuration next_start(folder_.path());
  for (const std::string& group : kAllGroups)
    next_start.LoadConfigGroup(group);
  for (const Case& c : cases) {
    EXPECT_EQ(next_start.Names(c.page)[static_cast<std::size_t>(c.n - 1)],
              "Name " + std::to_string(c.page) + "/" + std::to_string(c.n));
  }
  EXPECT_EQ(next_start.BgmNames[1], "BGM 2");
}

TEST_F(ConfigurationTest, SaveNameOutsideItsPageDoesNothing) {
  std::filesystem::create_directories(config_.ConfigFolder());
  config_.SaveName(0, 0);
  config_.SaveName(0, 61);
  config_.SaveName(2, 121);
  config_.SaveName(4, 1);
  config_.SaveName(-1, 1);
  EXPECT_FALSE(std::filesystem::exists(config_.ConfigFile()));
}

TEST_F(ConfigurationTest, GarbageFileReadsDefaults) {
  std::string garbage = "\0\0\0\xFF\xFE=\r\n]]]==\n\n\r"s + std::string(100'000, '\0') + "\n";
  garbage += std::string(500'000, 'x') + "=\n";
  for (int i = 0; i < 4096; ++i)
    garbage.push_back(static_cast<char>(i * 37 % 256 == '[' ? 0 : i * 37 % 256));
  LoadFrom(garbage);
  EXPECT_EQ(config_.SerialComPort, 1);
  EXPECT_EQ(config_.SerialBaudRate, "9600");
  EXPECT_FALSE(config_.settings_corrected());
  ExpectDefaultNames(config_);

  config_.BgmNames[0] = "Music";
  config_.SaveName(3, 1);
  const std::string after = ReadBytes(config_.ConfigFile());
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  // The last garbage line has no line break; one in the file's own style (CRLF) comes first.
  EXPECT_EQ(after.substr(garbage.size()), "\r\n[BGMName]\r\nBGM 1=Music\r\n");
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

TEST(SerialPortsSection, MapsPortNumbersToDevicesAndIsReadAfreshEachTime) {
  test::TempFolder folder;
  Configuration config(folder.path());
  config.LoadConfigGroup("RS232Config");
  EXPECT_EQ(config.SerialDevice(1), "");
  test::WriteBytes(config.ConfigFile(),
                   "[SerialPorts]\r\nCOM1 = /dev/ttyUSB0 \r\ncom10=/dev/pts/7\r\n");
  EXPECT_EQ(config.SerialDevice(1), "/dev/ttyUSB0");
  EXPECT_EQ(config.SerialDevice(10), "/dev/pts/7");
  EXPECT_EQ(config.SerialDevice(2), "");
  test::WriteBytes(config.ConfigFile(), "[SerialPorts]\r\nCOM1=/dev/ttyACM0\r\n");
  EXPECT_EQ(config.SerialDevice(1), "/dev/ttyACM0");
}

}  // namespace
}  // namespace orv
