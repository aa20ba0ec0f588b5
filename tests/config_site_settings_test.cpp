// Where site-wide settings come from: the owner and mode rule, then both files for real.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "config/access_settings.h"
#include "config/configuration.h"
#include "config/site_settings.h"
#include "tests/temp_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::WriteBytes;
using ::testing::Contains;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::SizeIs;

constexpr std::uint32_t kRoot = 0;
constexpr std::uint32_t kSelf = 1000;
constexpr std::uint32_t kOther = 1001;

// Files, and the folders on the way up to /: as a file, except that root's sticky folder (/tmp)
// is safe.
TEST(SiteSettingsTrust, OwnerAndModeRuleOfFilesAndFolders) {
  using T = SettingsTrust;
  struct Case {
    bool folder;
    std::uint32_t owner;
    std::uint32_t mode;
    T program_file;  // self may own it
    T site_file;     // root alone may
  };
  const Case cases[] = {
      {false, kSelf, 0644, T::kTrusted, T::kOtherOwner},
      {false, kSelf, 0664, T::kWritableByOthers, T::kOtherOwner},
      {false, kRoot, 0644, T::kTrusted, T::kTrusted},
      {false, kRoot, 0664, T::kWritableByOthers, T::kWritableByOthers},
      {false, kRoot, 0646, T::kWritableByOthers, T::kWritableByOthers},
      {false, kRoot, 02755, T::kTrusted, T::kTrusted},  // set-id bits let no one write
      {false, kOther, 0644, T::kOtherOwner, T::kOtherOwner},
      {true, kRoot, 0755, T::kTrusted, T::kTrusted},
      {true, kRoot, 01777, T::kTrusted, T::kTrusted},                    // /tmp
      {true, kRoot, 02775, T::kWritableByOthers, T::kWritableByOthers},  // the installed SYSINI
      {true, kSelf, 0755, T::kTrusted, T::kOtherOwner},
      {true, kSelf, 01777, T::kWritableByOthers, T::kOtherOwner},  // sticky, but not root's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.folder) + " " + std::to_string(c.owner) + " " +
                 std::to_string(c.mode));
    const auto judge = c.folder ? JudgeFolder : JudgeOwnerAndMode;
    EXPECT_EQ(judge(c.owner, c.mode, kSelf, true), c.program_file);
    EXPECT_EQ(judge(c.owner, c.mode, kSelf, false), c.site_file);
  }
  // Run by root, a file of root is the program's own.
  EXPECT_EQ(JudgeOwnerAndMode(kRoot, 0644, kRoot, true), T::kTrusted);
  EXPECT_EQ(JudgeOwnerAndMode(kSelf, 0644, kRoot, true), T::kOtherOwner);
}

// A folder with a program settings file and a site file beside it.
class SiteSettingsFiles : public ::testing::Test {
 protected:
  fs::path program_file() const { return folder_.path() / "MainForm.INI"; }
  fs::path site_file() const { return folder_.path() / "orvandel.ini"; }

  void Write(const fs::path& file, const std::string& text, unsigned mode = 0644) {
    WriteBytes(file, text);
    fs::permissions(file, fs::perms(mode));
  }

  SiteSettings Make(const fs::path& program = {}) {
    return SiteSettings(
        program.empty() ? program_file() : program,
        [this](const Notice& n) { notices_.push_back(n.text); }, site_file());
  }

  test::TempFolder folder_;
  std::vector<std::string> notices_;
};

