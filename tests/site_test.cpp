// The site's installation without a system to break: what an installer must fix, worked out
// from facts (one case a rule), whether a site is installed here, and the gathering of the facts
// the rules stand on (modes and owners of a tree, the units' states as systemctl says them).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "site/site.h"
#include "site/site_check.h"
#include "site/site_facts.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

NodeFacts Node(std::string path, mode_t mode, std::string owner = "orvandel",
               std::string group = "orvandel") {
  return {std::move(path), true, true, "", mode, std::move(owner), std::move(group)};
}

// A site as the package and the commissioning checklist leave it.
SiteFacts GoodSite() {
  SiteFacts facts;
  facts.root = true;
  facts.service_user = true;
  facts.service_primary_group = "orvandel";
  facts.service_groups = {"orvandel", "dialout"};
  facts.operators_group = true;
  facts.operators = {"alice", "bob"};
  facts.devices_group = {"orvandel"};
  facts.state_folder = Node("/var/lib/orvandel", S_IFDIR | 0750);
  facts.state_files = {Node("/var/lib/orvandel/DATA", S_IFDIR | 0750),
                       Node("/var/lib/orvandel/DATA/Journal.sqlite", S_IFREG | 0640),
                       Node("/var/lib/orvandel/SYSINI", S_IFDIR | 0700)};
  facts.socket_folder = Node("/run/orvandel", S_IFDIR | 0755, "root", "root");
  facts.site_settings = Node("/etc/orvandel/orvandel.ini", S_IFREG | 0644, "root", "root");
  facts.users_file = Node("/etc/orvandel/users", S_IFREG | 0640, "root", "orvandel");
  facts.port = "COM1";
  facts.port_target = "/dev/serial/by-id/usb-FTDI";
  facts.device = Node("/dev/serial/by-id/usb-FTDI", S_IFCHR | 0660, "root", "dialout");
  facts.units = {{"orvandel.socket", true, "enabled", "active", "listening"},
                 {"orvandel.service", true, "enabled", "active", "running"}};
  return facts;
}

std::vector<std::string> Fixes(const SiteFacts& facts) {
  std::vector<std::string> fixes;
  for (const SiteFinding& finding : CheckSite(facts))
    if (finding.fix) fixes.push_back(finding.text);
  return fixes;
}

TEST(SiteCheck, AGoodSiteHasNothingToFixAndNamesItsOperators) {
  const std::vector<SiteFinding> findings = CheckSite(GoodSite());
  ASSERT_EQ(findings.size(), 1U);
  EXPECT_EQ(findings[0].text,
            "the operators whose windows may attach (orvandel-operators): alice, bob");
}

