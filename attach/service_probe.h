#pragma once

// Whether this machine is a site, as a window sees it at its start, before anything of the
// network is loaded: plain POSIX rather than Qt Network.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/instance.h"

namespace orv {

// True when a socket node is at path (lstat: a link to one does not count). Whether anything
// answers there does not matter: a window at a site attaches, or says why it cannot, and never
// opens the line itself.
bool SiteSocketPresent(const std::string& path);

// The instances whose socket is in run_folder (NAME/panel.sock, a socket node), by name; folders
// with a name no instance can have are passed over.
std::vector<std::string> RunningInstances(
    const std::filesystem::path& run_folder = std::filesystem::path(kSiteRunFolder));

// Which service a window or orvandelctl asks.
struct ServiceSocketChoice {
  std::string socket;  // empty when several instances run and none is named
  // The socket was named (--socket, --instance) or found: attach there, or say why not; never
  // open the line.
  bool attach = false;
  std::vector<std::string> instances;  // several running, none named: their names
};

// The socket named, else the instance's, else the plain service's where it is there (a site with
// one controller stays as it was), else the one instance running. Several running: none, with
// their names. Nothing there: the plain service's, not found.
ServiceSocketChoice ChooseServiceSocket(
    const std::optional<std::string>& socket, const std::optional<std::string>& instance,
    const std::filesystem::path& run_folder = std::filesystem::path(kSiteRunFolder));

// "several instances run here (a, b): name one with --instance NAME".
std::string SeveralInstancesText(const std::vector<std::string>& instances);

}  // namespace orv
