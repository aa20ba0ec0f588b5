// The site's settings judged against the one table of keys: each value a loader used to turn
// into its default without a word is refused with file, line and what it may be; the shipped
// template passes; a reload keeps a wrong file out and says what waits for the next start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/site_keys.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

SettingsCheck Check(const std::string& text, const std::string& name = "orvandel.ini") {
  const ProfileSnapshot profile = ProfileSnapshot::FromText(text);
  const SettingsSource sources[] = {{name, &profile}};
  return CheckSiteSettings(sources);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

TEST(SiteKeysTest, EachWrongValueIsRefusedWithItsFileLineAndWhatItMayBe) {
  const std::string comment = " (a ; after a value is part of the value)";
  const struct {
    std::string text;
    std::string refusal;  // empty: accepted
  } cases[] = {
      {"[LinkWatch]\nNoReplySeconds=abc\n",
       "orvandel.ini:2: [LinkWatch] NoReplySeconds=abc is not a number from 2 to 100 (or 0)"},
      {"[LinkWatch]\nNoReplySeconds=1\n",
       "orvandel.ini:2: [LinkWatch] NoReplySeconds=1 is not a number from 2 to 100 (or 0)"},
      {"[LinkWatch]\nNoReplySeconds=101\n",
       "orvandel.ini:2: [LinkWatch] NoReplySeconds=101 is not a number from 2 to 100 (or 0)"},
      {"[LinkWatch]\nNoReplySeconds=0\n", ""},
      {"[LinkWatch]\nNoReplySeconds=100\n", ""},
      {"[LinkWatch]\nNoReplySeconds=\n", ""},
      // No serial setting is the site's; the nearest count is the web panel's.
      {"[WebPanel]\n; clients\nMaxClients=12345\n",
       "orvandel.ini:3: [WebPanel] MaxClients=12345 is not a number from 1 to 1024"},
      {"[MQTT]\r\nKeepAlive=1\r\n",
       "orvandel.ini:2: [MQTT] KeepAlive=1 is not a number from 5 to 3600"},
      {"[Access]\n\nIdleMinutes=0\n",
       "orvandel.ini:3: [Access] IdleMinutes=0 is not a number from 1 to 1440"},
      {"[Annunciation]\nReminderHours=-3\n",
       "orvandel.ini:2: [Annunciation] ReminderHours=-3 is not a number from 0 to 8760"},
      {"[Annunciation]\nReminderHours=0\nSound=0\n", ""},
      {"[Annunciation]\nSound=yes\n", "orvandel.ini:2: [Annunciation] Sound=yes is not 0 or 1"},
      {"[WebPanel]\nListen=127.0.0.1:8080 ; comment\n",
       "orvandel.ini:2: [WebPanel] Listen=127.0.0.1:8080 ; comment is not an address and port "
       "such as 127.0.0.1:8080 or [::1]:8080" +
           comment},
      {"[WebPanel]\nListen=[::1]:8080\n", ""},
      {"[WebPanel]\nListen=127.0.0.1\n",
       "orvandel.ini:2: [WebPanel] Listen=127.0.0.1 is not an address and port such as "
       "127.0.0.1:8080 or [::1]:8080"},
      {"[Annunciation]\nDevice=pulse ; the desk's speaker\n",
       "orvandel.ini:2: [Annunciation] Device=pulse ; the desk's speaker: a ; after a value is "
       "part of the value; put comments on lines of their own"},
      {"[Annunciation]\nDevice=plughw:0\n", ""},
      {"[Journal]\nKeepDays=36501\n",
       "orvandel.ini:2: [Journal] KeepDays=36501 is not a number from 1 to 36500 (or 0)"},
      {"[Journal]\nKeepDays=1 year\n",
       "orvandel.ini:2: [Journal] KeepDays=1 year is not a number from 1 to 36500 (or 0)"},
      {"[Journal]\nMaxMegabytes=15\n",
       "orvandel.ini:2: [Journal] MaxMegabytes=15 is not a number from 16 to 1048576 (or 0)"},
      {"[Journal]\nMaxMegabytes=1GB\n",
       "orvandel.ini:2: [Journal] MaxMegabytes=1GB is not a number from 16 to 1048576 (or 0)"},
      {"[Journal]\nKeepDays=0\nMaxMegabytes=0\n", ""},
      {"[Journal]\nKeepDays=36500\nMaxMegabytes=16\n", ""},
      // A section the table does not know is not judged.
      {"[Elsewhere]\nKeepAlive=1\n", ""},
      // A rule's section is judged by the rules' loader: a rule it would leave out is refused.
      {"[Notify]\nRules=night\n[Notify night]\nConditions=alarm\nAfter=abc\nTo=mail:a@b.c\n",
       "orvandel.ini:5: [Notify night] is not used: After is \"abc\", not a time of at most 24 h"},
      {"[Notify]\nRules=night\n[Notify night]\nConditions=alarm\n",
       "orvandel.ini:2: [Notify night] is not used: To names nobody"},
      {"[Notify]\nRules=night\n[Notify night]\nConditions=any\nTo=command\n",
       "orvandel.ini:5: [Notify night] is not used: it names the command and [Notify] sets no "
       "Command"},
      {"[Notify]\nCommand=pager\n",
       "orvandel.ini:2: [Notify] Command is not an absolute path without blanks; no command is "
       "run"},
      {"[Notify]\nRules=night\nCommand=/bin/true\n[Notify night]\nConditions=fault 4\nTo=command\n",
       ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Joined(Check(c.text).refusals), c.refusal.empty() ? "" : c.refusal + "\n") << c.text;
  }
}

// What no loader reads is said, with its line, but refuses nothing.
TEST(SiteKeysTest, UnknownAndRepeatedKeysAndCommentsInRulesAreWarnedAbout) {
  const struct {
    std::string text;
    std::string warning;
  } cases[] = {
      {"[LinkWatch]\nNoReplySecond=5\n",
       "orvandel.ini:2: [LinkWatch] NoReplySecond is not a key of [LinkWatch]"},
      {"[mqtt]\nKeepAlive=30\nkeepalive=60\n",
       "orvandel.ini:3: [mqtt] keepalive is set again: line 2 is the one taken"},
      {"[Notify night]\nTo=command ; the pager\n",
       "orvandel.ini:2: [Notify night] To=command ; the pager: a ; after a value is part of the "
       "value; put comments on lines of their own\n"
       "orvandel.ini:2: [Notify night] To: [Notify] Rules does not name night, so the rule is not "
       "used"},
      {"[Notify]\nRules=day\nCommand=/bin/true\n[Notify "
       "day]\nConditions=any\nTo=command\nBogus=1\n",
       "orvandel.ini:7: [Notify day] Bogus is not a key of a rule"},
      // A commented-out example is no key.
      {"[LinkWatch]\n;   NoReplySeconds=5\n", ""},
      // The program's own settings are not the site's.
      {"[RS232Config]\nBaudRate=12345\n", ""},
  };
  for (const auto& c : cases) {
    const SettingsCheck check = Check(c.text);
    EXPECT_EQ(Joined(check.warnings), c.warning.empty() ? "" : c.warning + "\n") << c.text;
    EXPECT_TRUE(check.ok()) << c.text;
  }
}

TEST(SiteKeysTest, EachValueComesFromTheFirstFileThatSetsItElseItsDefault) {
  const ProfileSnapshot program = ProfileSnapshot::FromText("[LinkWatch]\nNoReplySeconds=7\n");
  const ProfileSnapshot site =
      ProfileSnapshot::FromText("[MQTT]\nKeepAlive=60\n[LinkWatch]\nNoReplySeconds=9\n");
  const SettingsSource sources[] = {{"p.ini", &program}, {"s.ini", &site}};
  const SettingsCheck check = CheckSettings(SiteKeys(), sources);
  const std::string report = SettingsReport(check);
  for (const char* line :
       {"[LinkWatch] NoReplySeconds=7  (p.ini:2)\n", "[MQTT] KeepAlive=60  (s.ini:2)\n",
        "[Access] IdleMinutes=10  (default)\n", "[Annunciation] Sound=1  (default)\n",
        "[WebPanel] Listen=  (default)\n"})
    EXPECT_NE(report.find(line), std::string::npos) << line << "in:\n" << report;
  EXPECT_TRUE(check.ok());
}

// As shipped, and with every example line uncommented: an installer who fills in the template
// line by line, or copies an example, gets no wrong value and no comment into a value.
TEST(SiteKeysTest, TheShippedTemplateAndExamplesPassAndNoLineCarriesACommentAfterItsValue) {
  const std::filesystem::path packaging = std::filesystem::path(ORV_SITE_TEMPLATE).parent_path();
  std::vector<std::filesystem::path> files = {ORV_SITE_TEMPLATE};
  for (const auto& entry : std::filesystem::directory_iterator(packaging / "examples"))
    files.push_back(entry.path());
  EXPECT_GE(files.size(), 4u);
  for (const std::filesystem::path& path : files) {
    std::ifstream file(path);
    ASSERT_TRUE(file) << path;
    std::stringstream whole;
    whole << file.rdbuf();
    const SettingsCheck check = Check(whole.str());
    EXPECT_EQ(Joined(check.refusals) + Joined(check.warnings), "") << path;
    std::istringstream lines(whole.str());
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
      ++number;
      const std::size_t start = line.find_first_not_of("; \t");
      if (start == std::string::npos) continue;
      const std::string entry = line.substr(start);
      const std::size_t equals = entry.find('=');
      const bool key_line =
          equals != std::string::npos && equals > 0 && entry.find_first_of(" \t") > equals;
      if (key_line) {
        EXPECT_EQ(entry.find(';'), std::string::npos) << path << ":" << number << ": " << line;
      }
    }
  }
}

