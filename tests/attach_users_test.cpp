// Who may attach, tried with real accounts (root only: it makes two throw-away users): the
// service's socket is its operators' group's alone; a user outside the group who reaches it all
// the same is refused, said why; a member's action lands in the journal under the member's name.
// An outsider's window says what to do, and opens no line of its own.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

const std::string kGroup = "orvandel-operators";

// Connects as user, sends line and gives back what came until a result or a refusal (or 3 s
// of silence).
std::string AskAs(const std::string& user, const std::string& socket_path,
                  const std::string& line) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    const passwd* account = getpwnam(user.c_str());
    std::string got = "no account";
    if (account != nullptr && initgroups(user.c_str(), account->pw_gid) == 0 &&
        setgid(account->pw_gid) == 0 && setuid(account->pw_uid) == 0) {
      got.clear();
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        got = std::string("connect: ") + std::strerror(errno);
      } else {
        // A refused peer may find the socket closed before its line goes out; what the
        // service said before closing is still there to read.
        (void)send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        const timeval three{3, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &three, sizeof three);
        char buffer[65536];
        for (ssize_t n; got.find("\"result\"") == std::string::npos &&
                        got.find("\"refused\"") == std::string::npos &&
                        (n = read(fd, buffer, sizeof buffer)) > 0;)
          got.append(buffer, static_cast<std::size_t>(n));
      }
    }
    (void)!write(out[1], got.data(), got.size());
    _exit(0);
  }
  close(out[1]);
  std::string got;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    got.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return got;
}

class AttachUsers : public test::ProgramFolderTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || std::system("command -v useradd > /dev/null") != 0) {
      GTEST_SKIP() << "needs root and useradd to make accounts";
    }
    ProgramFolderTest::SetUp();
    // Accounts of an earlier run killed before its TearDown (a timeout): its process is gone.
    (void)std::system(
        "for u in $(getent passwd | cut -d: -f1 | grep -E '^orv(op|out)[0-9]+$'); do "
        "kill -0 \"${u##*[a-z]}\" 2> /dev/null || userdel -f \"$u\"; done");
    made_group_ = getgrnam(kGroup.c_str()) == nullptr;
    if (made_group_) {
      ASSERT_EQ(std::system(("groupadd " + kGroup).c_str()), 0);
    }
    ASSERT_EQ(std::system(("useradd -M -N -g users -G " + kGroup + " " + member_).c_str()), 0);
    ASSERT_EQ(std::system(("useradd -M -N -g users " + outsider_).c_str()), 0);
    // Others may pass through to the socket; the socket's own mode is the service's.
    std::filesystem::permissions(folder_.path(), std::filesystem::perms(0755));
  }
  void TearDown() override {
    for (const std::string& user : {member_, outsider_})
      (void)std::system(("userdel -f " + user + " 2> /dev/null").c_str());
    if (made_group_) (void)std::system(("groupdel " + kGroup).c_str());
  }

  std::string member_ = "orvop" + std::to_string(getpid());
  std::string outsider_ = "orvout" + std::to_string(getpid());
  bool made_group_ = false;
};

TEST_F(AttachUsers, TheGroupMayAttachAndActsUnderItsOwnNames) {
  auto sim = StartSim();
  const std::string socket_path = (folder_.path() / "panel.sock").string();
  auto service = StartProgram({"--headless", "--socket", socket_path});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();

  struct stat st {};
  ASSERT_EQ(stat(socket_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660U);
  EXPECT_EQ(st.st_gid, getgrnam(kGroup.c_str())->gr_gid);
  const std::string key = std::string(R"({"type":"action","id":7,"action":"key","key":2})") + "\n";
  // The socket's mode keeps the outsider off; opened to all, the service refuses by the peer.
  EXPECT_NE(AskAs(outsider_, socket_path, key).find("connect: Permission denied"),
            std::string::npos);
  ASSERT_EQ(chmod(socket_path.c_str(), 0666), 0);
  EXPECT_NE(AskAs(outsider_, socket_path, key)
                .find("\"reason\":\"user " + outsider_ + " is not in the group " + kGroup + "\""),
            std::string::npos);
  EXPECT_NE(AskAs(member_, socket_path, key).find(R"({"id":7,"result":"done","type":"result"})"),
            std::string::npos);

  EXPECT_EQ(service->Stop(), 0);
  std::vector<std::string> keyed_by;
  for (const JournalRow& row : Rows())
    if (row.entry.text == "Key EMG ACK") keyed_by.push_back(row.entry.login);
  EXPECT_EQ(keyed_by, std::vector<std::string>{member_});
}

TEST_F(AttachUsers, AWindowTheSocketKeepsOutSaysWhatToDoAndOpensNoLine) {
  auto sim = StartSim();
  const std::string socket_path = (folder_.path() / "panel.sock").string();
  auto service = StartProgram({"--headless", "--socket", socket_path});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  // The build's program, whose module is beside it; as the outsider, on the offscreen platform.
  // setpriv executes the program itself, so that the quit signal reaches it.
  test::ChildProcess window(
      "/usr/bin/setpriv",
      {"--reuid=" + outsider_, "--regid=users", "--init-groups", "--", "/usr/bin/env",
       "QT_QPA_PLATFORM=offscreen", test::kProgram, "--socket", socket_path},
      {.env = {}, .capture_stderr = true});
  const std::string said = "you are not in the group " + kGroup +
                           ": ask your administrator to run `adduser " + outsider_ + " " + kGroup +
                           "`, then log in again";
  for (int i = 0; i < 250 && window.error_output().find(said) == std::string::npos; ++i) {
    window.Drain();
    usleep(20000);
  }
  EXPECT_NE(window.error_output().find(said), std::string::npos) << window.error_output();
  EXPECT_EQ(window.Stop(), 0) << window.error_output();
  EXPECT_EQ(window.error_output().find("COM1"), std::string::npos) << window.error_output();
  // The service's own connect is the only one the controller saw.
  EXPECT_EQ(service->Stop(), 0);
  sim->Drain();
  const std::string& line = sim->output();
  EXPECT_EQ(line.find("supervision time"), line.rfind("supervision time")) << line;
}

}  // namespace
}  // namespace orv
