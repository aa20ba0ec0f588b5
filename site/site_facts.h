#pragma once

// The facts of this machine's site, gathered for CheckSite, and the command that reports them.

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "site/site.h"
#include "site/site_check.h"

namespace orv {

// The node as lstat sees it (stat where follow is set: a device's name in /dev/serial is a link).
NodeFacts LookAt(const std::filesystem::path& path, bool follow = false);
// Every node below folder, folders first, none followed; a folder that cannot be read is one
// unseen node.
std::vector<NodeFacts> LookBelow(const std::filesystem::path& folder);
// The accounts in group: its listed members and those whose primary group it is, sorted.
std::vector<std::string> AccountsInGroup(const std::string& group);

// Where the site is; an instance NAME's places are NAME in the state and socket folders and
// NAME.ini beside the shared settings.
struct SitePaths {
  std::filesystem::path state_folder = kSiteStateFolder;
  std::filesystem::path socket_folder = std::filesystem::path(kSiteSocket).parent_path();
  std::filesystem::path site_settings = std::string(kSiteSettingsFolder) + "/orvandel.ini";
  std::filesystem::path users_file = std::string(kSiteSettingsFolder) + "/users";
};

// The site's facts: the instances are those systemd has units of (unit_listings: the output of
// `systemctl list-units` and `list-unit-files` for orvandel@*), the folders in the state folder
// and the NAME.ini files beside the shared settings. The units' states come from systemctl.
SiteFacts GatherSiteFacts(const SitePaths& paths, const std::string& unit_listings);

// --site-check: one line per finding on out ("fix: ..." or "note: ..."), then a summary; the
// exit status, 0 when nothing is to be fixed, 1 otherwise.
int RunSiteCheck(std::ostream& out);

}  // namespace orv
