#pragma once

// A site's installation as the package and its units make it: where the service keeps its
// records and its socket, and which accounts and groups it stands on.

#include <filesystem>
#include <string>

namespace orv {

inline constexpr char kSiteStateFolder[] = "/var/lib/orvandel";
inline constexpr char kSiteSocket[] = "/run/orvandel/panel.sock";
inline constexpr char kSiteSettingsFolder[] = "/etc/orvandel";
inline constexpr char kServiceUser[] = "orvandel";
inline constexpr char kServiceGroup[] = "orvandel";
inline constexpr char kDevicesGroup[] = "dialout";
inline constexpr char kSiteOperatorsGroup[] = "orvandel-operators";

// Where a site would be; tests put theirs elsewhere.
struct SitePlaces {
  std::filesystem::path socket = kSiteSocket;
  std::filesystem::path state_folder = kSiteStateFolder;
};

// A site is installed where its socket is (a socket node, not followed: what a socket unit
// makes), or, for root, where the service's DATA folder is, which only root may look into.
bool SiteInstalled(const SitePlaces& places, bool root);

// Root becomes the service's user, with its group and supplementary groups, for good: what it
// runs from then on runs as the service's would. False, with why, when it cannot.
bool BecomeServiceUser(std::string& why);

}  // namespace orv
