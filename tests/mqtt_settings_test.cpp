// The section [MQTT] of the site-wide settings: the broker URL, the base topic, the password file
// and the keep-alive, each refused with a notice when it cannot be used.
#include "mqtt/mqtt_settings.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

// The scheme and the default ports; hosts and ports as written (and refused) are the one address
// reader's test.
TEST(MqttSettings, BrokerUrls) {
  const std::pair<const char*, std::optional<BrokerAddress>> cases[] = {
      {"mqtt://10.1.2.3", BrokerAddress{false, "10.1.2.3", 1883}},
      {"mqtts://bms.site", BrokerAddress{true, "bms.site", 8883}},
      {"tcp://h:1883", std::nullopt},
      {"MQTT://h", std::nullopt},
      {"h:1883", std::nullopt},
  };
  for (const auto& [url, address] : cases) {
    std::string why;
    EXPECT_EQ(ParseBrokerUrl(url, why), address) << url;
    EXPECT_EQ(why.empty(), address.has_value()) << url;
  }
}

TEST(MqttSettings, BaseTopics) {
  // Whether the topic is taken; a reason exactly when it is not.
  const auto taken = [](const std::string& topic) {
    std::string why;
    const bool ok = CheckBaseTopic(topic, why);
    EXPECT_EQ(why.empty(), ok) << topic << ": " << why;
    return ok;
  };
  for (const char* topic : {"orvandel/site-1", "a", "a b/c", "Z\xC3\xBCrich/pa"})
    EXPECT_TRUE(taken(topic)) << topic;
  for (const std::string& topic :
       {""s, "a/+/b"s, "a/#"s, "+"s, "/a"s, "a/"s, "a//b"s, "$SYS/x"s, "caf\xE9"s, "a\0b"s})
    EXPECT_FALSE(taken(topic)) << topic;
}

TEST(MqttSettings, TopicFiltersAndWhatTheyMatch) {
  for (const std::string& filter : {"orvandel/#"s, "#"s, "+/a/+"s, "a b/+/c"s})
    EXPECT_EQ(TopicFilterProblem(filter), "") << filter;
  for (const std::string& filter :
       {""s, "a/#/b"s, "a/b#"s, "a/+b"s, "$SYS/#"s, "a\0b"s, "caf\xE9"s, std::string(1025, 'a')})
    EXPECT_NE(TopicFilterProblem(filter), "") << filter;
  // The filter, a topic and whether the broker would deliver it.
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"orvandel/#", "orvandel/hall/a/status", true},
      {"orvandel/#", "orvandel", true},
      {"orvandel/#", "orvandel-overview/vm/status", false},
      {"orvandel/+/status", "orvandel/a/status", true},
      {"orvandel/+/status", "orvandel/a/b/status", false},
      {"orvandel/+", "orvandel", false},
      {"a/b", "a/b/c", false},
      {"a/b/c", "a/b", false},
      {"#", "$SYS/broker/uptime", false},
      {"+/+", "/a", true},
  };
  for (const auto& [filter, topic, matches] : cases)
    EXPECT_EQ(TopicMatchesFilter(filter, topic), matches) << filter << " " << topic;
}

class MqttSettingsFiles : public ::testing::Test {
 protected:
  fs::path File(const std::string& name, const std::string& text, mode_t mode) {
    const fs::path file = folder_.path() / name;
    test::WriteBytes(file, text);
    EXPECT_EQ(chmod(file.c_str(), mode), 0);
    return file;
  }
  // Settings from a program settings file of the user running the test (trusted as such).
  MqttSettings Load(const std::string& section) {
    const fs::path program = File("MainForm.INI", section, 0644);
    const NoticeFn note = [this](const Notice& n) { notices_.push_back(n.text); };
    return LoadMqttSettings(SiteSettings(program, note, folder_.path() / "no-site.ini"), note,
                            "host1");
  }

  test::TempFolder folder_;
  std::vector<std::string> notices_;
};

TEST_F(MqttSettingsFiles, PasswordFileOnlyWhenOthersCannotReadItOneLineBreakStripped) {
  std::string why;
  EXPECT_EQ(ReadPasswordFile(File("p2", "s3cret\r\n", 0640), why), "s3cret");
  EXPECT_EQ(ReadPasswordFile(File("p3", "two\n\n", 0400), why), "two\n");
  EXPECT_EQ(ReadPasswordFile(File("p4", " sp ", 0440), why), " sp ");
  EXPECT_EQ(ReadPasswordFile(File("p5", "", 0600), why), "");

  // Refused, and why. (Read by every user, changed by the group: the web key's and the module's
  // tests; the opener's other refusals, a second name or no regular file, the shared files'.)
  fs::create_symlink(File("target", "x\n", 0600), folder_.path() / "link");
  const std::pair<fs::path, const char*> refused[] = {
      {File("world-writable", "x\n", 0602), "changed by other users"},
      {folder_.path() / "link", "symbolic link"},
      {folder_.path() / "missing", ""},
      {File("long", std::string(5000, 'p'), 0600), ""},
  };
  for (const auto& [file, reason] : refused) {
    why.clear();
    EXPECT_FALSE(ReadPasswordFile(file, why)) << file;
    EXPECT_FALSE(why.empty()) << file;
    EXPECT_NE(why.find(reason), std::string::npos) << file << ": " << why;
  }
}