// Every key the manual page gives a section the service reads is one the check knows: a key
// documented but missing from the table would be called "not a key" at every start.
TEST(SiteKeysTest, EveryKeyTheManualPageDocumentsIsKnown) {
  std::ifstream page(std::filesystem::path(ORV_SITE_TEMPLATE).parent_path() / "orvandel.ini.5");
  ASSERT_TRUE(page);
  const auto known = [](std::string_view section, std::string_view key) {
    return std::any_of(SiteKeys().begin(), SiteKeys().end(), [&](const SiteKey& k) {
      return k.section == section && (key.empty() || k.key == key);
    });
  };
  std::string section;
  int checked = 0;
  for (std::string line; std::getline(page, line);) {
    if (line.starts_with(".SS [") || line.starts_with(".BI \"[")) {
      // A rule's section ([Notify NAME]) or another program's ([Overview]) is not the table's.
      const std::size_t open = line.find('[');
      section = line.substr(open + 1, line.find_first_of("] ", open) - open - 1);
      if (line.starts_with(".BI") || !known(section, "")) section.clear();
    } else if (line.starts_with(".SH")) {
      section.clear();
    } else if (!section.empty() && line.starts_with(".BI ") &&
               line.find('=') != std::string::npos) {
      std::string key = line.substr(4, line.find('=') - 4);
      // "COM n =" stands for COM1 to COM10.
      if (const std::size_t blank = key.find(' '); blank != std::string::npos)
        key = key.substr(0, blank) + "1";
      EXPECT_TRUE(known(section, key)) << "[" << section << "] " << key;
      ++checked;
    }
  }
  EXPECT_GT(checked, 20);
}