TEST(SiteCheck, EachFaultIsOneLineSayingWhatToDo) {
  struct Case {
    std::function<void(SiteFacts&)> spoil;
    std::string fix;
    std::string also = {};  // a second line the same fault brings
  };
  const Case cases[] = {
      {[](SiteFacts& f) { f.service_user = false; },
       "there is no user orvandel: install the package again (it makes the user)"},
      {[](SiteFacts& f) { f.service_primary_group = "dialout"; },
       "the user orvandel's primary group is dialout, not orvandel: `usermod -g orvandel "
       "orvandel`"},
      {[](SiteFacts& f) { f.service_groups = {"orvandel"}; },
       "the user orvandel is not in the group dialout, so the service cannot open the serial "
       "devices: `adduser orvandel dialout`",
       "COM1 (/dev/serial/by-id/usb-FTDI) is root:dialout 0660, which the user orvandel cannot "
       "open: give it to the group dialout with read and write (a udev rule: GROUP=\"dialout\", "
       "MODE=\"0660\")"},
      {[](SiteFacts& f) { f.service_group_others = {"carol"}; },
       "carol is in the group orvandel, the service's alone, and can read its records: `deluser "
       "carol orvandel` (or, where it is carol's primary group, `usermod -g users carol`)"},
      {[](SiteFacts& f) {
         f.operators_group = false;
         f.operators.clear();
       },
       "there is no group orvandel-operators, so no operator's window may attach: `addgroup "
       "--system orvandel-operators`"},
      {[](SiteFacts& f) {
         f.devices_group = {"orvandel", "alice", "dave"};
       },
       "dave is in dialout but not in orvandel-operators: the window cannot attach; `adduser dave "
       "orvandel-operators` and `deluser dave dialout`"},
      {[](SiteFacts& f) { f.state_folder.exists = false; },
       "/var/lib/orvandel is not there: `systemctl start orvandel` makes it (StateDirectory=)"},
      {[](SiteFacts& f) { f.state_files[1].owner = "root"; },
       "/var/lib/orvandel/DATA/Journal.sqlite belongs to root, not orvandel: `chown "
       "orvandel:orvandel /var/lib/orvandel/DATA/Journal.sqlite`"},
      {[](SiteFacts& f) { f.state_files[0].mode = S_IFDIR | 0770; },
       "/var/lib/orvandel/DATA is 0770, open to its group's writes or to others: `chmod g-w,o-rwx "
       "/var/lib/orvandel/DATA`"},
      {[](SiteFacts& f) { f.state_files[1].mode = S_IFREG | 0644; },
       "/var/lib/orvandel/DATA/Journal.sqlite is 0644, open to its group's writes or to others: "
       "`chmod g-w,o-rwx /var/lib/orvandel/DATA/Journal.sqlite`"},
      {[](SiteFacts& f) { f.state_folder.group = "dialout"; },
       "/var/lib/orvandel lets its group dialout in: `chgrp orvandel /var/lib/orvandel`"},
      {[](SiteFacts& f) { f.state_files[2].mode = S_IFLNK | 0777; },
       "/var/lib/orvandel/SYSINI is a symbolic link, which the service never follows: remove it"},
      {[](SiteFacts& f) { f.socket_folder.mode = S_IFDIR | 0777; },
       "/run/orvandel is root:root 0777, where another user could replace the service's socket: "
       "`chown root:root /run/orvandel; chmod 0755 /run/orvandel`"},
      {[](SiteFacts& f) { f.socket_folder.owner = "orvandel"; },
       "/run/orvandel is orvandel:root 0755, where another user could replace the service's "
       "socket: `chown root:root /run/orvandel; chmod 0755 /run/orvandel`"},
      {[](SiteFacts& f) { f.site_settings.owner = "alice"; },
       "/etc/orvandel/orvandel.ini belongs to alice, not root: `chown root:root "
       "/etc/orvandel/orvandel.ini`"},
      {[](SiteFacts& f) { f.site_settings.mode = S_IFREG | 0664; },
       "/etc/orvandel/orvandel.ini is 0664, writable by others than root: `chmod go-w "
       "/etc/orvandel/orvandel.ini`"},
      {[](SiteFacts& f) { f.users_file.mode = S_IFREG | 0644; },
       "/etc/orvandel/users is 0644, readable by every user: `chmod o-rwx /etc/orvandel/users`"},
      {[](SiteFacts& f) { f.port_target.clear(); },
       "COM1, the service's port, stands for no device: map it in /etc/orvandel/orvandel.ini, "
       "[SerialPorts] COM1=/dev/serial/by-id/..."},
      {[](SiteFacts& f) { f.device.exists = false; },
       "COM1 (/dev/serial/by-id/usb-FTDI) is not there: plug in the adapter, or map COM1 to the "
       "device in /dev/serial/by-id/"},
      {[](SiteFacts& f) { f.device.mode = S_IFREG | 0666; },
       "COM1 (/dev/serial/by-id/usb-FTDI) is not a serial device (a character device): map COM1 to "
       "one"},
      {[](SiteFacts& f) { f.device.mode = S_IFCHR | 0640; },
       "COM1 (/dev/serial/by-id/usb-FTDI) is root:dialout 0640, which the user orvandel cannot "
       "open: give it to the group dialout with read and write (a udev rule: GROUP=\"dialout\", "
       "MODE=\"0660\")"},
      {[](SiteFacts& f) { f.units[0].file_state = "disabled"; },
       "orvandel.socket is disabled, not enabled: `systemctl enable --now orvandel`"},
      {[](SiteFacts& f) {
         f.units[1].active = "failed";
         f.units[1].sub = "failed";
       },
       "orvandel.service is failed (failed): `systemctl start orvandel.service`; `journalctl -u "
       "orvandel.service` says why it stopped"},
      {[](SiteFacts& f) { f.units[1].known = false; },
       "orvandel.service's state cannot be learnt from systemctl: is systemd running?"},
  };
  for (const Case& c : cases) {
    SiteFacts facts = GoodSite();
    c.spoil(facts);
    std::vector<std::string> expected{c.fix};
    if (!c.also.empty()) expected.push_back(c.also);
    EXPECT_EQ(Fixes(facts), expected);
  }
}

