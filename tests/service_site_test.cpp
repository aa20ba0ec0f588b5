// The site's service as systemd runs it (systemd-socket-activate plays the socket unit); with
// throw-away accounts (root only), who may attach and who may read the journal.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

constexpr char kSocketActivate[] = "/usr/bin/systemd-socket-activate";
const std::string kOperators = "orvandel-operators";

// Whether text holds what, the text shown when not.
testing::AssertionResult Has(const std::string& text, const std::string& what) {
  if (text.find(what) != std::string::npos) return testing::AssertionSuccess() << "in:\n" << text;
  return testing::AssertionFailure() << "no \"" << what << "\" in:\n" << text;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Connects to the socket as user (where one is named), sends line and gives back what came until
// its result or a refusal, or without a line until the state's snapshot (or 5 s of silence).
std::string Ask(const fs::path& socket_path, const std::string& line = {},
                const std::string& user = {}) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    const passwd* account = user.empty() ? nullptr : getpwnam(user.c_str());
    std::string got;
    if (!user.empty() && (account == nullptr || initgroups(user.c_str(), account->pw_gid) != 0 ||
                          setgid(account->pw_gid) != 0 || setuid(account->pw_uid) != 0)) {
      got = "no account";
    } else {
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      socket_path.string().copy(address.sun_path, sizeof address.sun_path - 1);
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        got = std::string("connect: ") + std::strerror(errno);
      } else {
        // A refused peer may find the socket closed before its line goes out; what the
        // service said before closing is still there to read.
        (void)send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        const timeval five{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
        char buffer[65536];
        for (ssize_t n; got.find(line.empty() ? "\n" : "\"result\"") == std::string::npos &&
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

bool WaitForNode(const fs::path& path) {
  for (int i = 0; i < 500; ++i) {
    if (ModeOf(path) != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class SiteService : public test::ProgramFolderTest {
 protected:
  // The service on its state folder, started by a stand-in for the socket unit at the first
  // connection to each of sockets.
  std::unique_ptr<test::ChildProcess> StartActivated(const std::vector<fs::path>& sockets) {
    std::vector<std::string> args;
    for (const fs::path& socket_path : sockets)
      args.insert(args.end(), {"-l", socket_path.string()});
    args.insert(args.end(), {test::kProgram, "--headless", "--state-folder", state_.string(),
                             "--site-settings", site_settings_.string()});
    return std::make_unique<test::ChildProcess>(
        kSocketActivate, args, test::ChildOptions{.env = {}, .capture_stderr = true});
  }
  void SetUp() override {
    ProgramFolderTest::SetUp();
    // A state folder as systemd makes it, empty; the port map in the site's settings.
    fs::create_directory(state_);
    test::WriteBytes(site_settings_, "[SerialPorts]\nCOM1=" + link_.string() + "\n");
  }
  fs::path socket_ = folder_.path() / "panel.sock";
  fs::path state_ = folder_.path() / "state";
  fs::path site_settings_ = folder_.path() / "orvandel.ini";
};

TEST_F(SiteService, TakesTheSocketSystemdMadeAsItIsAndKeepsItsRecordsFromOthers) {
  if (!fs::exists(kSocketActivate)) GTEST_SKIP() << "needs systemd-socket-activate";
  auto sim = StartSim();
  auto service = StartActivated({socket_});
  ASSERT_TRUE(WaitForNode(socket_));
  // A mode the service would never choose: it must be left as the unit made it.
  ASSERT_EQ(chmod(socket_.c_str(), 0604), 0);
  // The first window starts the service and is served by it.
  EXPECT_TRUE(Has(Ask(socket_), R"("state":{)"));
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  sim->Type("event 0x12 0");
  ASSERT_TRUE(service->WaitForOutput("Event = EMG Ack")) << service->output();

  // The test's own umask lets the group write and everyone read; the service's may not.
  // A trigger renamed from a window is stored in the service's MainForm.INI.
  EXPECT_TRUE(Has(
      Ask(socket_, R"({"type":"action","id":3,"action":"rename","page":0,"number":1,"name":"Hall"})"
                   "\n"),
      R"({"id":3,"result":"done","type":"result"})"));
  // (SQLite gives the journal's -wal and -shm files the journal's own mode.)
  const fs::path data = state_ / "DATA";
  const std::tuple<fs::path, mode_t> modes[] = {
      {data, 0750},
      {state_ / "SYSINI", 0750},
      {state_ / "SYSINI" / "MainForm.INI", 0640},
      {data / "EventLog.txt", 0640},
      {data / "Journal.sqlite", 0640},
  };
  for (const auto& [path, mode] : modes)
    EXPECT_EQ(ModeOf(path), mode) << path << " is 0" << std::oct << ModeOf(path);
  EXPECT_EQ(service->Stop(), 0) << service->error_output();
  // The socket's name is the unit's: it stays for the windows of the next start.
  EXPECT_EQ(ModeOf(socket_), 0604U);
}

TEST_F(SiteService, ASocketItCannotServeStopsTheStartWithTheReason) {
  if (!fs::exists(kSocketActivate)) GTEST_SKIP() << "needs systemd-socket-activate";
  // Two sockets handed where the unit hands one.
  auto two = StartActivated({socket_, folder_.path() / "second.sock"});
  ASSERT_TRUE(WaitForNode(socket_));
  (void)Ask(socket_);
  EXPECT_EQ(two->WaitForExit(), 1);
  EXPECT_TRUE(Has(two->error_output(),
                  "orvandel: the service is not started: systemd handed 2 sockets; the service "
                  "takes one"));

  // A socket asked for where none can be made.
  const std::string nowhere = (folder_.path() / "no-folder" / "panel.sock").string();
  auto asked =
      StartProgram({"--headless", "--socket", nowhere}, {.env = {}, .capture_stderr = true});
  EXPECT_EQ(asked->WaitForExit(), 1);
  EXPECT_TRUE(Has(asked->error_output(), "Windows cannot attach at " + nowhere + ": "));
  EXPECT_TRUE(Has(asked->error_output(), "orvandel: the service is not started: windows cannot"));
  EXPECT_FALSE(Has(asked->output(), "Program started"));
}

// A developer's machine, without the operators' group.
TEST_F(SiteService, WithoutTheOperatorsGroupItsOwnSocketIsPrivateAndSaidSo) {
  if (getgrnam(kOperators.c_str()) != nullptr) GTEST_SKIP() << "the operators' group exists";
  auto sim = StartSim();
  const std::string socket_path = (state_ / "panel.sock").string();
  auto service =
      StartProgram({"--headless", "--socket", socket_path}, {.env = {}, .capture_stderr = true});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->error_output();
  EXPECT_EQ(ModeOf(socket_path), 0600U);
  EXPECT_EQ(service->Stop(), 0);
  EXPECT_TRUE(Has(service->error_output(),
                  "There is no group orvandel-operators: only root and this user may attach at " +
                      socket_path));
}

// (What the installer's check finds is the site room's test.)
TEST(SiteCheckCommand, OneFindingALineThenTheCountAndTheStatusSaysIt) {
  test::ChildProcess check(test::kProgram, {"--site-check"}, {.env = {}, .capture_stderr = true});
  const int status = check.WaitForExit();
  std::istringstream lines(check.output());
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);)
    all.push_back(line);
  ASSERT_FALSE(all.empty());
  int fixes = 0;
  for (std::size_t i = 0; i + 1 < all.size(); ++i) {
    EXPECT_TRUE(all[i].starts_with("fix: ") || all[i].starts_with("note: ")) << all[i];
    fixes += all[i].starts_with("fix: ") ? 1 : 0;
  }
  EXPECT_EQ(all.back(),
            fixes == 0 ? "the site is in order" : std::to_string(fixes) + " thing(s) to fix");
  EXPECT_EQ(status, fixes == 0 ? 0 : 1);

  test::ChildProcess combined(test::kProgram, {"--site-check", "--headless"},
                              {.env = {}, .capture_stderr = true});
  EXPECT_EQ(combined.WaitForExit(), 2);
  EXPECT_EQ(combined.error_output(),
            "orvandel: --site-check goes alone: it looks at the site as installed\n");
}

// Throw-away accounts: a member of the operators' group and an outsider.
class SiteAccounts : public SiteService {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || std::system("command -v useradd > /dev/null") != 0)
      GTEST_SKIP() << "needs root and useradd to make accounts";
    SiteService::SetUp();
    // Accounts of an earlier run killed before its TearDown (a timeout): its process is gone.
    (void)std::system(
        "for u in $(getent passwd | cut -d: -f1 | grep -E '^orv(op|out)[0-9]+$'); do "
        "kill -0 \"${u##*[a-z]}\" 2> /dev/null || userdel -f \"$u\"; done");
    made_group_ = getgrnam(kOperators.c_str()) == nullptr;
    if (made_group_) {
      ASSERT_EQ(std::system(("groupadd " + kOperators).c_str()), 0);
    }
    ASSERT_EQ(std::system(("useradd -M -N -g users -G " + kOperators + " " + member_).c_str()), 0);
    ASSERT_EQ(std::system(("useradd -M -N -g users " + outsider_).c_str()), 0);
    // Others may pass through to what the test gives them; the socket's own mode is the service's.
    fs::permissions(folder_.path(), fs::perms(0755));
  }
  void TearDown() override {
    for (const std::string& user : {member_, outsider_})
      (void)std::system(("userdel -f " + user + " 2> /dev/null").c_str());
    if (made_group_) (void)std::system(("groupdel " + kOperators).c_str());
  }
  // The built program as the outsider; setpriv executes it, so that signals reach it.
  std::unique_ptr<test::ChildProcess> RunAsOutsider(const std::vector<std::string>& args) {
    std::vector<std::string> all{
        "--reuid=" + outsider_,      "--regid=users", "--init-groups", "--", "/usr/bin/env",
        "QT_QPA_PLATFORM=offscreen", test::kProgram};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_unique<test::ChildProcess>(
        "/usr/bin/setpriv", all, test::ChildOptions{.env = {}, .capture_stderr = true});
  }
  std::string member_ = "orvop" + std::to_string(getpid());
  std::string outsider_ = "orvout" + std::to_string(getpid());
  bool made_group_ = false;
};

TEST_F(SiteAccounts, ASocketTheOperatorsGroupCannotHaveStopsTheService) {
  fs::create_directories(state_ / "SYSINI");
  fs::copy_file(folder_.path() / "SYSINI" / "MainForm.INI", state_ / "SYSINI" / "MainForm.INI");
  ASSERT_EQ(std::system(("chown -R " + outsider_ + " " + state_.string()).c_str()), 0);
  const std::string socket_path = (state_ / "panel.sock").string();
  // Not in the group, the account cannot give its socket to it.
  auto service =
      RunAsOutsider({"--headless", "--state-folder", state_.string(), "--socket", socket_path});
  EXPECT_EQ(service->WaitForExit(), 1) << service->output();
  EXPECT_TRUE(Has(service->error_output(), "Windows cannot attach at " + socket_path +
                                               ": it cannot be given to the group " + kOperators));
}

TEST_F(SiteAccounts, AJournalTheUserMayNotReadIsPermissionDeniedNeverNoJournalYet) {
  const fs::path journal = state_ / "DATA" / "Journal.sqlite";
  fs::create_directories(state_ / "DATA");
  test::WriteBytes(journal, "");
  // The folder closed to the user, or the folder open and the journal closed.
  const std::tuple<fs::perms, fs::perms> modes[] = {{fs::perms(0700), fs::perms(0644)},
                                                    {fs::perms(0755), fs::perms(0600)}};
  for (const auto& [folder_mode, journal_mode] : modes) {
    fs::permissions(state_ / "DATA", folder_mode);
    fs::permissions(journal, journal_mode);
    for (const char* command : {"--journal-verify", "--journal-export"}) {
      SCOPED_TRACE(command);
      auto program = RunAsOutsider({command, "--state-folder", state_.string()});
      EXPECT_EQ(program->WaitForExit(), 1);
      EXPECT_EQ(program->error_output(), "orvandel: permission denied: run as root (" +
                                             journal.string() + " cannot be read by this user)\n");
      EXPECT_EQ(program->output(), "");
    }
  }
}

// The socket is the operators' group's: an outsider's window says what to do and opens no line;
// the socket opened to all, the service refuses the outsider by the peer; a member acts under the
// member's name.
TEST_F(SiteAccounts, TheGroupMayAttachAndActsUnderItsOwnNamesAndAnOutsiderOpensNoLine) {
  auto sim = StartSim();
  auto service = StartProgram({"--headless", "--socket", socket_.string()});
  ASSERT_TRUE(service->WaitForOutput(" link Connected: ")) << service->output();
  struct stat st {};
  ASSERT_EQ(stat(socket_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660U);
  EXPECT_EQ(st.st_gid, getgrnam(kOperators.c_str())->gr_gid);
  // The build's program, whose module is beside it.
  auto window = RunAsOutsider({"--socket", socket_.string()});
  const std::string said = "you are not in the group " + kOperators +
                           ": ask your administrator to run `adduser " + outsider_ + " " +
                           kOperators + "`, then log in again";
  for (int i = 0; i < 250 && !Has(window->error_output(), said); ++i) {
    window->Drain();
    usleep(20000);
  }
  EXPECT_TRUE(Has(window->error_output(), said));
  EXPECT_EQ(window->Stop(), 0) << window->error_output();
  EXPECT_FALSE(Has(window->error_output(), "COM1"));

  const std::string key = std::string(R"({"type":"action","id":7,"action":"key","key":2})") + "\n";
  EXPECT_TRUE(Has(Ask(socket_, key, outsider_), "connect: Permission denied"));
  ASSERT_EQ(chmod(socket_.c_str(), 0666), 0);
  EXPECT_TRUE(Has(Ask(socket_, key, outsider_),
                  "\"reason\":\"user " + outsider_ + " is not in the group " + kOperators + "\""));
  EXPECT_TRUE(Has(Ask(socket_, key, member_), R"({"id":7,"result":"done","type":"result"})"));

  EXPECT_EQ(service->Stop(), 0);
  std::vector<std::string> keyed_by;
  for (const JournalRow& row : Rows())
    if (row.entry.text == "Key EMG ACK") keyed_by.push_back(row.entry.login);
  EXPECT_EQ(keyed_by, std::vector<std::string>{member_});
  // The service's own connect is the only one the controller saw.
  sim->Drain();
  const std::string& line = sim->output();
  EXPECT_EQ(line.find("supervision time"), line.rfind("supervision time")) << line;
}

}  // namespace
}  // namespace orv