TEST_F(SiteSettingsFiles, ATrustedProgramFileComesFirstKeyByKeyThenTheSiteFile) {
  Write(program_file(), "[SerialPorts]\r\nCOM1 = /dev/ttyUSB0 \r\nCOM3=\r\n");
  Write(site_file(), "[serialports]\ncom1=/dev/site1\ncom2=/dev/site2\nCOM3=/dev/site3\n");
  const SiteSettings settings = Make();
  EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kTrusted);
  EXPECT_EQ(settings.Read("SerialPorts", "COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(settings.Read("SerialPorts", "COM3"), "");  // set, to nothing: the default device
  EXPECT_EQ(settings.Read("SerialPorts", "COM4"), "");
  EXPECT_EQ(settings.Read("SerialPorts", "COM1", 6), "/dev/");
  EXPECT_EQ(settings.Read("SerialPorts", "COM1", 1), "");
  if (geteuid() != 0) GTEST_SKIP() << "the site file must belong to root";
  EXPECT_EQ(settings.site_file_trust(), SettingsTrust::kTrusted);
  EXPECT_EQ(settings.Read("SerialPorts", "COM2"), "/dev/site2");
  EXPECT_TRUE(notices_.empty());
}

// A program with no settings file of its own names none: nothing to say about it.
TEST_F(SiteSettingsFiles, NoProgramFileNamedIsMissingWithoutANotice) {
  const SiteSettings settings(
      fs::path(), [this](const Notice& n) { notices_.push_back(n.text); }, site_file());
  EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kMissing);
  EXPECT_TRUE(notices_.empty()) << notices_.front();
}

TEST_F(SiteSettingsFiles, IdleMinutesTakeOneToADayAnythingElseIsTen) {
  const std::pair<const char*, int> texts[] = {{"1", 1},  {"0015", 15}, {"1440", 1440},
                                               {"0", 10}, {"1441", 10}, {"10000", 10},
                                               {"", 10},  {"5m", 10}};
  for (const auto& [text, minutes] : texts)
    EXPECT_EQ(ParseIdleMinutes(text), minutes) << text;
  Write(program_file(), "[access]\r\nidleminutes = 3 \r\n");
  EXPECT_EQ(AccessIdleMinutes(Make()), 3);
}

TEST_F(SiteSettingsFiles, AnIgnoredMapIsSaidOncePerSectionNamingTheSiteFile) {
  Write(program_file(), "[SerialPorts]\r\nCOM1=/tmp/attacker-pty\r\nCOM2=/tmp/other\r\n", 0664);
  {
    const SiteSettings settings = Make();
    EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kWritableByOthers);
    // COM5 is not set there: nothing ignored.
    for (const char* key : {"COM1", "COM2", "COM5"})
      EXPECT_EQ(settings.Read("SerialPorts", key), "") << key;
    EXPECT_EQ(settings.Read("LinkWatch", "Seconds"), "");
  }
  const std::string said = "[SerialPorts] in " + program_file().string() +
                           " is ignored: other users can change that file. Put site-wide "
                           "settings in " +
                           site_file().string() + ".";
  EXPECT_EQ(notices_, std::vector<std::string>{said});
  // The next use (connect) says it again.
  EXPECT_EQ(Make().Read("SerialPorts", "COM1"), "");
  EXPECT_EQ(notices_, std::vector<std::string>(2, said));
}

// What the configuration maps a port to is asked afresh at each look-up. (Its notice is the
// odd-entry test's.)
TEST_F(SiteSettingsFiles, ThroughConfigurationAnIgnoredPortMapLeavesThePortUnmapped) {
  Configuration config(folder_.path(), site_file());
  fs::create_directories(config.ConfigFolder());
  Write(config.ConfigFile(), "[SerialPorts]\r\ncom10 = /dev/pts/7 \r\n", 0646);
  EXPECT_EQ(config.SerialDevice(10), "");
  fs::permissions(config.ConfigFile(), fs::perms(0644));
  EXPECT_EQ(config.SerialDevice(10), "/dev/pts/7");
  EXPECT_EQ(config.SerialDevice(1), "");
}

TEST_F(SiteSettingsFiles, LinkedFilesAreNotTakenAndSaySo) {
  Write(folder_.path() / "real.ini", "[SerialPorts]\nCOM1=/dev/ttyS9\n");
  fs::create_symlink(folder_.path() / "real.ini", program_file());
  {
    const SiteSettings settings = Make();
    EXPECT_EQ(settings.program_file_trust(), SettingsTrust::kLinked);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"), "");
  }
  // A second name for the file: whoever holds the other name can change it.
  fs::remove(program_file());
  fs::create_hard_link(folder_.path() / "real.ini", program_file());
  EXPECT_EQ(Make().Read("SerialPorts", "COM1"), "");
  const std::string file = program_file().string();
  EXPECT_EQ(notices_,
            (std::vector<std::string>{
                file + " is a symbolic link: site-wide settings are not taken from it.",
                file + " has other hard links: site-wide settings are not taken from it."}));
}

