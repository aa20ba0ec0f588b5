// Access levels: the gate over every action and level, PIN hashes and the back-off, the idle
// timeout, the users file's trust and lines, and managing operators from the command line.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "access/user_admin.h"
#include "access/users_file.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using std::chrono::minutes;
using std::chrono::seconds;
using namespace std::string_literals;

const AccessClock::time_point kStart{};
const Origin kWindow{OriginKind::kWindow, ""};
const Origin kWeb{OriginKind::kWeb, "192.0.2.7"};

// alice (level 2, PIN 1234), carol (level 3, PIN 5678), dave (disabled), hashed once.
const UsersFile& Staff() {
  static const UsersFile users{AccessMode::kOn,
                               {Operator{"alice", AccessLevel::kLevel2, *HashPin("1234"), false},
                                Operator{"carol", AccessLevel::kLevel3, *HashPin("5678"), false},
                                Operator{"dave", AccessLevel::kLevel3, *HashPin("1111"), true}}};
  return users;
}

struct Recorder {
  explicit Recorder(AccessGate& gate)
      : connection(gate.events.Connect([this](const AccessEvent& e) { events.push_back(e); })) {}
  std::vector<AccessEvent> events;
  Connection connection;
};

// An untrusted users file (row 0) allows nothing above level 1 and knows no operator; a shell
// without its log-in (row 4) is at level 0 and may do nothing.
TEST(AccessGate, EveryActionAtEveryLevel) {
  // The levels as the site's operators are told them, independent of the code's switch.
  const std::vector<std::vector<Action>> by_level = {
      {Action::kView, Action::kHistory, Action::kSilence, Action::kLampTest, Action::kAcknowledge,
       Action::kHandOver},
      {Action::kEmg, Action::kEmgMessage, Action::kEmgAck, Action::kFaultAck, Action::kEmgReset,
       Action::kFaultReset, Action::kTriggerSwitching, Action::kSupervisionOnOff,
       Action::kSupervisionTime, Action::kImpedanceCheck, Action::kShelve},
      {Action::kConnection, Action::kPortAndBaudRate, Action::kTriggerRenaming,
       Action::kWithoutDisplay}};
  ASSERT_EQ(by_level[0].size() + by_level[1].size() + by_level[2].size(), kAllActions.size());
  const std::pair<std::string, std::string> logins[] = {
      {"", ""}, {"alice", "1234"}, {"carol", "5678"}};
  for (int untrusted_or_level = 0; untrusted_or_level <= 4; ++untrusted_or_level) {
    const bool shell = untrusted_or_level == 4;
    const int level = shell ? 0 : std::max(untrusted_or_level, 1);
    const Origin origin = shell ? Origin{OriginKind::kShell, "root"} : kWeb;
    AccessGate gate(untrusted_or_level == 0 ? UsersFile{AccessMode::kOnButUntrusted, {}} : Staff());
    if (untrusted_or_level == 0) {
      EXPECT_EQ(gate.LogIn(kWeb, "alice", "1234", kStart).outcome, LogInOutcome::kUnknown);
    }
    const auto& [name, pin] = logins[std::max(level, 1) - 1];
    if (!name.empty()) {
      ASSERT_EQ(gate.LogIn(kWeb, name, pin, kStart).outcome, LogInOutcome::kOk);
    }
    Recorder recorder(gate);
    // One action a second: at a hand's pace.
    AccessClock::time_point now = kStart;
    for (int needed = 1; needed <= 3; ++needed) {
      for (const Action action : by_level[needed - 1]) {
        SCOPED_TRACE(std::string(ActionName(action)) + " at level " +
                     std::to_string(untrusted_or_level));
        const Decision decision = gate.Decide(origin, action, now += seconds(1));
        const bool allowed = level >= needed;
        EXPECT_EQ(decision.allowed, allowed);
        EXPECT_EQ(decision.text,
                  allowed ? "" : "refused: level " + std::to_string(needed) + " needed");
        ASSERT_EQ(recorder.events.size(), 1u);
        const AccessEvent& event = recorder.events.front();
        EXPECT_EQ(event.kind, allowed ? AccessEventKind::kAction : AccessEventKind::kRefusedAction);
        EXPECT_EQ(LevelNumber(event.level), level);
        recorder.events.clear();
      }
    }
  }
}