// A secret of another user (their key, or a file they made) is never sent, however closed it is.
TEST_F(MqttSettingsFiles, PasswordFileOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path theirs = File("theirs", "their key\n", 0600);
  ASSERT_EQ(chown(theirs.c_str(), nobody->pw_uid, 0), 0);
  std::string why;
  EXPECT_FALSE(ReadPasswordFile(theirs, why));
  EXPECT_NE(why.find("belongs to user nobody"), std::string::npos) << why;
  // Its own user may take it.
  ASSERT_EQ(seteuid(nobody->pw_uid), 0);
  EXPECT_EQ(ReadPasswordFile(theirs, why), "their key");
  ASSERT_EQ(seteuid(0), 0);
}

TEST_F(MqttSettingsFiles, AFullSectionAndTheDefaults) {
  const fs::path password = File("pw", "hunter2\n", 0640);
  const MqttSettings full =
      Load("[MQTT]\nBroker=mqtts://bms:8884\nTopic=sites/north\nUser=panel\nPasswordFile=" +
           password.string() + "\nCaFile=/etc/ssl/ca.pem\nKeepAlive=5\n");
  EXPECT_EQ(std::tie(full.enabled, full.address, full.base_topic, full.user, full.password,
                     full.ca_file, full.keep_alive_s),
            std::tuple(true, BrokerAddress{true, "bms", 8884}, "sites/north", "panel", "hunter2",
                       "/etc/ssl/ca.pem", 5));
  EXPECT_TRUE(notices_.empty());

  // The base topic by the host's name; the keep-alive's default is in the table below.
  EXPECT_EQ(Load("[MQTT]\nBroker=mqtt://127.0.0.1\n").base_topic, "orvandel/host1");
}

// No two instances publish under one topic: below the default and the shared file's topic each
// has its name; a topic of the instance's own files is its own choice.
TEST_F(MqttSettingsFiles, AnInstancePublishesBelowItsNameUnlessItsOwnFileSetsTheTopic) {
  if (geteuid() != 0) GTEST_SKIP() << "the shared file must belong to root";
  // Where Topic is set ("": nowhere, else program, instance or shared), the instance; the topic.
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"", "", "orvandel/host1"},    {"", "b", "orvandel/host1/b"}, {"shared", "", "site/all"},
      {"shared", "b", "site/all/b"}, {"instance", "b", "hall/own"}, {"program", "b", "hall/own"},
  };
  const NoticeFn note = [this](const Notice& n) { notices_.push_back(n.text); };
  for (const auto& [where, instance, topic] : rows) {
    const auto topic_in = [w = where](const std::string& file, const std::string& own) {
      return w == file ? "Topic=" + own + "\n" : std::string();
    };
    const fs::path shared =
        File("shared.ini", "[MQTT]\nBroker=mqtt://bms\n" + topic_in("shared", "site/all"), 0644);
    const fs::path mine = File("b.ini", "[MQTT]\n" + topic_in("instance", "hall/own"), 0644);
    const fs::path program =
        File("MainForm.INI", "[MQTT]\n" + topic_in("program", "hall/own"), 0644);
    const MqttSettings settings = LoadMqttSettings(
        SiteSettings(program, note, SiteFiles(shared, mine)), note, "host1", instance);
    EXPECT_TRUE(settings.enabled) << where << " " << instance;
    EXPECT_EQ(settings.base_topic, topic) << where << " " << instance;
  }
  EXPECT_TRUE(notices_.empty());
}

TEST_F(MqttSettingsFiles, WhatCannotBeUsedIsSaid) {
  struct Case {
    std::string section;
    bool enabled;
    int keep_alive;
    const char* notice;
  };
  const fs::path open_password = File("open", "x", 0644);
  const fs::path password = File("closed", "x", 0600);
  const Case cases[] = {
      {"Topic=a/b\n", false, 30, nullptr},  // no broker: off, and nothing to say
      {"Broker=http://h\n", false, 30, "mqtt:// or mqtts://"},
      {"Broker=mqtt://[::1\n", false, 30, "no closing ]"},
      {"Broker=mqtt://[::1]x\n", false, 30, "only :PORT may follow"},
      {"Broker=mqtt://a..b\n", false, 30, "names no host"},
      {"Broker=mqtt://h:0\n", false, 30, "port must be a number"},
      {"Broker=mqtt://h\nTopic=a/#\n", false, 30, "wildcard"},  // the rest: the topics' table
      {"Broker=mqtt://h\nUser=u\nPasswordFile=" + open_password.string() + "\n", false, 30,
       "others can neither read nor change"},
      {"Broker=mqtt://h\nPasswordFile=" + password.string() + "\n", false, 30, "needs a User"},
      {"Broker=mqtt://h\nKeepAlive=4\n", true, 30, "KeepAlive=4"},
      {"Broker=mqtt://h\nKeepAlive=3601\n", true, 30, "KeepAlive=3601"},
      {"Broker=mqtt://h\nKeepAlive=ten\n", true, 30, "KeepAlive=ten"},
      {"Broker=mqtt://h\nKeepAlive=3600\n", true, 3600, nullptr},
  };
  for (const Case& c : cases) {
    notices_.clear();
    const MqttSettings settings = Load("[MQTT]\n" + c.section);
    EXPECT_EQ(settings.enabled, c.enabled) << c.section;
    EXPECT_EQ(settings.keep_alive_s, c.keep_alive) << c.section;
    ASSERT_EQ(notices_.size(), c.notice == nullptr ? 0u : 1u) << c.section;
    if (c.notice != nullptr) {
      EXPECT_NE(notices_[0].find(c.notice), std::string::npos) << notices_[0];
    }
  }
}

}  // namespace
}  // namespace orv