TEST(SiteCheck, WhatANonRootUserCannotSeeIsSaidWithTheWayToSeeIt) {
  SiteFacts facts = GoodSite();
  facts.root = false;
  NodeFacts unseen;
  unseen.path = "/var/lib/orvandel/";
  unseen.problem = "its contents: Permission denied";
  facts.state_files = {unseen};
  facts.port.clear();  // the service's settings are not readable either
  EXPECT_EQ(Fixes(facts), std::vector<std::string>{"/var/lib/orvandel/ cannot be looked at (its "
                                                   "contents: Permission denied): run "
                                                   "`orvandel --site-check` as root"});
  EXPECT_EQ(CheckSite(facts).front().text,
            "not run as root: what only root may see is said as such; run it as root for all");
}

TEST(SiteCheck, TheUnitsStateIsTakenFromSystemctlShow) {
  const UnitFacts unit = ParseUnitShow(
      "orvandel.socket", "ActiveState=active\nSubState=listening\nUnitFileState=enabled\n");
  EXPECT_TRUE(unit.known);
  EXPECT_EQ(unit.file_state, "enabled");
  EXPECT_EQ(unit.active, "active");
  EXPECT_EQ(unit.sub, "listening");
  // systemctl that could not answer (no systemd running): nothing known.
  EXPECT_FALSE(ParseUnitShow("orvandel.socket", "").known);
  // Several at once: a block each, in order.
  const std::vector<UnitFacts> units =
      ParseUnitsShow({"orvandel@a.socket", "orvandel@a.service", "orvandel@b.socket"},
                     "UnitFileState=enabled\nActiveState=active\nSubState=listening\n\n"
                     "UnitFileState=enabled\nActiveState=failed\nSubState=failed\n\n"
                     "UnitFileState=disabled\nActiveState=inactive\nSubState=dead\n");
  ASSERT_EQ(units.size(), 3U);
  EXPECT_EQ(units[1].name, "orvandel@a.service");
  EXPECT_EQ(units[1].active, "failed");
  EXPECT_EQ(units[2].file_state, "disabled");
  EXPECT_FALSE(ParseUnitsShow({"orvandel.socket"}, "").front().known);
}

// A site with two controllers besides the plain service's, each instance as its unit left it.
SiteFacts SiteWithInstances() {
  SiteFacts facts = GoodSite();
  facts.line = "/dev/ttyUSB0";
  facts.web_port = "8080";
  for (const std::string name : {"a", "b"}) {
    InstanceFacts instance;
    instance.name = name;
    const std::string folder = "/var/lib/orvandel/" + name;
    instance.state_folder = Node(folder, S_IFDIR | 0750);
    instance.state_files = {Node(folder + "/DATA", S_IFDIR | 0750),
                            Node(folder + "/DATA/Journal.sqlite", S_IFREG | 0640)};
    instance.socket_folder = Node("/run/orvandel/" + name, S_IFDIR | 0755, "root", "root");
    instance.settings = Node("/etc/orvandel/" + name + ".ini", S_IFREG | 0644, "root", "root");
    instance.port = "COM1";
    instance.port_target = instance.line = "/dev/ttyS" + name;
    instance.device = Node(instance.port_target, S_IFCHR | 0660, "root", "dialout");
    instance.web_port = name == "a" ? "8081" : "8082";
    instance.units = {{"orvandel@" + name + ".socket", true, "enabled", "active", "listening"},
                      {"orvandel@" + name + ".service", true, "enabled", "active", "running"}};
    facts.instances.push_back(instance);
  }
  return facts;
}