// The window's path: the program's own settings file, trusted as the user's own, read through
// SiteSettings; each wrong value and each warning becomes a notice.
TEST(SiteKeysTest, TheWindowIsToldOfEachWrongValue) {
  const test::TempFolder folder;
  const std::filesystem::path file = folder.path() / "MainForm.INI";
  test::WriteBytes(file, "[RS232Config]\nBaudRate=12345\n[Access]\nIdleMinutes=0\nIdle=5\n");
  const SiteSettings site(file, {}, folder.path() / "none.ini");
  std::vector<std::string> said;
  SayWrongSettings(site, [&said](const Notice& notice) { said.push_back(notice.text); });
  EXPECT_EQ(Joined(said), file.string() +
                              ":4: [Access] IdleMinutes=0 is not a number from 1 to 1440 (orvandel "
                              "--check-settings)\n" +
                              file.string() + ":5: [Access] Idle is not a key of [Access]\n");
}

// A site file that others may change is not read: its keys would all be defaults, which is not
// "right". The same file taken as FILE is checked for what it says.
TEST(SiteKeysTest, CheckSettingsFailsWhereTheSiteFileIsNotTaken) {
  if (geteuid() != 0) GTEST_SKIP() << "site settings must belong to root: run as root";
  const test::TempFolder folder;
  const std::filesystem::path site_file = folder.path() / "orvandel.ini";
  test::WriteBytes(site_file, "[LinkWatch]\nNoReplySeconds=5\n");
  const struct {
    std::filesystem::perms mode;
    bool named;
    int status;
  } cases[] = {{std::filesystem::perms(0644), false, 0},
               {std::filesystem::perms(0666), false, 1},
               {std::filesystem::perms(0666), true, 0}};
  for (const auto& c : cases) {
    std::filesystem::permissions(site_file, c.mode);
    const SiteSettings site(folder.path() / "none.ini", {}, site_file);
    std::ostringstream out, err;
    const std::optional<std::filesystem::path> named =
        c.named ? std::optional(site_file) : std::nullopt;
    EXPECT_EQ(RunCheckSettings(named, site, out, err), c.status) << out.str() << err.str();
  }
}

