#include "app/instance_options.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "config/instance.h"
#include "platform/users.h"

namespace orv {

void TakeInstancePlaces(ProgramOptions& options) {
  if (!options.instance) return;
  const InstancePlaces places = PlacesOfInstance(*options.instance);
  options.state_folder = places.state_folder;
  std::error_code error;
  // Empty: listening nowhere, rather than at the plain service's socket.
  const bool listening = std::filesystem::is_directory(places.socket.parent_path(), error);
  options.socket = !options.headless || listening ? places.socket.string() : std::string();
}

ServiceSocketChoice WindowSocketChoice(const ProgramOptions& options, bool windowless,
                                       const ChooseInstanceFn& choose,
                                       const std::filesystem::path& run_folder) {
  if (windowless || options.standalone)
    return {options.socket.value_or((run_folder / "panel.sock").string()), false, {}};
  const ServiceSocketChoice choice = ChooseServiceSocket(options.socket, std::nullopt, run_folder);
  if (choice.instances.empty()) return choice;
  const std::optional<std::string> chosen = choose(choice.instances);
  // Only one that was offered.
  const auto& offered = choice.instances;
  if (!chosen || std::find(offered.begin(), offered.end(), *chosen) == offered.end()) return choice;
  return ChooseServiceSocket(std::nullopt, *chosen, run_folder);
}

int SayNoneChosen(const std::vector<std::string>& instances) {
  std::fprintf(stderr, "orvandel: %s\n", SeveralInstancesText(instances).c_str());
  return 2;
}

MqttSettings LoadSiteMqttSettings(const SiteSettings& site, const NoticeFn& notice,
                                  const ProgramOptions& options) {
  return LoadMqttSettings(site, notice, HostName(), options.instance.value_or(""));
}

NotifySettings LoadSiteNotifySettings(const SiteSettings& site, const NoticeFn& notice,
                                      const ProgramOptions& options) {
  NotifySettings settings = LoadNotifySettings(
      [&site](std::string_view section, std::string_view key) { return site.Read(section, key); },
      notice, HostName());
  settings.instance = options.instance.value_or("");
  return settings;
}

SiteFiles SiteFilesOf(const ProgramOptions& options) {
  return SiteFiles(options.site_settings.value_or(std::filesystem::path(kSiteSettingsFile)),
                   options.instance ? PlacesOfInstance(*options.instance).settings_file
                                    : std::filesystem::path());
}

std::string RecordHost(const ProgramOptions& options, const std::string& host_name) {
  return options.instance ? host_name + "/" + *options.instance : std::string();
}

}  // namespace orv