TEST(PinHash, YescryptHashesVerifyTheirPinOnly) {
  const std::string hash = *HashPin("1234");
  EXPECT_TRUE(VerifyPin("1234", hash));
  EXPECT_FALSE(VerifyPin("1235", hash));
  EXPECT_FALSE(VerifyPin("12340", hash));
  EXPECT_NE(*HashPin("1234"), hash);  // a fresh salt each time

  for (const std::string& pin : {"1234"s, "0000000000"s, std::string(64, '9')})
    EXPECT_TRUE(IsValidPin(pin)) << pin;
  for (const std::string& pin : {"123"s, ""s, "12a4"s, "1234 "s, std::string(65, '9')})
    EXPECT_FALSE(IsValidPin(pin)) << pin;
}

TEST(AccessGate, WrongPinsMakeTheNameWaitDoublingToFifteenMinutes) {
  AccessGate gate(Staff());
  Recorder recorder(gate);
  AccessClock::time_point now = kStart;
  for (int i = 1; i < AccessGate::kFreeAttempts; ++i) {
    const LogInResult result = gate.LogIn(kWindow, "alice", "0000", now);
    EXPECT_EQ(result.outcome, LogInOutcome::kWrongPin);
    EXPECT_EQ(result.wait, seconds(0));
  }
  for (const int wait : {30, 60, 120, 240, 480, 900, 900}) {
    const LogInResult wrong = gate.LogIn(kWindow, "alice", "0000", now);
    EXPECT_EQ(wrong.outcome, LogInOutcome::kWrongPin);
    // The right PIN during the wait is not even checked.
    const LogInResult early = gate.LogIn(kWindow, "alice", "1234", now + seconds(wait - 1));
    EXPECT_EQ(early.outcome, LogInOutcome::kWaiting);
    EXPECT_EQ(early.wait, seconds(1));
    // The dialog shows the wait, never the reason.
    EXPECT_EQ(LogInResultText(wrong), "not logged in: wait " + std::to_string(wait) + " s");
    now += seconds(wait);
  }
  EXPECT_EQ(gate.LogIn(kWindow, "alice", "1234", now).outcome, LogInOutcome::kOk);
  // A success starts the count afresh.
  EXPECT_EQ(gate.LogIn(kWindow, "alice", "0000", now).wait, seconds(0));

  EXPECT_EQ(AccessEventText(recorder.events.front()),
            "Log in refused (wrong PIN): alice, level 1, window");
  // An unknown name reads as a wrong PIN does.
  EXPECT_EQ(LogInResultText(gate.LogIn(kWindow, "erin", "1234", now)),
            LogInResultText(gate.LogIn(kWindow, "alice", "0000", now)));
}

// Anyone may try any name: its record keeps a bounded, escaped form of it.
TEST(AccessGate, ANameTriedIsKeptBoundedAndEscaped) {
  const std::string long_name(60000, 'x');
  const std::string accents = [] {
    std::string text;
    for (int i = 0; i < 70; ++i)
      text += "\xC3\xA9";  // é
    return text;
  }();
  const std::pair<std::string, std::string> cases[] = {
      {"erin", "erin"},
      {"a\nb\x7F\\", "a\\x0Ab\\x7F\\x5C"},
      {"\xFFok\xC3", "\\xFFok\\xC3"},  // bytes that are no UTF-8, a sequence cut short
      {long_name, std::string(64, 'x') + "... (60000 bytes)"},
      {accents, accents.substr(0, 128) + "... (140 bytes)"},  // characters, not bytes
  };
  for (const auto& [tried, kept] : cases)
    EXPECT_EQ(NameTried(tried), kept) << tried.substr(0, 20);
  AccessGate gate(Staff());
  Recorder recorder(gate);
  gate.LogIn(kWeb, long_name, "1234", kStart);
  EXPECT_EQ(recorder.events.back().operator_name, NameTried(long_name));
}

