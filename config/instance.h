#pragma once

// One controller of several at a site: the service's instance orvandel@NAME, with a folder, a
// settings file and a socket of its own beside the plain service's, which stays the site with one
// controller.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace orv {

inline constexpr std::size_t kMaxInstanceNameLength = 32;
// Where the sockets' folders are: the plain service's socket and each instance's folder.
inline constexpr char kSiteRunFolder[] = "/run/orvandel";

// Why name cannot name an instance, as a sentence's end ("it has characters other than ...");
// empty when it can. A name is what systemd's %i and the folders take unchanged: lowercase
// letters, digits, '-' and '_', beginning with a letter or digit, at most 32; and none of what
// the plain service keeps in the same folders.
std::string InstanceNameProblem(std::string_view name);

// The whole refusal, naming the option: "--instance "X" cannot name an instance: ...".
std::string InstanceNameRefusal(std::string_view name);

struct InstancePlaces {
  std::filesystem::path state_folder;   // SYSINI and DATA: /var/lib/orvandel/NAME
  std::filesystem::path settings_file;  // /etc/orvandel/NAME.ini, read before the shared file
  std::filesystem::path socket;         // /run/orvandel/NAME/panel.sock
};

// The places of an instance whose name passed InstanceNameProblem.
InstancePlaces PlacesOfInstance(std::string_view name);

}  // namespace orv