TEST(SiteCheck, EachInstancesFaultIsOneLineNamingIt) {
  EXPECT_EQ(Fixes(SiteWithInstances()), std::vector<std::string>{});
  struct Case {
    std::function<void(SiteFacts&)> spoil;
    std::string fix;
  };
  const auto a = [](SiteFacts& f) -> InstanceFacts& { return f.instances[0]; };
  const auto b = [](SiteFacts& f) -> InstanceFacts& { return f.instances[1]; };
  const Case cases[] = {
      {[&](SiteFacts& f) { b(f).settings.mode = S_IFREG | 0664; },
       "instance b: /etc/orvandel/b.ini is 0664, writable by others than root: `chmod go-w "
       "/etc/orvandel/b.ini`"},
      {[&](SiteFacts& f) { a(f).state_files[1].mode = S_IFREG | 0644; },
       "instance a: /var/lib/orvandel/a/DATA/Journal.sqlite is 0644, open to its group's writes or "
       "to others: `chmod g-w,o-rwx /var/lib/orvandel/a/DATA/Journal.sqlite`"},
      {[&](SiteFacts& f) { b(f).state_folder.exists = false; },
       "instance b: /var/lib/orvandel/b is not there: `systemctl start orvandel@b` makes it "
       "(StateDirectory=)"},
      {[&](SiteFacts& f) { a(f).socket_folder.mode = S_IFDIR | 0777; },
       "instance a: /run/orvandel/a is root:root 0777, where another user could replace the "
       "service's socket: `chown root:root /run/orvandel/a; chmod 0755 /run/orvandel/a`"},
      {[&](SiteFacts& f) { b(f).port_target.clear(); },
       "instance b: COM1, the service's port, stands for no device: map it in "
       "/etc/orvandel/b.ini, [SerialPorts] COM1=/dev/serial/by-id/..."},
      {[&](SiteFacts& f) { b(f).line = a(f).line; },
       "instance b: COM1 (/dev/ttySb) is instance a's line as well, and only one of them can hold "
       "it: map COM1 to a device of its own in /etc/orvandel/b.ini"},
      {[&](SiteFacts& f) { b(f).line = f.line; },
       "instance b: COM1 (/dev/ttySb) is the plain service's line as well, and only one of them "
       "can hold it: map COM1 to a device of its own in /etc/orvandel/b.ini"},
      {[&](SiteFacts& f) { b(f).web_port = "8081"; },
       "instance b: its web panel's port 8081 ([WebPanel] Listen=) is instance a's as well, and "
       "only one of them can listen there: give it a port of its own in /etc/orvandel/b.ini"},
      {[&](SiteFacts& f) { a(f).web_port = "8080"; },
       "instance a: its web panel's port 8080 ([WebPanel] Listen=) is the plain service's as "
       "well, and only one of them can listen there: give it a port of its own in "
       "/etc/orvandel/a.ini"},
      // Started by hand, not enabled: in use all the same.
      {[&](SiteFacts& f) {
         a(f).units = {{"orvandel@a.socket", true, "disabled", "active", ""}};
       },
       "instance a: orvandel@a.socket is disabled, not enabled: `systemctl enable --now "
       "orvandel@a`"},
      {[&](SiteFacts& f) { b(f).units[1].active = b(f).units[1].sub = "failed"; },
       "instance b: orvandel@b.service is failed (failed): `systemctl start orvandel@b.service`; "
       "`journalctl -u orvandel@b.service` says why it stopped"},
      // Units neither enabled nor running: the instance's other rules wait, its line is free.
      {[&](SiteFacts& f) {
         for (UnitFacts& unit : b(f).units) {
           unit.file_state = "disabled";
           unit.active = "inactive";
         }
         b(f).line = a(f).line;
       },
       "instance b: /var/lib/orvandel/b is there, but no unit of the instance is enabled or "
       "running: `systemctl enable --now orvandel@b`, or move it away if its controller is gone"},
      {[&](SiteFacts& f) {
         b(f).state_folder.exists = false;
         b(f).units = {{"orvandel@b.socket", true, "disabled", "inactive", "dead"}};
       },
       "instance b: /etc/orvandel/b.ini is there, but no unit of the instance is enabled or "
       "running: `systemctl enable --now orvandel@b`, or move it away if its controller is gone"},
      {[](SiteFacts& f) { f.misnamed_settings = {"/etc/orvandel/Hall.ini"}; },
       "/etc/orvandel/Hall.ini is read by no instance, since \"Hall\" cannot name one (it may "
       "have only lowercase letters, digits, '-' and '_'): rename it NAME.ini after the "
       "instance, or remove it"},
      {[](SiteFacts& f) { f.misnamed_units = {"-x"}; },
       "orvandel@-x cannot run, since \"-x\" cannot name an instance (it must begin with a "
       "lowercase letter or a digit): `systemctl disable --now orvandel@-x`"},
  };
  for (const Case& c : cases) {
    SiteFacts facts = SiteWithInstances();
    c.spoil(facts);
    EXPECT_EQ(Fixes(facts), std::vector<std::string>{c.fix});
  }
}

