// A secret (a broker's password, the web panel's key) as the program takes it, with real files
// and throw-away groups and accounts (root only: it makes them): only this program's own group
// may read one, and only while no other account is in that group.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/trusted_file.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

class Secret : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || std::system("command -v useradd > /dev/null") != 0)
      GTEST_SKIP() << "needs root and useradd to make accounts";
    // Accounts and groups of an earlier run killed before its TearDown: its process is gone.
    (void)std::system(
        "for u in $(getent passwd | cut -d: -f1 | grep -E '^orvsec[0-9]+[a-z]$'); do "
        "p=${u#orvsec}; kill -0 \"${p%?}\" 2> /dev/null || userdel -f \"$u\"; done; "
        "for g in $(getent group | cut -d: -f1 | grep -E '^orvsec[0-9]+[a-z]$'); do "
        "p=${g#orvsec}; kill -0 \"${p%?}\" 2> /dev/null || groupdel \"$g\"; done");
    for (const std::string& group : {listed_, empty_, lonely_})
      ASSERT_EQ(std::system(("groupadd " + group).c_str()), 0);
    ASSERT_EQ(std::system(("useradd -M -N -g users -G " + listed_ + " " + alice_).c_str()), 0);
    // bob is in his group by its being his primary group alone.
    ASSERT_EQ(
        std::system(("groupadd " + bobs_ + " && useradd -M -N -g " + bobs_ + " " + bob_).c_str()),
        0);
  }
  void TearDown() override {
    for (const std::string& user : {alice_, bob_})
      (void)std::system(("userdel -f " + user + " 2> /dev/null").c_str());
    for (const std::string& group : {listed_, empty_, lonely_, bobs_})
      (void)std::system(("groupdel " + group + " 2> /dev/null").c_str());
  }
  static gid_t Gid(const std::string& group) { return getgrnam(group.c_str())->gr_gid; }

  const std::string id_ = "orvsec" + std::to_string(getpid());
  const std::string alice_ = id_ + "a", bob_ = id_ + "b";
  const std::string listed_ = id_ + "l", bobs_ = id_ + "p", empty_ = id_ + "e", lonely_ = id_ + "o";
  test::TempFolder folder_;
};

TEST_F(Secret, OnlyTheProgramsOwnGroupWithNobodyElseInItMayReadIt) {
  const std::string file = (folder_.path() / "secret").string();
  test::WriteBytes(file, "hunter2\n");
  const auto make_it = [&file](const std::string& group) {
    return ": make it `chown root:" + group + " " + file + "; chmod 0640 " + file +
           "` or `chmod 0600 " + file + "`";
  };
  struct Case {
    std::string running_group;  // the program's effective group
    std::string file_group;
    mode_t mode;
    std::string why;  // empty: taken
  };
  const Case cases[] = {
      {"root", "root", 0640, ""},
      {"root", listed_, 0600, ""},  // a group that may not read it
      {lonely_, lonely_, 0640, ""},
      {"root", listed_, 0640,
       "can be read by the group " + listed_ + " (members: " + alice_ + ")" + make_it("root")},
      {"root", bobs_, 0640,
       "can be read by the group " + bobs_ + " (members: " + bob_ + ")" + make_it("root")},
      {"root", empty_, 0640, "can be read by the group " + empty_ + make_it("root")},
      {lonely_, empty_, 0640, "can be read by the group " + empty_ + make_it(lonely_)},
      // The program's own group, shared with operators: only a private file will do.
      {listed_, listed_, 0640,
       "can be read by the group " + listed_ + " (members: " + alice_ + "): make it `chmod 0600 " +
           file + "`"},
      {bobs_, lonely_, 0640,
       "can be read by the group " + lonely_ + ": make it `chmod 0600 " + file + "`"},
      {"root", "root", 0644,
       "can be read by every user (chmod o-r, or 640 with the group that runs the program)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.running_group + " reading " + c.file_group + " 0" + std::to_string(c.mode >> 6) +
                 std::to_string((c.mode >> 3) & 7) + std::to_string(c.mode & 7));
    ASSERT_EQ(chown(file.c_str(), 0, Gid(c.file_group)), 0);
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
    ASSERT_EQ(setegid(Gid(c.running_group)), 0);
    std::string why;
    const std::optional<std::string> read = ReadTrustedFile(file, FileSecrecy::kSecret, 100, why);
    ASSERT_EQ(setegid(0), 0);
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(read.has_value(), c.why.empty());
    // What anyone may read is no secret, and a public file is taken as it is.
    EXPECT_TRUE(ReadTrustedFile(file, FileSecrecy::kPublic, 100, why).has_value()) << why;
  }
}

}  // namespace
}  // namespace orv
