#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "config/site_settings.h"
#include "platform/notice.h"
#include "platform/profile.h"

namespace orv {

// The baud rates the program offers; a stored rate outside this list cannot be selected.
inline constexpr std::array<std::string_view, 8> kBaudRates{"1200",  "2400",  "4800",  "9600",
                                                            "19200", "28800", "38400", "115200"};
inline constexpr std::uint8_t kFirstComPort = 1;
inline constexpr std::uint8_t kLastComPort = 10;

// The link watch's time without a valid frame before the link shows as lost, from its text: a
// whole number of seconds from kNoReplySecondsMin to kNoReplySecondsMax, or 0 for no watch;
// anything else (missing, out of range, not a plain number) gives kNoReplySecondsDefault.
inline constexpr int kNoReplySecondsDefault = 5;
inline constexpr int kNoReplySecondsMin = 2;
inline constexpr int kNoReplySecondsMax = 100;
int ParseNoReplySeconds(std::string_view text);

// The settings file MainForm.INI in the folder SYSINI beside the program: serial settings, file
// settings and the names of the triggers and BGM channels. Nothing is cached between calls: every
// load reads the file anew (once, however many groups it fills), every save rewrites it, and a
// missing file, section or key simply yields the default. A file that is there but is not read (a
// FIFO, a device, one above the size bound) yields the defaults too, with a notice.
class Configuration {
 public:
  // site_settings_file: where the site-wide settings are kept (tests put one of their own).
  explicit Configuration(std::filesystem::path program_folder, SiteFiles site_settings_file = {});

  std::filesystem::path ConfigFolder() const;
  std::filesystem::path ConfigFile() const;

  // Fills one group from the file: "MainForm" (file settings), "RS232Config" (serial settings),
  // or one page's names ("ETrgName", "BTrgName", "VTrgName", "BGMName"). Any other name loads
  // nothing. Creates the configuration folder first if it is missing.
  void LoadConfigGroup(const std::string& group);
  // Fills several groups, in order, from one reading of the file: start-up's way of loading.
  void LoadConfigGroups(std::initializer_list<std::string_view> groups);
  // Writes the serial settings for "RS232Config"; every other group is never written here.
  // False (and a notice) when the file could not take them.
  bool SaveConfigGroup(const std::string& group);
  // Writes name n (1..size) of a page (0..3) to that page's section; out-of-range calls do
  // nothing. False (and a notice, for a real name) when it was not written.
  bool SaveName(int page, int n);
  // Where failed saves, and files that are there but could not be read, are reported.
  void set_notice(NoticeFn notice) { notice_ = std::move(notice); }
  // The device that port n stands for: key "COM<n>" of the "SerialPorts" section, read afresh
  // at every call so that an edit takes effect at the next connect; empty when not mapped. The
  // port map is a site-wide setting: it is read through SiteSettings, from this file only while
  // other users cannot change it, else from the site file.
  std::string SerialDevice(int port_number) const;
  // Key "NoReplySeconds" of the "LinkWatch" section, a site-wide setting read like the port map
  // and at the same moment (a connect), which says what is wrong with the files themselves.
  int NoReplySeconds() const;

  // Names of a page (0 EMG, 1 business, 2 soft, 3 BGM), name n at index n - 1.
  std::vector<std::string>& Names(int page);
  const std::vector<std::string>& Names(int page) const {
    return const_cast<Configuration*>(this)->Names(page);
  }

  // True when the last serial load found a port or baud rate that cannot be selected and put its
  // default in its place, so that the caller can treat the settings as changed.
  bool settings_corrected() const { return settings_corrected_; }

  std::uint8_t SerialComPort = 1;
  std::string SerialBaudRate = "9600";
  std::string SerialCheckBit = "None";
  std::string SerialBitLength = "8";
  std::string SerialStopBit = "1";
  std::string FilePathSetting;
  std::string FileNameSetting;
  std::string FileTypeSetting = "2";
  std::vector<std::string> EmgTriggerNames;
  std::vector<std::string> BusTriggerNames;
  std::vector<std::string> SoftTriggerNames;
  std::vector<std::string> BgmNames;

 private:
  void LoadGroup(std::string_view group, const ProfileSnapshot& file);
  void LoadSerialSettings(const ProfileSnapshot& file);
  void LoadFileSettings(const ProfileSnapshot& file);
  void LoadNames(int page, const ProfileSnapshot& file);
  // A snapshot of the file; a file that is there but was not read is reported once, here.
  ProfileSnapshot ReadFile() const;
  void NotifyUnsaved(const std::string& what) const;

  std::filesystem::path program_folder_;
  SiteFiles site_settings_file_;
  bool settings_corrected_ = false;
  NoticeFn notice_;
};

}  // namespace orv
