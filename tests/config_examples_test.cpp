// The example site settings the package ships: each goes through the program's own loaders
// without a notice, and every value it writes is the value the program takes (a value out of
// range would otherwise become a default without a word).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "annunciator/annunciation_settings.h"
#include "config/access_settings.h"
#include "config/configuration.h"
#include "config/site_settings.h"
#include "mqtt/mqtt_settings.h"
#include "netport/port_address.h"
#include "notify/notify_rules.h"
#include "platform/notice.h"
#include "tests/temp_folder.h"
#include "web/web_settings.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What an example turns on, as the program took it.
struct TurnedOn {
  int ports = 0;  // COM keys in [SerialPorts]
  bool mqtt = false;
  bool web = false;
  int rules = 0;  // notification rules taken
};

// Each example goes into a folder of the test user's alone, as the program's own settings file
// (trusted as a personal copy is), with no site file beside it; a password file it names is put
// in the folder, as the site would put it in /etc/orvandel.
class ExampleSettings : public ::testing::Test {
 protected:
  void Write(std::string text) {
    const std::string key = "PasswordFile=";
    if (const auto at = text.find("\n" + key); at != std::string::npos) {
      const auto end = text.find('\n', at + 1);
      const fs::path password = folder_.path() / "mqtt.password";
      test::WriteBytes(password, "secret\n");
      fs::permissions(password, fs::perms(0600));
      text.replace(at + 1, end - at - 1, key + password.string());
    }
    fs::permissions(folder_.path(), fs::perms(0755));
    test::WriteBytes(program_file(), text);
    fs::permissions(program_file(), fs::perms(0644));
  }

  // Every loader of the site settings over the example: no notice, and each number written is
  // the one taken (some loaders fall back to a default in silence).
  TurnedOn Load() {
    std::vector<std::string> notices;
    const NoticeFn collect = [&notices](const Notice& notice) { notices.push_back(notice.text); };
    const SiteSettings site(program_file(), collect, folder_.path() / "no-site-file.ini");
    EXPECT_EQ(site.program_file_trust(), SettingsTrust::kTrusted);
    TurnedOn on;
    for (int n = 1; n <= 10; ++n) {
      const std::string value = site.Read("SerialPorts", "COM" + std::to_string(n));
      if (value.empty()) continue;
      ++on.ports;
      const PortAddress address = ParsePortAddress(value);
      EXPECT_EQ(address.problem, "") << value;
      EXPECT_TRUE(address.network() || value.starts_with("/dev/")) << value;
    }

    const auto taken = [&site](std::string_view section, std::string_view key, const auto& value) {
      const std::string written = site.Read(section, key);
      if (written.empty()) return;
      EXPECT_EQ(std::to_string(value), written) << "[" << section << "] " << key;
    };
    taken("LinkWatch", "NoReplySeconds",
          ParseNoReplySeconds(site.Read("LinkWatch", "NoReplySeconds")));
    taken("Access", "IdleMinutes", ParseIdleMinutes(site.Read("Access", "IdleMinutes")));
    const AnnunciationSettings annunciation = ReadAnnunciationSettings(
        [&site](std::string_view key) { return site.Read(kAnnunciationSection, key); });
    taken(kAnnunciationSection, "ReminderHours", annunciation.annunciator.reminder_hours);
    taken(kAnnunciationSection, "Sound", annunciation.annunciator.sound ? 1 : 0);
    EXPECT_EQ(annunciation.device, site.Read(kAnnunciationSection, "Device"));

    const MqttSettings mqtt = LoadMqttSettings(site, collect, "panel-host");
    on.mqtt = mqtt.enabled;
    taken("MQTT", "KeepAlive", mqtt.keep_alive_s);
    EXPECT_EQ(mqtt.password.has_value(), !site.Read("MQTT", "PasswordFile").empty());

    const WebPanelSettings web = LoadWebPanelSettings(site, collect);
    EXPECT_EQ(web.refusal, "");
    on.web = web.enabled;
    taken("WebPanel", "MaxClients", web.max_clients);
    taken("WebPanel", "ConnectionsPerAddress", web.max_per_address);

    const NotifySettings notify = LoadNotifySettings(
        [&site](std::string_view section, std::string_view key) { return site.Read(section, key); },
        collect, "panel-host");
    on.rules = static_cast<int>(notify.rules.size());
    const std::string mail_from = site.Read("Notify", "MailFrom");
    EXPECT_EQ(notify.mail_from, mail_from.empty() ? "orvandel@panel-host" : mail_from);

    EXPECT_TRUE(notices.empty()) << ::testing::PrintToString(notices);
    return on;
  }

