// The instances' rules: the plain service's where they make sense, each finding naming the
// instance, and what two services may not share.
#include <string>
#include <utility>
#include <vector>

#include "config/instance.h"
#include "site/site.h"
#include "site/site_rules.h"

namespace orv::site_rules {
namespace {

void CheckMisnamed(const SiteFacts& facts, Findings& out) {
  for (const std::string& path : facts.misnamed_settings) {
    const std::string file = path.substr(path.rfind('/') + 1);
    const std::string name = file.substr(0, file.size() - 4);  // without ".ini"
    out.Fix(path + " is read by no instance, since \"" + name + "\" cannot name one (" +
            InstanceNameProblem(name) + "): rename it NAME.ini after the instance, or remove it");
  }
  for (const std::string& name : facts.misnamed_units) {
    out.Fix("orvandel@" + name + " cannot run, since \"" + name + "\" cannot name an instance (" +
            InstanceNameProblem(name) + "): `systemctl disable --now orvandel@" + name + "`");
  }
}

void CheckInstance(const InstanceFacts& instance, const SiteFacts& site, Findings& out) {
  const std::string unit = "orvandel@" + instance.name;
  CheckSettingsFile(instance.settings, false, site.root,
                    "every setting comes from orvandel.ini, the port map too", out);
  if (!InUse(instance.units)) {
    // Records no service keeps, or settings no service reads: one left behind, or one forgotten.
    const NodeFacts& there =
        instance.state_folder.exists ? instance.state_folder : instance.settings;
    if (there.exists) {
      out.Fix(there.path + " is there, but no unit of the instance is enabled or running: " +
              "`systemctl enable --now " + unit + "`, or move it away if its controller is gone");
    }
    if (instance.state_folder.exists) CheckStateTree(instance, site.root, "", out);
    return;
  }
  CheckStateTree(instance, site.root, "systemctl start " + unit, out);
  CheckSocketFolder(instance.socket_folder, site.root, out);
  CheckPort(instance, site, instance.settings.path, out);
  CheckUnits(instance.units, unit, out);
}

// Two services in use that name one line, or one web panel port: the later one is told, naming
// the earlier. The plain service comes first, so an instance is always the one told.
void CheckShared(const SiteFacts& site, bool plain_in_use, Findings& out) {
  struct User {
    std::string who;
    const ServiceFacts* service;
    std::string settings_file;
  };
  std::vector<User> users;
  if (plain_in_use) users.push_back({"the plain service", &site, site.site_settings.path});
  for (const InstanceFacts& instance : site.instances) {
    if (InUse(instance.units))
      users.push_back({"instance " + instance.name, &instance, instance.settings.path});
  }
  for (std::size_t i = 0; i < users.size(); ++i) {
    const ServiceFacts& later = *users[i].service;
    out.set_prefix(users[i].who + ": ");
    for (std::size_t j = 0; j < i; ++j) {
      if (later.line.empty() || later.line != users[j].service->line) continue;
      out.Fix(later.port + " (" + later.port_target + ") is " + users[j].who +
              "'s line as well, and only one of them can hold it: map " + later.port +
              " to a device of its own in " + users[i].settings_file);
      break;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (later.web_port.empty() || later.web_port != users[j].service->web_port) continue;
      out.Fix("its web panel's port " + later.web_port + " ([WebPanel] Listen=) is " +
              users[j].who + "'s as well, and only one of them can listen there: give it a port " +
              "of its own in " + users[i].settings_file);
      break;
    }
  }
  out.set_prefix("");
}

}  // namespace

void CheckInstances(const SiteFacts& facts, bool plain_in_use, Findings& out) {
  CheckMisnamed(facts, out);
  for (const InstanceFacts& instance : facts.instances) {
    out.set_prefix("instance " + instance.name + ": ");
    CheckInstance(instance, facts, out);
  }
  out.set_prefix("");
  CheckShared(facts, plain_in_use, out);
}

}  // namespace orv::site_rules
