#include "site/site_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "site/site.h"

namespace orv {
namespace {

bool Has(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    text += (text.empty() ? "" : ", ") + name;
  return text;
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

class Findings {
 public:
  void Fix(std::string text) { list_.push_back({true, std::move(text)}); }
  void Note(std::string text) { list_.push_back({false, std::move(text)}); }
  // A node that could not be looked at, said once each, with the way to see it.
  bool Unseen(const NodeFacts& node, bool root) {
    if (node.seen) return false;
    Fix(node.path + " cannot be looked at (" + node.problem + ")" +
        (root ? "" : ": run `orvandel --site-check` as root"));
    return true;
  }
  std::vector<SiteFinding> Take() { return std::move(list_); }

 private:
  std::vector<SiteFinding> list_;
};

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

// The state folder and everything in it: the service's alone, its group reading at most.
void CheckStateNode(const NodeFacts& node, bool root, Findings& out) {
  if (out.Unseen(node, root)) return;
  if (!node.exists) return;
  if (S_ISLNK(node.mode)) {
    out.Fix(node.path + " is a symbolic link, which the service never follows: remove it");
    return;
  }
  if (node.owner != kServiceUser) {
    out.Fix(node.path + " belongs to " + node.owner + ", not " + kServiceUser + ": `chown " +
            kServiceUser + ":" + kServiceGroup + " " + node.path + "`");
  }
  if ((node.mode & (S_IWGRP | S_IRWXO)) != 0) {
    out.Fix(node.path + " is " + Octal(node.mode) +
            ", open to its group's writes or to others: `chmod g-w,o-rwx " + node.path + "`");
  }
  if (node.group != kServiceGroup && (node.mode & S_IRWXG) != 0) {
    out.Fix(node.path + " lets its group " + node.group + " in: `chgrp " + kServiceGroup + " " +
            node.path + "`");
  }
}

// A file of /etc/orvandel: root's, written by root alone; secret: read by no other either.
void CheckSettingsFile(const NodeFacts& node, bool secret, bool root, Findings& out) {
  if (out.Unseen(node, root)) return;
  if (!node.exists) {
    out.Note(node.path + " is not there" +
             (secret ? ": access levels are off; `orvandel --user-add NAME --level 2` makes it"
                     : ": the port map comes from the service's MainForm.INI"));
    return;
  }
  if (!S_ISREG(node.mode)) {
    out.Fix(node.path + " is not a plain file: make it one, root's, mode 0644");
    return;
  }
  if (node.owner != "root") {
    out.Fix(node.path + " belongs to " + node.owner + ", not root: `chown root:root " + node.path +
            "`");
  }
  if ((node.mode & (S_IWGRP | S_IWOTH)) != 0) {
    out.Fix(node.path + " is " + Octal(node.mode) + ", writable by others than root: `chmod go-w " +
            node.path + "`");
  }
  if (secret && (node.mode & S_IRWXO) != 0) {
    out.Fix(node.path + " is " + Octal(node.mode) + ", readable by every user: `chmod o-rwx " +
            node.path + "`");
  }
}

// The socket's folder: whoever may write it may put a socket of their own in the service's
// place and take the PINs the windows send.
void CheckSocketFolder(const NodeFacts& node, bool root, Findings& out) {
  if (out.Unseen(node, root) || !node.exists) return;
  if (node.owner != "root" || (node.mode & (S_IWGRP | S_IWOTH)) != 0 || !S_ISDIR(node.mode)) {
    out.Fix(node.path + " is " + node.owner + ":" + node.group + " " + Octal(node.mode) +
            ", where another user could replace the service's socket: `chown root:root " +
            node.path + "; chmod 0755 " + node.path + "`");
  }
}

void CheckPort(const SiteFacts& facts, Findings& out) {
  if (facts.port.empty()) return;
  if (facts.port_target.empty()) {
    out.Fix(facts.port + ", the service's port, stands for no device: map it in " +
            std::string(kSiteSettingsFolder) + "/orvandel.ini, [SerialPorts] " + facts.port +
            "=/dev/serial/by-id/...");
    return;
  }
  if (facts.port_is_network) {
    out.Note(facts.port + " is the network port " + facts.port_target + ": not checked here");
    return;
  }
  const NodeFacts& device = facts.device;
  if (out.Unseen(device, facts.root)) return;
  const std::string named = facts.port + " (" + device.path + ")";
  if (!device.exists) {
    out.Fix(named + " is not there: plug in the adapter, or map " + facts.port +
            " to the device in /dev/serial/by-id/");
    return;
  }
  if (!S_ISCHR(device.mode)) {
    out.Fix(named + " is not a serial device (a character device): map " + facts.port + " to one");
    return;
  }
  const mode_t rw = S_IRUSR | S_IWUSR;
  const bool by_owner = device.owner == kServiceUser && (device.mode & rw) == rw;
  const bool by_group = Has(facts.service_groups, device.group) &&
                        (device.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  const bool by_all = (device.mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
  if (!by_owner && !by_group && !by_all) {
    out.Fix(named + " is " + device.owner + ":" + device.group + " " + Octal(device.mode) +
            ", which the user " + kServiceUser + " cannot open: give it to the group " +
            kDevicesGroup + " with read and write (a udev rule: GROUP=\"" + kDevicesGroup +
            "\", MODE=\"0660\")");
  }
}

void CheckUnits(const SiteFacts& facts, Findings& out) {
  for (const UnitFacts& unit : facts.units) {
    if (!unit.known) {
      out.Fix(unit.name + "'s state cannot be learnt from systemctl: is systemd running?");
      continue;
    }
    if (unit.file_state != "enabled") {
      out.Fix(unit.name + " is " + (unit.file_state.empty() ? "not installed" : unit.file_state) +
              ", not enabled: `systemctl enable --now orvandel`");
    }
    if (unit.active != "active") {
      out.Fix(unit.name + " is " + unit.active + (unit.sub.empty() ? "" : " (" + unit.sub + ")") +
              ": `systemctl start " + unit.name + "`; `journalctl -u " + unit.name +
              "` says why it stopped");
    }
  }
}

}  // namespace

std::vector<SiteFinding> CheckSite(const SiteFacts& facts) {
  Findings out;
  if (!facts.root) {
    out.Note("not run as root: what only root may see is said as such; run it as root for all");
  }
  CheckAccounts(facts, out);
  CheckStateNode(facts.state_folder, facts.root, out);
  if (facts.state_folder.seen && !facts.state_folder.exists) {
    out.Fix(facts.state_folder.path +
            " is not there: `systemctl start orvandel` makes it (StateDirectory=)");
  }
  for (const NodeFacts& node : facts.state_files)
    CheckStateNode(node, facts.root, out);
  CheckSocketFolder(facts.socket_folder, facts.root, out);
  CheckSettingsFile(facts.site_settings, false, facts.root, out);
  CheckSettingsFile(facts.users_file, true, facts.root, out);
  CheckPort(facts, out);
  CheckUnits(facts, out);
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

}  // namespace orv
