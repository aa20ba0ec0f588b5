#pragma once

// --instance NAME made into what it names (config/instance.h): one controller of several, each
// with a folder, a settings file and a socket of its own.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "attach/service_probe.h"
#include "config/site_settings.h"
#include "mqtt/mqtt_settings.h"
#include "notify/notify_rules.h"

namespace orv {

// The instance's folder and socket where --state-folder and --socket would put theirs. The
// service listens at the socket only where its folder is (the socket unit makes it, as it makes
// /run/orvandel for the plain one); a window attaches there, or says why it cannot.
void TakeInstancePlaces(ProgramOptions& options);

// The operator's pick of one of several instances' names; nothing when they pick none.
using ChooseInstanceFn =
    std::function<std::optional<std::string>(const std::vector<std::string>& names)>;

// Where a window attaches: the socket named (--socket, --instance), else the plain service's,
// else the one instance running; of several, the one the operator chooses, else none, with
// their names. A program without a window, or a window on its own line (--standalone), attaches
// nowhere; its socket is the one named or the plain service's (where the service listens).
ServiceSocketChoice WindowSocketChoice(
    const ProgramOptions& options, bool windowless, const ChooseInstanceFn& choose,
    const std::filesystem::path& run_folder = std::filesystem::path(kSiteRunFolder));

// Of several instances none was chosen: says which run, and the program's exit status (2).
int SayNoneChosen(const std::vector<std::string>& instances);

// The broker's settings, below /NAME for an instance (LoadMqttSettings).
MqttSettings LoadSiteMqttSettings(const SiteSettings& site, const NoticeFn& notice,
                                  const ProgramOptions& options);

// The site's notification rules, each message naming the instance.
NotifySettings LoadSiteNotifySettings(const SiteSettings& site, const NoticeFn& notice,
                                      const ProgramOptions& options);

// --site-settings or the shared file, with the instance's own read before it.
SiteFiles SiteFilesOf(const ProgramOptions& options);

// The host every record of the journal carries: this machine's name, with "/NAME" for an
// instance. The journal's records then say whose controller they are wherever they go (an
// export, the broker, a web panel), the chain seals it, and EventLog.txt, which has no host,
// keeps its format; its file is the instance's own.
std::string RecordHost(const ProgramOptions& options, const std::string& host_name);

}  // namespace orv
