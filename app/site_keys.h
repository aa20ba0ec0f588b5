#pragma once

// Every key of the site's settings in one table: what each may hold, its default, and whether
// the running service takes a change at a reload. The ranges are the rooms' own constants, so
// that the check and the loaders cannot disagree.

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>

#include "config/settings_check.h"
#include "config/site_settings.h"

namespace orv {

std::span<const SiteKey> SiteKeys();

// The table's keys judged, and the notification rules' sections by their own loader.
SettingsCheck CheckSiteSettings(std::span<const SettingsSource> sources);

// The exit status of a service refused for its settings (sysexits' EX_CONFIG): the unit does
// not restart on it, since a restart would meet the same file.
inline constexpr int kExitForBadSettings = 78;

// --check-settings: the report on out, problems reading on err; 0 when nothing is wrong, else 1.
// FILE alone when given, else the keys where the program takes them (site).
int RunCheckSettings(const std::optional<std::filesystem::path>& file, const SiteSettings& site,
                     std::ostream& out, std::ostream& err);

// The service's check at its start: each refusal on err; false when there was one.
bool SiteSettingsAccepted(const SiteSettings& site, std::ostream& err);

// The window runs on whatever the settings say; each wrong value, and what is said about the
// file, goes among its notices, so that a default nobody chose is not taken without a word.
void SayWrongSettings(const SiteSettings& site, const NoticeFn& notice);

// A reload of the site's settings in the running service (SIGHUP): read again and judged; a
// wrong file keeps the running settings and says why; else what a reload can change is applied
// (apply(true)) and each section whose other keys changed is said to wait for the next start;
// apply(false) after a refusal, so that what runs is kept.
class SettingsReload {
 public:
  using ReadFn = std::function<SettingsCheck()>;
  // A line, and whether it is a problem (a warning in the journal) or news.
  using SayFn = std::function<void(const std::string&, bool problem)>;
  SettingsReload(ReadFn read, SayFn say, std::function<void(bool taken)> apply);
  void Reload();

 private:
  ReadFn read_;
  SayFn say_;
  std::function<void(bool taken)> apply_;
  SettingsCheck running_;
};

}  // namespace orv