TEST(SiteKeysTest, AReloadKeepsAWrongFileAndSaysWhatWaitsForTheNextStart) {
  std::string file = "[LinkWatch]\nNoReplySeconds=5\n[MQTT]\nKeepAlive=30\n";
  std::vector<std::string> said;
  int applied = 0, kept = 0;
  SettingsReload reload([&file] { return Check(file); },
                        [&said](const std::string& text, bool problem) {
                          said.push_back((problem ? "! " : "") + text);
                        },
                        [&applied, &kept](bool taken) { ++(taken ? applied : kept); });
  const struct {
    std::string file;
    std::string said;
    int applied;
    int kept;  // the running settings kept after a refusal
  } steps[] = {
      {"[LinkWatch]\nNoReplySeconds=5\n[MQTT]\nKeepAlive=30\n",
       "settings re-read: nothing changed\n", 1, 0},
      {"[LinkWatch]\nNoReplySeconds=abc\n[MQTT]\nKeepAlive=60\n",
       "! settings orvandel.ini:2: [LinkWatch] NoReplySeconds=abc is not a number from 2 to 100 "
       "(or 0)\n! settings not reloaded: the running settings are kept\n",
       1, 1},
      {"[LinkWatch]\nNoReplySeconds=9\n[MQTT]\nKeepAlive=60\nUser=x\n",
       "settings [LinkWatch] NoReplySeconds=9 from now on\n"
       "settings [MQTT] changes take effect at the next start\n",
       2, 1},
      // Against what runs now, not against the first reading.
      {"[LinkWatch]\nNoReplySeconds=9\n[MQTT]\nKeepAlive=60\nUser=x\n",
       "settings re-read: nothing changed\n", 3, 1},
  };
  for (const auto& step : steps) {
    file = step.file;
    said.clear();
    reload.Reload();
    EXPECT_EQ(Joined(said), step.said) << step.file;
    EXPECT_EQ(applied, step.applied) << step.file;
    EXPECT_EQ(kept, step.kept) << step.file;
  }
}

}  // namespace
}  // namespace orv
