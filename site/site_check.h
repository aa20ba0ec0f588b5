#pragma once

// What an installer must fix at a site, worked out from facts gathered beforehand (accounts,
// files, the port's device, the units' states), so that every rule is tried without a system
// to break. One finding a line, in words, each with what to do.

#include <sys/types.h>

#include <string>
#include <vector>

namespace orv {

// A file, folder or device as lstat (stat for a device, whose name is usually a link in
// /dev/serial) saw it.
struct NodeFacts {
  std::string path;
  bool seen = false;    // false: it could not be looked at (see problem)
  bool exists = false;  // with seen: false when it is not there
  std::string problem;  // why it could not be looked at ("Permission denied")
  mode_t mode = 0;      // type and permission bits
  std::string owner;    // user name
  std::string group;    // group name
};

// A systemd unit as `systemctl show` says it; known false when it could not be asked.
struct UnitFacts {
  std::string name;
  bool known = false;
  std::string file_state;  // UnitFileState: enabled, disabled, ...
  std::string active;      // ActiveState: active, inactive, failed, ...
  std::string sub;         // SubState: running, listening, dead, ...
};

struct SiteFacts {
  bool root = false;
  // The service's account: whether it exists, its primary group, every group it is in.
  bool service_user = false;
  std::string service_primary_group;
  std::vector<std::string> service_groups;
  // The other accounts in the service's group (its listed members, or whose primary group it
  // is), who could read the records.
  std::vector<std::string> service_group_others;
  bool operators_group = false;
  std::vector<std::string> operators;      // the operators' group's accounts
  std::vector<std::string> devices_group;  // the devices group's accounts
  NodeFacts state_folder;
  std::vector<NodeFacts> state_files;  // everything below the state folder
  NodeFacts socket_folder;             // /run/orvandel, the socket's folder
  NodeFacts site_settings;             // /etc/orvandel/orvandel.ini
  NodeFacts users_file;                // /etc/orvandel/users
  // The service's port: "COM1", what it stands for ("" unmapped) and, for a device, the device.
  std::string port;
  std::string port_target;
  bool port_is_network = false;
  NodeFacts device;
  std::vector<UnitFacts> units;  // orvandel.socket, orvandel.service
};

struct SiteFinding {
  bool fix = false;  // false: for information only
  std::string text;
};

std::vector<SiteFinding> CheckSite(const SiteFacts& facts);

// UnitFileState=, ActiveState= and SubState= lines of `systemctl show` for one unit.
UnitFacts ParseUnitShow(const std::string& name, const std::string& text);

}  // namespace orv