TEST(AccessGate, IdleOriginsReturnToLevel1) {
  AccessGate gate(Staff());
  ASSERT_EQ(gate.LogIn(kWindow, "alice", "1234", kStart).outcome, LogInOutcome::kOk);
  ASSERT_EQ(gate.LogIn(kWeb, "carol", "5678", kStart).outcome, LogInOutcome::kOk);
  Recorder recorder(gate);
  gate.Touch(kWindow, kStart + minutes(9));
  gate.Tick(kStart + minutes(19) - seconds(1));
  EXPECT_EQ(gate.Level(kWindow), AccessLevel::kLevel2);
  EXPECT_EQ(gate.Level(kWeb), AccessLevel::kLevel1);
  gate.Tick(kStart + minutes(19));
  EXPECT_EQ(gate.Level(kWindow), AccessLevel::kLevel1);
  ASSERT_EQ(recorder.events.size(), 2u);
  EXPECT_EQ(AccessEventText(recorder.events[0]), "Log-in timed out: carol, web 192.0.2.7");
  EXPECT_EQ(AccessEventText(recorder.events[1]), "Log-in timed out: alice, window");

  // Without a tick in between, input or an action after the timeout finds level 1; the timeout
  // is configurable.
  AccessGate quick(Staff(), seconds(60));
  ASSERT_EQ(quick.LogIn(kWindow, "alice", "1234", kStart).outcome, LogInOutcome::kOk);
  EXPECT_TRUE(quick.Decide(kWindow, Action::kEmgReset, kStart + seconds(59)).allowed);
  quick.Touch(kWindow, kStart + seconds(119));
  EXPECT_FALSE(quick.Decide(kWindow, Action::kEmgReset, kStart + seconds(119)).allowed);
  // A log out is one record.
  ASSERT_EQ(quick.LogIn(kWindow, "alice", "1234", kStart).outcome, LogInOutcome::kOk);
  Recorder out(quick);
  quick.LogOut(kWindow, kStart + seconds(1));
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(AccessEventText(out.events[0]), "Log out: alice, window");
  EXPECT_EQ(quick.Level(kWindow), AccessLevel::kLevel1);
}

TEST(AccessGate, KeysAreHeldToTheOriginsPaceLookingIsNot) {
  const std::vector<Action> looking = {
      Action::kView,           Action::kHistory, Action::kSupervisionTime, Action::kPortAndBaudRate,
      Action::kWithoutDisplay, Action::kHandOver};
  for (const Action action : kAllActions) {
    SCOPED_TRACE(ActionName(action));
    AccessGate gate(Staff());
    ASSERT_EQ(gate.LogIn(kWeb, "carol", "5678", kStart).outcome, LogInOutcome::kOk);
    int allowed = 0;
    for (int i = 0; i < 20; ++i)
      allowed += gate.Decide(kWeb, action, kStart).allowed ? 1 : 0;
    EXPECT_EQ(allowed, std::ranges::count(looking, action) != 0 ? 20 : KeyPace::kBurst);
  }

  AccessGate gate(Staff());
  ASSERT_EQ(gate.LogIn(kWeb, "carol", "5678", kStart).outcome, LogInOutcome::kOk);
  for (int i = 0; i < KeyPace::kBurst; ++i)
    ASSERT_TRUE(gate.Decide(kWeb, Action::kEmg, kStart).allowed);
  Recorder recorder(gate);
  const Decision first = gate.Decide(kWeb, Action::kEmg, kStart);
  EXPECT_TRUE(first.too_fast);
  EXPECT_FALSE(first.told_before);
  EXPECT_TRUE(gate.Decide(kWeb, Action::kFaultAck, kStart).told_before);
  ASSERT_EQ(recorder.events.size(), 2u);
  EXPECT_EQ(AccessEventText(recorder.events[0]),
            "EMG refused: more than 4 keys a second: carol, level 3, web 192.0.2.7");
  // Below its level the window's keys are refused for the level and cost it nothing; logged in,
  // it has its whole burst.
  for (int i = 0; i < 20; ++i)
    EXPECT_FALSE(gate.Decide(kWindow, Action::kEmg, kStart).too_fast);
  ASSERT_EQ(gate.LogIn(kWindow, "alice", "1234", kStart).outcome, LogInOutcome::kOk);
  for (int i = 0; i < KeyPace::kBurst; ++i)
    EXPECT_TRUE(gate.Decide(kWindow, Action::kEmg, kStart).allowed);

  AccessGate off(UsersFile{});
  Recorder off_recorder(off);
  for (int i = 0; i < KeyPace::kBurst; ++i)
    EXPECT_TRUE(off.Decide(kWindow, Action::kEmg, kStart).allowed);
  EXPECT_TRUE(off.Decide(kWindow, Action::kEmg, kStart).too_fast);
  ASSERT_EQ(off_recorder.events.size(), 1u);
  EXPECT_EQ(off_recorder.events[0].kind, AccessEventKind::kRefusedAction);
}

class UsersFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text, mode_t mode = 0600) {
    test::WriteBytes(file_, text);
    ASSERT_EQ(::chmod(file_.c_str(), mode), 0);
  }
  UsersFile Read() {
    notices_.clear();
    return ReadUsersFile(file_, [this](const Notice& n) { notices_.push_back(n.text); });
  }

  test::TempFolder temp_;
  const fs::path folder_ = temp_.path();
  const fs::path file_ = folder_ / "users";
  std::vector<std::string> notices_;
};

TEST_F(UsersFileTest, BadLinesAreIgnoredOneNoticeEach) {
  const std::string hash = Staff().operators[0].hash;
  Write("# operators\n\nalice:2:" + hash + ":0\n" +     // lines 1-3
        "bob:4:" + hash + ":0\n" +                      // 4: level
        "bad name:2:" + hash + ":0\n" +                 // 5: name
        "carol:3:$6$salt$abc:0\n" +                     // 6: not yescrypt
        "dave:3:" + hash + ":yes\n" +                   // 7: flag
        "erin:2:" + hash + "\n" +                       // 8: three fields
        "alice:3:" + hash + ":0\n" +                    // 9: second alice
        std::string(33, 'x') + ":2:" + hash + ":0\n" +  // 10: name too long
        "frank:3:" + hash + ":1");                      // 11: last line, no newline
  const UsersFile users = Read();
  EXPECT_EQ(users.mode, AccessMode::kOn);
  ASSERT_EQ(notices_.size(), 7u);
  for (std::size_t i = 0; i < notices_.size(); ++i) {
    EXPECT_NE(notices_[i].find("line " + std::to_string(i + 4) + ":"), std::string::npos)
        << notices_[i];
  }
  // What was taken, written back as it was read.
  EXPECT_EQ(FormatUsers(users.operators),
            FormatUsers({}) + "alice:2:" + hash + ":0\nfrank:3:" + hash + ":1\n");
}

