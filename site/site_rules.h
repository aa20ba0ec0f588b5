#pragma once

// The rules CheckSite applies to every service of the site alike, the plain service and each
// instance, and the list of findings they add to.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "site/site_check.h"

namespace orv::site_rules {

bool Has(const std::vector<std::string>& names, const std::string& name);
std::string Joined(const std::vector<std::string>& names);
std::string Octal(mode_t mode);

class Findings {
 public:
  // Every finding after this begins with prefix ("instance b: "), until it is changed.
  void set_prefix(std::string prefix) { prefix_ = std::move(prefix); }
  void Fix(const std::string& text) { list_.push_back({true, prefix_ + text}); }
  void Note(const std::string& text) { list_.push_back({false, prefix_ + text}); }
  // A node that could not be looked at, said once each, with the way to see it.
  bool Unseen(const NodeFacts& node, bool root);
  std::vector<SiteFinding> Take() { return std::move(list_); }

 private:
  std::string prefix_;
  std::vector<SiteFinding> list_;
};

// Whether a service is in use: one of its units enabled or not inactive, or their state unknown.
bool InUse(const std::vector<UnitFacts>& units);

// A service's state folder and everything in it; start: the command that makes a missing folder.
void CheckStateTree(const ServiceFacts& service, bool root, std::string_view start, Findings& out);
// A file of /etc/orvandel: root's, written by root alone; secret: read by no other either.
// missing: what its absence means.
void CheckSettingsFile(const NodeFacts& node, bool secret, bool root, std::string_view missing,
                       Findings& out);
// The socket's folder: root's, written by root alone.
void CheckSocketFolder(const NodeFacts& node, bool root, Findings& out);
// The service's port and whether the service's user may open its device; map_file: where the
// port is mapped.
void CheckPort(const ServiceFacts& service, const SiteFacts& site, std::string_view map_file,
               Findings& out);
// The units' states; unit: what `systemctl enable --now` takes ("orvandel", "orvandel@b").
void CheckUnits(const std::vector<UnitFacts>& units, std::string_view unit, Findings& out);

// The instances: each one's own rules, names that cannot be an instance's, and two services in
// use naming one device or one web panel port.
void CheckInstances(const SiteFacts& facts, bool plain_in_use, Findings& out);

}  // namespace orv::site_rules