// Root plays an ordinary user, "nobody" (self), beside another user without an account (other):
// files made by root are given away, and the settings are read as self.
class SiteSettingsAsUsers : public SiteSettingsFiles {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    self_ = nobody->pw_uid;
    other_ = self_ == 12345 ? 12346 : 12345;
    fs::permissions(folder_.path(), fs::perms(0755));
  }
  SiteSettings MakeAsSelf(const fs::path& program) {
    notices_.clear();
    EXPECT_EQ(seteuid(self_), 0);
    SiteSettings settings = Make(program);
    EXPECT_EQ(seteuid(0), 0);
    return settings;
  }
  static void Give(const fs::path& p, std::uint32_t owner, unsigned mode) {
    ASSERT_EQ(chown(p.c_str(), owner, 0), 0);
    ASSERT_EQ(chmod(p.c_str(), mode), 0);
  }

  std::uint32_t self_ = 0;
  std::uint32_t other_ = 0;
};

// Both files for real, run as an ordinary user (files made by root and given away): which file
// the key comes from, and what is said. (Every owner and mode is the rule's own table.)
TEST_F(SiteSettingsAsUsers, RealFilesOfEachTrustGiveTheKeyAndTheirNotices) {
  using T = SettingsTrust;
  struct File {
    std::uint32_t owner;
    unsigned mode;  // 0: no file
  };
  const File absent{0, 0};
  struct Row {
    File program, site;
    T program_trust, site_trust;
    const char* device;
    std::vector<std::string> said;  // a part of each notice
  };
  const std::string ignored = "[SerialPorts] in " + program_file().string() + " is ignored";
  // clang-format off
  const Row rows[] = {
      {{self_, 0644}, {0, 0644}, T::kTrusted, T::kTrusted, "/dev/program", {}},
      {{self_, 0664}, {0, 0644}, T::kWritableByOthers, T::kTrusted, "/dev/site", {ignored}},
      {{other_, 0644}, absent, T::kOtherOwner, T::kMissing, "", {ignored}},
      // A file of root with mode 0600 cannot even be read by "nobody".
      {{0, 0600}, {other_, 0600}, T::kNotRead, T::kNotRead, "",
       {program_file().string() + " cannot be read", site_file().string() + " cannot be read"}},
      {absent, {self_, 0644}, T::kMissing, T::kOtherOwner, "",
       {site_file().string() + " is ignored"}},
  };
  // clang-format on
  const auto put = [](const fs::path& file, const File& f, const std::string& text) {
    fs::remove(file);
    if (f.mode == 0) return;
    WriteBytes(file, text);
    Give(file, f.owner, f.mode);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &row - rows);
    put(program_file(), row.program, "[SerialPorts]\r\nCOM1=/dev/program\r\n");
    put(site_file(), row.site, "[SerialPorts]\nCOM1=/dev/site\n");
    const SiteSettings settings = MakeAsSelf(program_file());
    EXPECT_EQ(settings.program_file_trust(), row.program_trust);
    EXPECT_EQ(settings.site_file_trust(), row.site_trust);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"), row.device);
    EXPECT_EQ(notices_.size(), row.said.size());
    for (const std::string& part : row.said)
      EXPECT_THAT(notices_, Contains(HasSubstr(part)).Times(1));
  }
}