TEST_F(UsersFileTest, OnlyARootFileOnlyRootMayWriteIsTrusted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  const std::string line = "alice:2:" + Staff().operators[0].hash + ":0\n";
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"group may write", [&] { Write(line, 0620); }},
      {"others may write", [&] { Write(line, 0602); }},
      {"belongs to nobody",
       [&] {
         Write(line);
         ASSERT_EQ(::chown(file_.c_str(), 65534, 0), 0);
       }},
      // Any refusal of the shared-file opener (a link, a second name, no regular file) reads so.
      {"symbolic link",
       [&] {
         Write(line);
         fs::rename(file_, folder_ / "real");
         fs::create_symlink(folder_ / "real", file_);
       }},
      {"missing from an open folder", [&] { fs::permissions(folder_, fs::perms::all); }},
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    make();
    const UsersFile users = Read();
    EXPECT_EQ(users.mode, AccessMode::kOnButUntrusted);
    EXPECT_TRUE(users.operators.empty());
    EXPECT_EQ(notices_.size(), 1u);
    fs::remove_all(folder_);
    fs::create_directory(folder_);
  }
  EXPECT_EQ(Read().mode, AccessMode::kOff);
  EXPECT_TRUE(notices_.empty());
  Write(line, 0644);
  EXPECT_EQ(Read().mode, AccessMode::kOn);
}

class UserAdminTest : public UsersFileTest {
 protected:
  int Run(const std::function<int(const AdminContext&)>& command, std::string input = {},
          std::uint32_t euid = 0) {
    in_.str(std::move(input));
    in_.clear();
    out_.str({});
    err_.str({});
    const auto typed = [this](std::string_view) {
      if (pins_.empty()) return std::optional<std::string>();
      std::string pin = pins_.front();
      pins_.erase(pins_.begin());
      return std::optional<std::string>(pin);
    };
    const AdminContext context{file_, in_, out_, err_, !pins_.empty(), typed, euid, reader_group_};
    return command(context);
  }
  mode_t Mode() const {
    struct stat info {};
    return ::stat(file_.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  std::istringstream in_;
  std::ostringstream out_, err_;
  std::vector<std::string> pins_;  // typed at a terminal
  std::string reader_group_;       // none: the file stays root's alone
};

TEST_F(UserAdminTest, OnlyRootAddsChangesDisablesAndLists) {
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "alice", 2); }, "1234\n", 1000), 1);
  EXPECT_NE(err_.str().find("Only root"), std::string::npos);
  if (::geteuid() != 0) GTEST_SKIP() << "the file must be root's";
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "alice", 2); }, "1234\n"), 0);
  pins_ = {"5678", "5678"};
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "carol", 3); }), 0);
  // Refused, each leaving the file as it was.
  pins_ = {"5678", "5679"};
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "bob", 2); }), 1);
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "bob", 2); }, "12\n"), 1);
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "bob", 4); }, "1234\n"), 1);
  EXPECT_EQ(Run([](auto& c) { return UserAdd(c, "alice", 3); }, "1234\n"), 1);
  EXPECT_EQ(Run([](auto& c) { return UserPasswd(c, "nobody"); }, "1234\n"), 1);

  ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
  EXPECT_EQ(Run([](auto& c) { return UserPasswd(c, "alice"); }, "4321\n"), 0);
  EXPECT_EQ(Mode(), 0600u);
  // Where the service's group exists, it may read the file; still only root writes it.
  reader_group_ = "daemon";
  EXPECT_EQ(Run([](auto& c) { return UserPasswd(c, "alice"); }, "4321\n"), 0);
  EXPECT_EQ(Mode(), 0640u);
  struct stat info {};
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, ::getgrnam("daemon")->gr_gid);
  reader_group_.clear();
  EXPECT_EQ(Run([](auto& c) { return UserDisable(c, "carol"); }), 0);
  EXPECT_EQ(Run([](auto& c) { return UserList(c); }), 0);
  EXPECT_EQ(out_.str(), "alice\tlevel 2\ncarol\tlevel 3\tdisabled\n");

  const UsersFile users = Read();
  ASSERT_EQ(users.operators.size(), 2u);
  EXPECT_TRUE(VerifyPin("4321", users.operators[0].hash));
  EXPECT_TRUE(VerifyPin("5678", users.operators[1].hash));

  // A file others could have changed is not rewritten.
  ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
  EXPECT_EQ(Run([](auto& c) { return UserPasswd(c, "alice"); }, "1111\n"), 1);
  EXPECT_EQ(Mode(), 0666u);
}

}  // namespace
}  // namespace orv
