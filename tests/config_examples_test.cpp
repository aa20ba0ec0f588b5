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

// Which parts of the program each example turns on: an example that silently turned one off
// (a Listen the loader refuses, a rule left out) fails here.
struct Example {
  const char* file;
  int ports;  // COM keys in [SerialPorts]
  bool mqtt;
  bool web;
  int rules;  // notification rules taken
};

// Named by its file in the test's output.
void PrintTo(const Example& example, std::ostream* out) {
  *out << example.file;
}

constexpr Example kExamples[] = {
    {"serial-line.ini", 2, false, false, 0},
    {"network-mqtt-web.ini", 2, true, true, 0},
    {"notifications.ini", 1, false, false, 2},
};

class ShippedExample : public ::testing::TestWithParam<Example> {
 protected:
  // The example as the program's own settings file of a folder that is the test user's alone
  // (trusted as a personal copy is), no site file beside it. A password file it names is put
  // in the folder, as the site would put it in /etc/orvandel.
  void SetUp() override {
    std::string text = ReadText(fs::path(ORV_EXAMPLES_DIR) / GetParam().file);
    ASSERT_FALSE(text.empty()) << GetParam().file;
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

  fs::path program_file() const { return folder_.path() / "MainForm.INI"; }
  NoticeFn Collect() {
    return [this](const Notice& notice) { notices_.push_back(notice.text); };
  }

  test::TempFolder folder_;
  std::vector<std::string> notices_;
};

TEST_P(ShippedExample, LoadsWithoutANoticeAndEveryValueIsTaken) {
  const Example& example = GetParam();
  const SiteSettings site(program_file(), Collect(), folder_.path() / "no-site-file.ini");
  ASSERT_EQ(site.program_file_trust(), SettingsTrust::kTrusted);

  int ports = 0;
  for (int n = 1; n <= 10; ++n) {
    const std::string value = site.Read("SerialPorts", "COM" + std::to_string(n));
    if (value.empty()) continue;
    ++ports;
    const PortAddress address = ParsePortAddress(value);
    EXPECT_EQ(address.problem, "") << value;
    EXPECT_TRUE(address.network() || value.starts_with("/dev/")) << value;
  }
  EXPECT_EQ(ports, example.ports);

  // Each number written is the one taken: some loaders fall back to a default in silence.
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

  const MqttSettings mqtt = LoadMqttSettings(site, Collect(), "panel-host");
  EXPECT_EQ(mqtt.enabled, example.mqtt);
  taken("MQTT", "KeepAlive", mqtt.keep_alive_s);
  EXPECT_EQ(mqtt.password.has_value(), !site.Read("MQTT", "PasswordFile").empty());

  const WebPanelSettings web = LoadWebPanelSettings(site, Collect());
  EXPECT_EQ(web.refusal, "");
  EXPECT_EQ(web.enabled, example.web);
  taken("WebPanel", "MaxClients", web.max_clients);
  taken("WebPanel", "ConnectionsPerAddress", web.max_per_address);

  const NotifySettings notify = LoadNotifySettings(
      [&site](std::string_view section, std::string_view key) { return site.Read(section, key); },
      Collect(), "panel-host");
  EXPECT_EQ(static_cast<int>(notify.rules.size()), example.rules);
  const std::string mail_from = site.Read("Notify", "MailFrom");
  EXPECT_EQ(notify.mail_from, mail_from.empty() ? "orvandel@panel-host" : mail_from);

  EXPECT_TRUE(notices_.empty()) << example.file << ": " << ::testing::PrintToString(notices_);
}

INSTANTIATE_TEST_SUITE_P(Examples, ShippedExample, ::testing::ValuesIn(kExamples),
                         [](const ::testing::TestParamInfo<Example>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

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