// An instance's own file comes between the program's and the shared one, held to the shared
// one's rule: root's, written by root alone; one that is not is said and left out.
TEST_F(SiteSettingsAsUsers, AnInstancesFileComesBeforeTheSharedOneUnderTheSameRule) {
  using T = SettingsTrust;
  using G = SettingsGiver;
  const fs::path instance_file = folder_.path() / "b.ini";
  const std::string ignored = instance_file.string() + " is ignored";
  // Owner and mode of the instance's file (mode 0: none); its trust, where COM1 comes from.
  const std::tuple<std::uint32_t, unsigned, T, G> rows[] = {
      {0, 0644, T::kTrusted, G::kInstance},
      {0, 0, T::kMissing, G::kShared},
      {self_, 0644, T::kOtherOwner, G::kShared},
      {0, 0664, T::kWritableByOthers, G::kShared},
  };
  WriteBytes(site_file(), "[SerialPorts]\nCOM1=/dev/site\nCOM2=/dev/site2\n");
  Give(site_file(), 0, 0644);
  for (const auto& [owner, mode, trust, giver] : rows) {
    SCOPED_TRACE(testing::Message() << owner << " " << std::oct << mode);
    fs::remove(instance_file);
    if (mode != 0) {
      WriteBytes(instance_file, "[SerialPorts]\nCOM1=/dev/instance\n");
      Give(instance_file, owner, mode);
    }
    notices_.clear();
    ASSERT_EQ(seteuid(self_), 0);
    const SiteSettings settings(
        program_file(), [this](const Notice& n) { notices_.push_back(n.text); },
        SiteFiles(site_file(), instance_file));
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(settings.instance_file_trust(), trust);
    EXPECT_EQ(settings.Giver("SerialPorts", "COM1"), giver);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"),
              giver == G::kInstance ? "/dev/instance" : "/dev/site");
    EXPECT_EQ(settings.Giver("SerialPorts", "COM2"), G::kShared);
    EXPECT_EQ(settings.Giver("SerialPorts", "COM3"), G::kNone);
    // What a check of the values looks at: the instance's file before the shared one.
    std::vector<std::string> names;
    for (const SettingsSource& source : settings.Sources())
      names.push_back(source.name);
    std::vector<std::string> expected{site_file().string()};
    if (trust == T::kTrusted) expected.insert(expected.begin(), instance_file.string());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(notices_.size(), trust == T::kTrusted || trust == T::kMissing ? 0U : 1U);
    for (const std::string& text : notices_)
      EXPECT_THAT(text, HasSubstr(ignored));
  }
}

// MainForm.INI in b, below a, below the test's folder: which folder on the way makes it
// untrusted, run as an ordinary user. Folders are made by root and given away.
TEST_F(SiteSettingsAsUsers, EveryFolderUpToTheRootIsJudged) {
  const fs::path a = folder_.path() / "a", b = a / "b", link = folder_.path() / "via-link";
  // Owner and mode of a, then of b; the folder that makes the file untrusted, if any.
  const std::tuple<std::uint32_t, unsigned, std::uint32_t, unsigned, fs::path> rows[] = {
      {0, 0755, self_, 0755, {}},  // both safe
      {0, 02775, self_, 0755, a},  // a shared by the group (installed)
      {0, 0755, other_, 0755, b},  // b another user's
  };
  for (const auto& [a_owner, a_mode, b_owner, b_mode, culprit] : rows) {
    SCOPED_TRACE(culprit);
    fs::remove_all(a);
    fs::create_directories(b);
    WriteBytes(b / "MainForm.INI", "[SerialPorts]\r\nCOM1=/dev/program\r\n");
    Give(b / "MainForm.INI", self_, 0644);
    Give(a, a_owner, a_mode);
    Give(b, b_owner, b_mode);
    // Through a link to b: what counts is where the file really is.
    fs::remove(link);
    fs::create_directory_symlink(b, link);
    const SiteSettings settings = MakeAsSelf(link / "MainForm.INI");
    const bool trusted = culprit.empty();
    EXPECT_EQ(settings.program_file_trust(),
              trusted ? SettingsTrust::kTrusted : SettingsTrust::kFolderNotSafe);
    EXPECT_EQ(settings.Read("SerialPorts", "COM1"), trusted ? "/dev/program" : "");
    EXPECT_THAT(notices_, SizeIs(trusted ? 0 : 1));
    EXPECT_THAT(notices_, Each(HasSubstr("is ignored: other users can change the folder " +
                                         culprit.string() + ". Put site-wide settings in ")));
  }
}

}  // namespace
}  // namespace orv
