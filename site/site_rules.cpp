#include "site/site_rules.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "site/site.h"

namespace orv::site_rules {
namespace {

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

}  // namespace

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

bool Findings::Unseen(const NodeFacts& node, bool root) {
  if (node.seen) return false;
  Fix(node.path + " cannot be looked at (" + node.problem + ")" +
      (root ? "" : ": run `orvandel --site-check` as root"));
  return true;
}

bool InUse(const std::vector<UnitFacts>& units) {
  return std::any_of(units.begin(), units.end(), [](const UnitFacts& unit) {
    return !unit.known || unit.file_state == "enabled" || unit.active != "inactive";
  });
}

void CheckStateTree(const ServiceFacts& service, bool root, std::string_view start, Findings& out) {
  const NodeFacts& folder = service.state_folder;
  CheckStateNode(folder, root, out);
  if (folder.seen && !folder.exists) {
    out.Fix(folder.path + " is not there: `" + std::string(start) + "` makes it (StateDirectory=)");
  }
  for (const NodeFacts& node : service.state_files)
    CheckStateNode(node, root, out);
}

void CheckSettingsFile(const NodeFacts& node, bool secret, bool root, std::string_view missing,
                       Findings& out) {
  if (out.Unseen(node, root)) return;
  if (!node.exists) {
    out.Note(node.path + " is not there: " + std::string(missing));
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

// Whoever may write the socket's folder may put a socket of their own in the service's place and
// take the PINs the windows send.
void CheckSocketFolder(const NodeFacts& node, bool root, Findings& out) {
  if (out.Unseen(node, root) || !node.exists) return;
  if (node.owner != "root" || (node.mode & (S_IWGRP | S_IWOTH)) != 0 || !S_ISDIR(node.mode)) {
    out.Fix(node.path + " is " + node.owner + ":" + node.group + " " + Octal(node.mode) +
            ", where another user could replace the service's socket: `chown root:root " +
            node.path + "; chmod 0755 " + node.path + "`");
  }
}

void CheckPort(const ServiceFacts& service, const SiteFacts& site, std::string_view map_file,
               Findings& out) {
  const std::string& port = service.port;
  if (port.empty()) return;
  if (service.port_target.empty()) {
    out.Fix(port + ", the service's port, stands for no device: map it in " +
            std::string(map_file) + ", [SerialPorts] " + port + "=/dev/serial/by-id/...");
    return;
  }
  if (service.port_is_network) {
    out.Note(port + " is the network port " + service.port_target + ": not checked here");
    return;
  }
  const NodeFacts& device = service.device;
  if (out.Unseen(device, site.root)) return;
  const std::string named = port + " (" + device.path + ")";
  if (!device.exists) {
    out.Fix(named + " is not there: plug in the adapter, or map " + port +
            " to the device in /dev/serial/by-id/");
    return;
  }
  if (!S_ISCHR(device.mode)) {
    out.Fix(named + " is not a serial device (a character device): map " + port + " to one");
    return;
  }
  const mode_t rw = S_IRUSR | S_IWUSR;
  const bool by_owner = device.owner == kServiceUser && (device.mode & rw) == rw;
  const bool by_group = Has(site.service_groups, device.group) &&
                        (device.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  const bool by_all = (device.mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
  if (!by_owner && !by_group && !by_all) {
    out.Fix(named + " is " + device.owner + ":" + device.group + " " + Octal(device.mode) +
            ", which the user " + kServiceUser + " cannot open: give it to the group " +
            kDevicesGroup + " with read and write (a udev rule: GROUP=\"" + kDevicesGroup +
            "\", MODE=\"0660\")");
  }
}

void CheckUnits(const std::vector<UnitFacts>& units, std::string_view unit_name, Findings& out) {
  const std::string name(unit_name);
  for (const UnitFacts& unit : units) {
    if (!unit.known) {
      out.Fix(unit.name + "'s state cannot be learnt from systemctl: is systemd running?");
      continue;
    }
    if (unit.file_state != "enabled") {
      out.Fix(unit.name + " is " + (unit.file_state.empty() ? "not installed" : unit.file_state) +
              ", not enabled: `systemctl enable --now " + name + "`");
    }
    if (unit.active != "active") {
      out.Fix(unit.name + " is " + unit.active + (unit.sub.empty() ? "" : " (" + unit.sub + ")") +
              ": `systemctl start " + unit.name + "`; `journalctl -u " + unit.name +
              "` says why it stopped");
    }
  }
}

}  // namespace orv::site_rules
