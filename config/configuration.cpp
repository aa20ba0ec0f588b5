#include "config/configuration.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "link/trigger_states.h"
#include "platform/file_system.h"
#include "platform/leading_number.h"
#include "platform/profile.h"

namespace orv {
namespace {

constexpr std::string_view kSerialGroup = "RS232Config";
constexpr std::string_view kFileGroup = "MainForm";
constexpr std::string_view kSerialSection = "RS232Configure";
constexpr std::string_view kFileSection = "FileConfigure";
// Read capacities: the profile read returns one character less.
constexpr std::size_t kSerialCapacity = 8;
constexpr std::size_t kTextCapacity = 128;

std::string NameKey(const TriggerPage& page, int n) {
  return page.ini_key_prefix + std::to_string(n);
}

std::string DefaultName(const TriggerPage& page, int n) {
  return page.default_name_prefix + std::to_string(n);
}

// Values are cut at a NUL character (a hand-edited file may hold one) and lose surrounding blanks.
std::string CutAtNulAndTrim(std::string value) {
  value.resize(std::min(value.size(), value.find('\0')));
  const std::size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

}  // namespace

Configuration::Configuration(std::filesystem::path program_folder, SiteFiles site_settings_file)
    : FilePathSetting(program_folder.string()),
      program_folder_(std::move(program_folder)),
      site_settings_file_(std::move(site_settings_file)) {
  for (int page = 0; page < kPageCount; ++page) {
    const TriggerPage& description = kTriggerPages[static_cast<std::size_t>(page)];
    std::vector<std::string>& names = Names(page);
    names.clear();
    for (int n = 1; n <= description.size; ++n)
      names.push_back(DefaultName(description, n));
  }
}

std::filesystem::path Configuration::ConfigFolder() const {
  return program_folder_ / "SYSINI";
}

std::filesystem::path Configuration::ConfigFile() const {
  return ConfigFolder() / "MainForm.INI";
}

std::vector<std::string>& Configuration::Names(int page) {
  switch (page) {
    case 1:
      return BusTriggerNames;
    case 2:
      return SoftTriggerNames;
    case 3:
      return BgmNames;
    default:
      return EmgTriggerNames;
  }
}

void Configuration::LoadConfigGroup(const std::string& group) {
  LoadConfigGroups({group});
}

void Configuration::LoadConfigGroups(std::initializer_list<std::string_view> groups) {
  // The folder first, as for a single group; then one reading serves every group.
  if (!EntryExists(ConfigFolder())) CreateFolder(ConfigFolder());
  const ProfileSnapshot file = ReadFile();
  for (const std::string_view group : groups)
    LoadGroup(group, file);
}

ProfileSnapshot Configuration::ReadFile() const {
  ProfileSnapshot file(ConfigFile());
  const std::string problem = file.Problem();
  if (!problem.empty() && notice_) {
    notice_(Notice{NoticeLevel::kWarning,
                   ConfigFile().string() + " " + problem + ": its settings were not read."});
  }
  return file;
}

void Configuration::LoadGroup(std::string_view group, const ProfileSnapshot& file) {
  for (int page = 0; page < kPageCount; ++page) {
    if (group == kTriggerPages[static_cast<std::size_t>(page)].ini_section) {
      LoadNames(page, file);
      return;
    }
  }
  if (group == kSerialGroup) {
    LoadSerialSettings(file);
  } else if (group == kFileGroup) {
    LoadFileSettings(file);
  }
}

void Configuration::LoadNames(int page, const ProfileSnapshot& file) {
  const TriggerPage& description = kTriggerPages[static_cast<std::size_t>(page)];
  std::vector<std::string>& names = Names(page);
  for (int n = 1; n <= description.size; ++n) {
    names[static_cast<std::size_t>(n - 1)] =
        CutAtNulAndTrim(file.Read(description.ini_section, NameKey(description, n),
                                  DefaultName(description, n), kTextCapacity));
  }
}

void Configuration::LoadSerialSettings(const ProfileSnapshot& file) {
  const auto read = [&](std::string_view key, std::string_view default_value) {
    return CutAtNulAndTrim(file.Read(kSerialSection, key, default_value, kSerialCapacity));
  };
  settings_corrected_ = false;

  // Only a port the port list offers is kept; anything else falls back to the first port.
  const long port = LeadingNumber(read("ComPort", "1"));
  if (port >= kFirstComPort && port <= kLastComPort) {
    SerialComPort = static_cast<std::uint8_t>(port);
  } else {
    SerialComPort = kFirstComPort;
    settings_corrected_ = true;
  }

  SerialBaudRate = read("BaudRate", "9600");
  if (std::find(kBaudRates.begin(), kBaudRates.end(), SerialBaudRate) == kBaudRates.end()) {
    SerialBaudRate = "9600";
    settings_corrected_ = true;
  }

  SerialCheckBit = read("CheckBit", "None");
  SerialBitLength = read("BitLength", "8");
  SerialStopBit = read("StopBit", "1");
}

void Configuration::LoadFileSettings(const ProfileSnapshot& file) {
  const auto read = [&](std::string_view key, std::string_view default_value) {
    return CutAtNulAndTrim(file.Read(kFileSection, key, default_value, kTextCapacity));
  };
  FilePathSetting = read("FilePath", program_folder_.string());
  FileNameSetting = read("FileName", "");
  FileTypeSetting = read("FileType", "2");
}

bool Configuration::SaveConfigGroup(const std::string& group) {
  if (group != kSerialGroup) return false;
  // A file that cannot be written keeps the values in memory; every key is still tried.
  const std::filesystem::path file = ConfigFile();
  bool saved = WriteProfileString(kSerialSection, "ComPort", std::to_string(SerialComPort), file);
  saved = WriteProfileString(kSerialSection, "BaudRate", SerialBaudRate, file) && saved;
  saved = WriteProfileString(kSerialSection, "CheckBit", SerialCheckBit, file) && saved;
  saved = WriteProfileString(kSerialSection, "BitLength", SerialBitLength, file) && saved;
  saved = WriteProfileString(kSerialSection, "StopBit", SerialStopBit, file) && saved;
  if (!saved) NotifyUnsaved("the serial settings");
  return saved;
}

void Configuration::NotifyUnsaved(const std::string& what) const {
  if (notice_) {
    notice_(Notice{NoticeLevel::kError,
                   ConfigFile().string() + " cannot be written: " + what + " were not saved."});
  }
}

std::string Configuration::SerialDevice(int port_number) const {
  constexpr std::size_t kPathCapacity = 1024;
  const SiteSettings site(ConfigFile(), notice_, site_settings_file_);
  return CutAtNulAndTrim(
      site.Read("SerialPorts", "COM" + std::to_string(port_number), kPathCapacity));
}

int ParseNoReplySeconds(std::string_view text) {
  const std::optional<long> seconds = WholeNumberIn(text, 0, kNoReplySecondsMax);
  if (!seconds || (*seconds != 0 && *seconds < kNoReplySecondsMin)) return kNoReplySecondsDefault;
  return static_cast<int>(*seconds);
}

int Configuration::NoReplySeconds() const {
  constexpr std::size_t kNumberCapacity = 16;
  const SiteSettings site(ConfigFile(), notice_, site_settings_file_,
                          SiteSettings::FileNotices::kLeaveToOthers);
  return ParseNoReplySeconds(
      CutAtNulAndTrim(site.Read("LinkWatch", "NoReplySeconds", kNumberCapacity)));
}

bool Configuration::SaveName(int page, int n) {
  if (page < 0 || page >= kPageCount) return false;
  const TriggerPage& description = kTriggerPages[static_cast<std::size_t>(page)];
  if (n < 1 || n > description.size) return false;
  const std::string& name = Names(page)[static_cast<std::size_t>(n - 1)];
  if (WriteProfileString(description.ini_section, NameKey(description, n), name, ConfigFile())) {
    return true;
  }
  NotifyUnsaved("the name \"" + name + "\" of " + description.default_name_prefix +
                std::to_string(n));
  return false;
}

}  // namespace orv
