#include "site/site_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "platform/leading_number.h"
#include "site/site.h"
#include "site/site_rules.h"

namespace orv {
namespace {

using site_rules::Findings;
using site_rules::Has;
using site_rules::Joined;

void CheckAccounts(const SiteFacts& facts, Findings& out) {
  const std::string user = kServiceUser, group = kServiceGroup, devices = kDevicesGroup,
                    operators = kSiteOperatorsGroup;
  if (!facts.service_user) {
    out.Fix("there is no user " + user + ": install the package again (it makes the user)");
  } else {
    if (facts.service_primary_group != group) {
      out.Fix("the user " + user + "'s primary group is " + facts.service_primary_group + ", not " +
              group + ": `usermod -g " + group + " " + user + "`");
    }
    if (!Has(facts.service_groups, devices)) {
      out.Fix("the user " + user + " is not in the group " + devices +
              ", so the service cannot open the serial devices: `adduser " + user + " " + devices +
              "`");
    }
  }
  for (const std::string& other : facts.service_group_others) {
    out.Fix(other + " is in the group " + group +
            ", the service's alone, and can read its records: `deluser " + other + " " + group +
            "` (or, where it is " + other + "'s primary group, `usermod -g users " + other + "`)");
  }
  if (!facts.operators_group) {
    out.Fix("there is no group " + operators +
            ", so no operator's window may attach: `addgroup "
            "--system " +
            operators + "`");
    return;
  }
  if (facts.operators.empty()) {
    out.Note("nobody is in the group " + operators + " yet: `adduser NAME " + operators + "`");
  } else {
    out.Note("the operators whose windows may attach (" + operators +
             "): " + Joined(facts.operators));
  }
  for (const std::string& name : facts.devices_group) {
    if (name == user || Has(facts.operators, name)) continue;
    out.Fix(name + " is in " + devices + " but not in " + operators +
            ": the window cannot attach; `adduser " + name + " " + operators + "` and `deluser " +
            name + " " + devices + "`");
  }
}

}  // namespace

std::vector<SiteFinding> CheckSite(const SiteFacts& facts) {
  Findings out;
  if (!facts.root) {
    out.Note("not run as root: what only root may see is said as such; run it as root for all");
  }
  CheckAccounts(facts, out);
  // A site of instances alone keeps the plain service's folders as their parents, its units
  // unused.
  const bool plain_in_use =
      site_rules::InUse(facts.units) ||
      std::none_of(facts.instances.begin(), facts.instances.end(),
                   [](const InstanceFacts& instance) { return site_rules::InUse(instance.units); });
  site_rules::CheckStateTree(facts, facts.root, "systemctl start orvandel", out);
  site_rules::CheckSocketFolder(facts.socket_folder, facts.root, out);
  const std::string shared_file = std::string(kSiteSettingsFolder) + "/orvandel.ini";
  site_rules::CheckSettingsFile(facts.site_settings, false, facts.root,
                                "the port map comes from the service's MainForm.INI", out);
  site_rules::CheckSettingsFile(facts.users_file, true, facts.root,
                                "access levels are off; `orvandel --user-add NAME --level 2` "
                                "makes it",
                                out);
  if (plain_in_use) {
    site_rules::CheckPort(facts, facts, shared_file, out);
    site_rules::CheckUnits(facts.units, "orvandel", out);
  } else {
    out.Note("orvandel.service is not in use: the site runs instances");
  }
  site_rules::CheckInstances(facts, plain_in_use, out);
  return out.Take();
}

UnitFacts ParseUnitShow(const std::string& name, const std::string& text) {
  UnitFacts unit;
  unit.name = name;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "UnitFileState") unit.file_state = value;
    if (key == "ActiveState") unit.active = value;
    if (key == "SubState") unit.sub = value;
  }
  unit.known = !unit.active.empty();
  return unit;
}

std::vector<UnitFacts> ParseUnitsShow(const std::vector<std::string>& names,
                                      const std::string& text) {
  std::vector<UnitFacts> units;
  std::size_t block = 0;
  for (const std::string& name : names) {
    const std::size_t end = std::min(text.find("\n\n", block), text.size());
    units.push_back(ParseUnitShow(name, text.substr(block, end - block)));
    block = std::min(end + 2, text.size());
  }
  return units;
}

std::vector<std::string> ParseInstanceUnits(const std::string& listing) {
  std::vector<std::string> names;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    // The unit's name is the first word that is one (a failed unit's line begins with a mark).
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      if (word.rfind("orvandel@", 0) != 0) continue;
      const std::size_t dot = word.rfind('.');
      if (dot == std::string::npos) break;
      const std::string kind = word.substr(dot), name = word.substr(9, dot - 9);
      if ((kind == ".service" || kind == ".socket") && !name.empty() && !Has(names, name))
        names.push_back(name);
      break;
    }
  }
  return names;
}

std::string ListenPort(const std::string& listen) {
  const std::size_t colon = listen.rfind(':');
  if (colon == std::string::npos) return {};
  const std::optional<long> port =
      WholeNumberIn(std::string_view(listen).substr(colon + 1), 1, 65535);
  return port ? std::to_string(*port) : std::string();
}

}  // namespace orv