  fs::path program_file() const { return folder_.path() / "MainForm.INI"; }

  test::TempFolder folder_;
};

// Which parts of the program each shipped example is for: one that silently turned a part off
// (a Listen the loader refuses, a rule left out) fails here.
struct Example {
  const char* file;
  TurnedOn on;
};

// Named by its file in the test's output.
void PrintTo(const Example& example, std::ostream* out) {
  *out << example.file;
}

constexpr Example kExamples[] = {
    {"serial-line.ini", {2, false, false, 0}},
    {"network-mqtt-web.ini", {2, true, true, 0}},
    {"notifications.ini", {1, false, false, 2}},
};

class ShippedExample : public ExampleSettings, public ::testing::WithParamInterface<Example> {};

TEST_P(ShippedExample, LoadsWithoutANoticeAndEveryValueIsTaken) {
  const Example& example = GetParam();
  const std::string text = ReadText(fs::path(ORV_EXAMPLES_DIR) / example.file);
  ASSERT_FALSE(text.empty()) << example.file;
  Write(text);
  const TurnedOn on = Load();
  EXPECT_EQ(on.ports, example.on.ports);
  EXPECT_EQ(on.mqtt, example.on.mqtt);
  EXPECT_EQ(on.web, example.on.web);
  EXPECT_EQ(on.rules, example.on.rules);
}

INSTANTIATE_TEST_SUITE_P(Examples, ShippedExample, ::testing::ValuesIn(kExamples),
                         [](const ::testing::TestParamInfo<Example>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// The settings in the manual page's EXAMPLES (the .EX blocks that begin with a section), with
// troff's escapes undone.
std::vector<std::string> ManualPageExamples(const std::string& page) {
  std::vector<std::string> examples;
  std::istringstream lines(page);
  std::string line;
  std::string example;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (line == ".EX") {
      inside = true;
      example.clear();
    } else if (line == ".EE") {
      inside = false;
      if (example.starts_with('[')) examples.push_back(example);
    } else if (inside) {
      for (std::size_t at = 0; (at = line.find('\\', at)) != std::string::npos; ++at)
        line.replace(at, 2, line.compare(at, 2, "\\e") == 0 ? "\\" : line.substr(at + 1, 1));
      example += line + "\n";
    }
  }
  return examples;
}

TEST_F(ExampleSettings, TheManualPagesExamplesLoadAndTurnOnWhatTheyName) {
  const std::vector<std::string> examples =
      ManualPageExamples(ReadText(fs::path(ORV_EXAMPLES_DIR) / ".." / "orvandel.ini.5"));
  ASSERT_EQ(examples.size(), 3u);
  for (const std::string& example : examples) {
    SCOPED_TRACE(example);
    Write(example);
    const TurnedOn on = Load();
    EXPECT_EQ(on.mqtt, example.find("\nBroker=") != std::string::npos);
    EXPECT_EQ(on.web, example.find("\nListen=") != std::string::npos);
    EXPECT_EQ(on.rules, example.find("\nRules=") != std::string::npos ? 1 : 0);
  }
}

// Every example in the folder is one of the table's: a new example is tested too.
TEST(ShippedExamples, TheTableNamesEveryExample) {
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(ORV_EXAMPLES_DIR)) {
    if (entry.path().extension() != ".ini") continue;
    ++files;
    bool listed = false;
    for (const Example& example : kExamples)
      listed |= entry.path().filename() == example.file;
    EXPECT_TRUE(listed) << entry.path();
  }
  EXPECT_EQ(files, static_cast<int>(std::size(kExamples)));
}

}  // namespace
}  // namespace orv
