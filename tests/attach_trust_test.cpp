// Whether a window believes what answers at the service's socket: the socket's folder as lstat
// saw it, the peer's user as SO_PEERCRED gave it, each judged with the words the window shows;
// and what a window takes for a site (a socket node at the site's path).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "attach/service_probe.h"
#include "attach/socket_trust.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

constexpr uid_t kService = 999;
constexpr uid_t kOperator = 1000;
constexpr uid_t kMallory = 1666;

TrustedUsers Users(uid_t self, std::optional<uid_t> service = kService) {
  return TrustedUsers{
      self, service, [](uid_t uid) {
        static const std::map<uid_t, std::string> names{
            {0, "root"}, {kService, "orvandel"}, {kOperator, "opb"}, {kMallory, "mallory"}};
        const auto found = names.find(uid);
        return found == names.end() ? "id " + std::to_string(uid) : found->second;
      }};
}

TEST(SocketTrust, TheFolderIsRootsTheServicesOrOnesOwnAndWritableByNobodyElse) {
  const std::string run = "/run/orvandel";
  // What the administrator is asked to do.
  const std::string mode = ": not trusted (ask your administrator: chmod 0755 /run/orvandel)";
  const std::string owner = ": not trusted (ask your administrator: chown root /run/orvandel)";
  // What lstat saw, who is trusted, what is said after "the socket's folder /run/orvandel "
  // (empty: trusted).
  const std::tuple<FolderFacts, TrustedUsers, std::string> cases[] = {
      {{{}, S_IFDIR | 0755, 0}, Users(kOperator), ""},
      {{{}, S_IFDIR | 0750, kService}, Users(kOperator), ""},
      {{{}, S_IFDIR | 0700, kOperator}, Users(kOperator), ""},
      {{{}, S_IFDIR | 0777, 0}, Users(kOperator), "can be written by its group and others" + mode},
      {{{}, S_IFDIR | 0775, kService}, Users(kOperator), "can be written by its group" + mode},
      {{{}, S_IFDIR | 01757, 0},
       Users(0),
       "can be written by others: not trusted (ask your administrator: chmod 1755 /run/orvandel)"},
      {{{}, S_IFDIR | 0755, kMallory},
       Users(kOperator),
       "belongs to user mallory, not to root, orvandel or you (opb)" + owner},
      // Without the service's account its id is nobody's to trust.
      {{{}, S_IFDIR | 0755, kService},
       Users(kOperator, std::nullopt),
       "belongs to user orvandel, not to root or you (opb)" + owner},
      {{{}, S_IFDIR | 0755, kMallory},
       Users(0, std::nullopt),
       "belongs to user mallory, not to root" + owner},
      {{{}, S_IFLNK | 0777, 0}, Users(kOperator), "is a symbolic link: not trusted"},
      {{{}, S_IFREG | 0644, 0}, Users(kOperator), "is not a folder: not trusted"},
      {{"No such file or directory", 0, 0},
       Users(kOperator),
       "cannot be looked at (No such file or directory): not trusted"},
  };
  for (const auto& [facts, users, expected] : cases) {
    EXPECT_EQ(FolderDistrust(run, facts, users),
              expected.empty() ? "" : "the socket's folder /run/orvandel " + expected)
        << facts.mode << " owner " << facts.owner;
  }
}

TEST(SocketTrust, ThePeerIsRootTheServiceOrOneself) {
  const std::string path = "/run/orvandel/panel.sock";
  const std::string who = "the program answering at " + path;
  const std::tuple<std::optional<uid_t>, TrustedUsers, std::string> cases[] = {
      {0, Users(kOperator), ""},
      {kService, Users(kOperator), ""},
      {kOperator, Users(kOperator), ""},
      {kMallory, Users(kOperator),
       who + " runs as user mallory, neither root, orvandel nor you (opb): not trusted"},
      {kMallory, Users(0), who + " runs as user mallory, neither root nor orvandel: not trusted"},
      {kService, Users(kOperator, std::nullopt),
       who + " runs as user orvandel, neither root nor you (opb): not trusted"},
      {kMallory, Users(0, std::nullopt), who + " runs as user mallory, not root: not trusted"},
      {std::nullopt, Users(kOperator), who + " cannot be told: not trusted"},
  };
  for (const auto& [peer, users, expected] : cases)
    EXPECT_EQ(PeerDistrust(path, peer, users), expected)
        << (peer ? std::to_string(*peer) : "unknown");
}

// The system's side: what lstat and SO_PEERCRED give, links not followed.
TEST(SocketTrust, LooksAtTheFolderWithoutFollowingALinkAndAsksThePeersUser) {
  const test::TempFolder temp;
  const std::filesystem::path folder = temp.path() / "run";
  std::filesystem::create_directory(folder);
  std::filesystem::create_directory_symlink(folder, temp.path() / "link");
  EXPECT_TRUE(S_ISDIR(LookAtFolder(folder.string()).mode));
  EXPECT_EQ(LookAtFolder(folder.string()).owner, geteuid());
  EXPECT_TRUE(S_ISLNK(LookAtFolder((temp.path() / "link").string()).mode));
  EXPECT_FALSE(LookAtFolder((temp.path() / "gone").string()).error.empty());
  EXPECT_EQ(SocketFolder((folder / "panel.sock").string()), folder.string());
  EXPECT_EQ(SocketFolder("panel.sock"), ".");

  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_EQ(PeerUser(pair[0]), geteuid());
  close(pair[0]);
  close(pair[1]);
  EXPECT_EQ(PeerUser(-1), std::nullopt);
}

// The whole check on a connected socket asks who listened at it. (That the folder is judged
// first, and what is trusted, the attached window's test shows.)
TEST(SocketTrust, AConnectedSocketIsJudgedByWhoListens) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  const test::TempFolder temp;
  const std::string path = (temp.path() / "panel.sock").string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int window = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // The peer's credentials are those in effect at its listen(); 4242 has no account.
  ASSERT_EQ(seteuid(4242), 0);
  const int listened = listen(listener, 4);
  ASSERT_EQ(seteuid(0), 0);
  ASSERT_EQ(listened, 0);
  ASSERT_EQ(connect(window, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string why = SocketDistrust(path, window);
  EXPECT_NE(why.find("runs as user uid 4242, "), std::string::npos) << why;
  close(window);
  close(listener);
}

TEST(SiteSocket, OnlyASocketNodeAtThePathMakesASite) {
  const test::TempFolder temp;
  const std::filesystem::path socket_path = temp.path() / "panel.sock";
  // A socket node that nothing answers at is a site all the same.
  ASSERT_EQ(mknod(socket_path.c_str(), S_IFSOCK | 0600, 0), 0);
  test::WriteBytes(temp.path() / "file", "x");
  std::filesystem::create_symlink(socket_path, temp.path() / "link");
  const std::pair<std::string, bool> cases[] = {
      {socket_path.string(), true},
      {(temp.path() / "file").string(), false},
      {(temp.path() / "link").string(), false},
      {temp.path().string(), false},
      {(temp.path() / "gone").string(), false},
      {"", false},
  };
  for (const auto& [path, site] : cases)
    EXPECT_EQ(SiteSocketPresent(path), site) << path;
}

}  // namespace
}  // namespace orv