// A site of instances alone: the plain service's units unused, its old line no one's.
TEST(SiteCheck, ThePlainServiceUnusedBesideInstancesIsANote) {
  SiteFacts facts = SiteWithInstances();
  for (UnitFacts& unit : facts.units) {
    unit.file_state = "disabled";
    unit.active = "inactive";
  }
  facts.line = facts.instances[0].line;
  EXPECT_EQ(Fixes(facts), std::vector<std::string>{});
  EXPECT_EQ(CheckSite(facts).back().text,
            "orvandel.service is not in use: the site runs instances");
}

TEST(SiteCheck, InstancesAreNamedBySystemctlsListings) {
  EXPECT_EQ(ParseInstanceUnits(
                "orvandel@a.service loaded active running Orvandel headless operator panel a\n"
                "\xe2\x97\x8f orvandel@hall-2.service loaded failed failed Orvandel hall-2\n"
                "orvandel@a.socket loaded active listening Orvandel operators' socket a\n"
                "orvandel@.service indirect enabled\n"
                "orvandel.service enabled enabled\n"
                "orvandel@c.timer loaded active waiting\n"),
            (std::vector<std::string>{"a", "hall-2"}));
  const std::pair<std::string, std::string> listens[] = {
      {"127.0.0.1:8080", "8080"}, {"[::1]:8081", "8081"}, {"127.0.0.1", ""},
      {"127.0.0.1:65536", ""},    {"[::1]", ""},          {"", ""}};
  for (const auto& [listen, port] : listens)
    EXPECT_EQ(ListenPort(listen), port) << listen;
}

TEST(SiteInstalled, ItsSocketNodeOrForRootItsDataFolder) {
  test::TempFolder folder;
  const SitePlaces places{folder.path() / "panel.sock", folder.path() / "state"};
  EXPECT_FALSE(SiteInstalled(places, true));
  // Something else at the socket's name is no site.
  test::WriteBytes(places.socket, "");
  EXPECT_FALSE(SiteInstalled(places, false));
  fs::remove(places.socket);
  ASSERT_EQ(mknod(places.socket.c_str(), S_IFSOCK | 0600, 0), 0);
  EXPECT_TRUE(SiteInstalled(places, false));
  fs::remove(places.socket);
  // The records' folder, which only root may look into, stands for the site for root alone.
  fs::create_directories(places.state_folder / "DATA");
  EXPECT_TRUE(SiteInstalled(places, true));
  EXPECT_FALSE(SiteInstalled(places, false));
}

