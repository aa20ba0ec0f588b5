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

// What each service of the site has of its own: the plain service's, or one instance's.
struct ServiceFacts {
  NodeFacts state_folder;
  std::vector<NodeFacts> state_files;  // everything below the state folder
  NodeFacts socket_folder;             // the socket's folder
  // The service's port: "COM1", what it stands for ("" unmapped) and, for a device, the device.
  std::string port;
  std::string port_target;
  bool port_is_network = false;
  NodeFacts device;
  // The device with its links resolved, or the network address: what two services cannot share.
  std::string line;
  std::string web_port;          // the port of [WebPanel] Listen=; empty without a web panel
  std::vector<UnitFacts> units;  // its socket unit, then its service unit
};

// One controller of several: the instance orvandel@NAME, found from its units, its folder or its
// settings file.
struct InstanceFacts : ServiceFacts {
  std::string name;
  NodeFacts settings;  // /etc/orvandel/NAME.ini, read before the shared file
};

// The site, with the plain service's own facts as its base.
struct SiteFacts : ServiceFacts {
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
  NodeFacts site_settings;                 // /etc/orvandel/orvandel.ini
  NodeFacts users_file;                    // /etc/orvandel/users
  std::vector<InstanceFacts> instances;    // by name
  // What looks like an instance's but cannot be one: settings files /etc/orvandel/X.ini and units
  // orvandel@X whose X is no instance's name.
  std::vector<std::string> misnamed_settings;
  std::vector<std::string> misnamed_units;
};

struct SiteFinding {
  bool fix = false;  // false: for information only
  std::string text;
};

std::vector<SiteFinding> CheckSite(const SiteFacts& facts);

// UnitFileState=, ActiveState= and SubState= lines of `systemctl show` for one unit.
UnitFacts ParseUnitShow(const std::string& name, const std::string& text);
// The same for several units asked at once: one block a unit, in their order, each after the
// first following a blank line.
std::vector<UnitFacts> ParseUnitsShow(const std::vector<std::string>& names,
                                      const std::string& text);

// The instances' names in a listing of `systemctl list-units` or `list-unit-files`: the X of
// each orvandel@X.service or .socket, once each, in order, the template's own file left out.
std::vector<std::string> ParseInstanceUnits(const std::string& listing);

// The port of [WebPanel] Listen= (ADDRESS:PORT, an IPv6 address in brackets); empty when it
// names none.
std::string ListenPort(const std::string& listen);

}  // namespace orv
