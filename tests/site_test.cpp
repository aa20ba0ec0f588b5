// The site's installation without a system to break: what an installer must fix, worked out
// from facts (one case a rule), whether a site is installed here, and the gathering of the facts
// the rules stand on (modes and owners of a tree, the units' states as systemctl says them).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>
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

}  // namespace
}  // namespace orv