TEST(SiteFacts, ATreeIsSeenWithoutFollowingItsLinks) {
  test::TempFolder folder;
  fs::create_directories(folder.path() / "DATA");
  test::WriteBytes(folder.path() / "DATA" / "EventLog.txt", "x");
  ASSERT_EQ(chmod((folder.path() / "DATA" / "EventLog.txt").c_str(), 0640), 0);
  fs::create_directory_symlink("/etc", folder.path() / "SYSINI");
  const std::vector<NodeFacts> nodes = LookBelow(folder.path());
  ASSERT_EQ(nodes.size(), 3U);
  EXPECT_EQ(nodes[0].path, (folder.path() / "DATA").string());
  EXPECT_TRUE(S_ISDIR(nodes[0].mode));
  EXPECT_EQ(nodes[1].path, (folder.path() / "DATA" / "EventLog.txt").string());
  EXPECT_EQ(nodes[1].mode, S_IFREG | 0640);
  EXPECT_EQ(nodes[2].path, (folder.path() / "SYSINI").string());
  EXPECT_TRUE(S_ISLNK(nodes[2].mode));
  const NodeFacts gone = LookAt(folder.path() / "nothing");
  EXPECT_TRUE(gone.seen);
  EXPECT_FALSE(gone.exists);
}

// An instance is found from its units, its folder or its settings file; its folder is taken
// out of the plain service's tree; its line is its device with the links resolved.
TEST(SiteFacts, InstancesAreFoundFromUnitsFoldersAndSettingsFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "the settings files must belong to root";
  test::TempFolder folder;
  const fs::path state = folder.path() / "state", etc = folder.path() / "etc";
  for (const char* below : {"DATA", "a/DATA", "Hall"})
    fs::create_directories(state / below);
  fs::create_directories(etc);
  fs::create_symlink("/dev/null", folder.path() / "tty-a");
  test::WriteBytes(etc / "orvandel.ini", "[WebPanel]\nListen=127.0.0.1:8080\n");
  test::WriteBytes(etc / "a.ini", "[SerialPorts]\nCOM1=" + (folder.path() / "tty-a").string() +
                                      "\n[WebPanel]\nListen=127.0.0.1:8081\n");
  test::WriteBytes(etc / "c.ini", "[SerialPorts]\nCOM1=/dev/null\n");
  test::WriteBytes(etc / "Hall.ini", "");
  const SitePaths paths{state, folder.path() / "run", etc / "orvandel.ini", etc / "users"};
  const SiteFacts facts = GatherSiteFacts(
      paths, "orvandel@d.service loaded inactive dead x\norvandel@Bad.socket loaded failed x\n");
  std::vector<std::string> names, plain;
  for (const InstanceFacts& instance : facts.instances)
    names.push_back(instance.name);
  for (const NodeFacts& node : facts.state_files)
    plain.push_back(fs::path(node.path).lexically_relative(state).string());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(plain, (std::vector<std::string>{"DATA", "Hall"}));
  ASSERT_EQ(facts.instances.size(), 3U);
  const InstanceFacts &a = facts.instances[0], &c = facts.instances[1];
  EXPECT_EQ(a.state_folder.path, (state / "a").string());
  ASSERT_EQ(a.state_files.size(), 1U);
  EXPECT_EQ(a.state_files[0].path, (state / "a" / "DATA").string());
  EXPECT_EQ(a.line, "/dev/null");
  EXPECT_EQ(c.line, "/dev/null");
  // Its own web panel's port, else the shared file's.
  EXPECT_EQ(a.web_port, "8081");
  EXPECT_EQ(c.web_port, "8080");
  EXPECT_EQ(facts.misnamed_settings, std::vector<std::string>{(etc / "Hall.ini").string()});
  EXPECT_EQ(facts.misnamed_units, std::vector<std::string>{"Bad"});
}

}  // namespace
}  // namespace orv
