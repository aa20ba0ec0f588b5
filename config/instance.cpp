#include "config/instance.h"

#include <algorithm>
#include <array>

namespace orv {
namespace {

// What the plain service keeps where an instance's folder or file would go: its folders in
// /var/lib/orvandel (as a case-blind file system would see them) and its settings, whose file
// /etc/orvandel/orvandel.ini is the one every instance shares.
constexpr std::array<std::string_view, 3> kTaken = {"data", "sysini", "orvandel"};

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

std::string InstanceNameProblem(std::string_view name) {
  if (name.empty()) return "it is empty";
  if (name.size() > kMaxInstanceNameLength)
    return "it is longer than " + std::to_string(kMaxInstanceNameLength) + " characters";
  if (!std::all_of(name.begin(), name.end(), IsNameCharacter))
    return "it may have only lowercase letters, digits, '-' and '_'";
  if (name.front() == '-' || name.front() == '_')
    return "it must begin with a lowercase letter or a digit";
  if (std::find(kTaken.begin(), kTaken.end(), name) != kTaken.end())
    return "the plain service's files use that name";
  return {};
}

std::string InstanceNameRefusal(std::string_view name) {
  return "--instance \"" + std::string(name) +
         "\" cannot name an instance: " + InstanceNameProblem(name);
}

InstancePlaces PlacesOfInstance(std::string_view name) {
  const std::string n(name);
  return {std::filesystem::path("/var/lib/orvandel") / n,
          std::filesystem::path("/etc/orvandel") / (n + ".ini"),
          std::filesystem::path(kSiteRunFolder) / n / "panel.sock"};
}

}  // namespace orv
