// The serial lock at a site: the service's side of the step before its start (what it does with a
// lock it cannot take over), and the step itself as root against a real squatting sleep of another
// user (root only, skipped otherwise).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "site/lock_step.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using Outcome = LockStepNote::Outcome;

TEST(ServiceLockStep, BehindAStepItAsksAndStopsUnlessTheStepJudgedThatLock) {
  const PortLockHolder met{"/run/lock/LCK..ttyS0", 1234, true, "sleep", "opa", 8, 77};
  const auto judged = [&](Outcome outcome, long pid) {
    return LockStepNote{outcome, "what the step said", met.file_device, met.file_inode, pid};
  };
  const std::string lock =
      "the lock /run/lock/LCK..ttyS0 of process 1234 (sleep, user opa) on "
      "/dev/ttyS0 cannot be taken over by the service: why; ";
  // The note found at the start (none: no step runs before this service); then whether it
  // stops, whether the request was left, and what it said.
  const std::tuple<const char*, std::optional<LockStepNote>, bool, std::string> rows[] = {
      {"no step", std::nullopt, false, lock + "only root can take it over"},
      {"a step that found nothing", LockStepNote{}, true,
       lock + "the service stops so that the step before its start, as root, judges it"},
      {"a step that judged another lock", judged(Outcome::kHolder, 999), true,
       lock + "the service stops so that the step before its start, as root, judges it"},
      {"this lock a holder", judged(Outcome::kHolder, 1234), false, lock + "what the step said"},
      {"this lock refused", judged(Outcome::kRefused, 1234), false, lock + "what the step said"},
  };
  for (const auto& [what, note, stops, words] : rows) {
    test::TempFolder folder;
    std::vector<std::string> said;
    int stopped = 0;
    ServiceLockStep step(
        folder.path(), note, [&](const std::string& text) { said.push_back(text); },
        [&] { ++stopped; });
    for (int i = 0; i < 3; ++i)  // at every open that meets it
      step.BeyondReach(met, "/dev/ttyS0", "why");
    EXPECT_EQ(std::tuple(stopped, fs::exists(folder.path() / kLockRequestFile), said),
              std::tuple(stops ? 1 : 0, stops, std::vector<std::string>{words}))
        << what;
  }
  // A request that cannot be left: said, and the service goes on.
  std::vector<std::string> said;
  ServiceLockStep lost(
      "/nonexistent/state", LockStepNote{}, [&](const std::string& text) { said.push_back(text); },
      [] { FAIL(); });
  lost.BeyondReach(met, "/dev/ttyS0", "why");
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("the start's step cannot be asked: /nonexistent/state/"),
            std::string::npos)
      << said[0];
}

// A process of user nobody that sleeps, with the device open or not.
pid_t SleepAsNobody(const std::string& device_to_hold) {
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) return -1;
  const pid_t child = fork();
  if (child == 0) {
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    if (!device_to_hold.empty() && open(device_to_hold.c_str(), O_RDWR | O_NOCTTY) < 0) _exit(126);
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(125);
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Until it is the sleep, with the device open when asked.
  for (int i = 0; i < 300; ++i) {
    if (test::ReadBytes("/proc/" + std::to_string(child) + "/comm") == "sleep\n") break;
    usleep(10'000);
  }
  return child;
}

TEST(LockStep, AsRootItTakesASquatOverLeavesAHolderAndJudgesOnlyTheDeviceAsked) {
  if (geteuid() != 0) GTEST_SKIP() << "the step is root's: it plays another user's squat";
  int master = -1, slave = -1;  // a pseudo-terminal stands for the serial device
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const std::string device = ptsname(master);
  test::TempFolder state, locks;
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path lock = locks.path() / PortLockFileName(device);
  const auto squat = [&](pid_t pid) {
    test::WriteBytes(lock, std::to_string(pid) + "\nsleep\nelsewhere\n");
    ASSERT_EQ(chown(lock.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  };
  const auto step = [&](const std::optional<std::string>& request) {
    if (request) test::WriteBytes(state.path() / kLockRequestFile, *request + "\n");
    const std::string line = RunLockStep(state.path(), {locks.path()});
    EXPECT_FALSE(fs::exists(state.path() / kLockRequestFile));
    const std::optional<LockStepNote> note = TakeLockStepNote(state.path());
    EXPECT_FALSE(fs::exists(state.path() / kLockNoteFile)) << "read once";
    return std::tuple(line, note.value_or(LockStepNote{Outcome::kRefused, "no note", 0, 0, 0}));
  };
  const pid_t squatter = SleepAsNobody("");
  const pid_t holder = SleepAsNobody(device);
  ASSERT_GT(squatter, 0);
  ASSERT_GT(holder, 0);
  const auto end = [&] {
    kill(squatter, SIGKILL);
    kill(holder, SIGKILL);
    waitpid(squatter, nullptr, 0);
    waitpid(holder, nullptr, 0);
    close(slave);
    close(master);
  };
  const std::string of_squatter = "the lock " + lock.string() + " of process " +
                                  std::to_string(squatter) + " (sleep, user nobody)";

  // No request: nothing judged, and the note says a step ran.
  squat(squatter);
  auto [line, note] = step(std::nullopt);
  EXPECT_EQ(std::tuple(line, note.outcome),
            std::tuple("lock step: nothing to take over", Outcome::kNothing));
  // Asked about another path, a link's way out of /dev or no device: refused, the lock stays.
  fs::create_symlink(device, state.path() / "tty");  // the device itself, named from elsewhere
  for (const std::string& asked : {"/dev/../dev/" + device.substr(5),
                                   (state.path() / "tty").string(), std::string("/dev/shm")}) {
    std::tie(line, note) = step(asked);
    EXPECT_EQ(note.outcome, Outcome::kRefused) << asked;
    EXPECT_TRUE(fs::exists(lock)) << asked;
  }
  fs::remove(state.path() / "tty");
  // The squat of another user's sleep: taken over, said with its process.
  struct stat read {};
  ASSERT_EQ(stat(lock.c_str(), &read), 0);
  std::tie(line, note) = step(device);
  EXPECT_EQ(note.outcome, Outcome::kTakenOver);
  EXPECT_EQ(note.text, of_squatter + ", which did not have " + device +
                           " open, was taken over by the start's step, as root");
  EXPECT_EQ(line, "lock step: " + note.text);
  EXPECT_EQ(std::tuple(note.lock_inode, note.pid),
            std::tuple(static_cast<std::uint64_t>(read.st_ino), static_cast<long>(squatter)));
  EXPECT_FALSE(fs::exists(lock));
  // A sleep with the device open: a holder, left.
  squat(holder);
  std::tie(line, note) = step(device);
  EXPECT_EQ(note.outcome, Outcome::kHolder);
  EXPECT_TRUE(fs::exists(lock));
  // A stale lock of another user's (its process ended): removed.
  fs::remove(lock);
  const pid_t ended = SleepAsNobody("");
  kill(ended, SIGKILL);
  waitpid(ended, nullptr, 0);
  squat(ended);
  std::tie(line, note) = step(device);
  EXPECT_EQ(note.text, "the lock " + lock.string() + " of process " + std::to_string(ended) +
                           ", which no longer runs (user nobody) was removed by the start's step, "
                           "as root");
  EXPECT_FALSE(fs::exists(lock));
  // A link in the lock's place is neither read nor followed: what it leads to stays.
  fs::remove(lock);
  test::WriteBytes(locks.path() / "target", std::to_string(squatter) + "\n");
  fs::create_symlink(locks.path() / "target", lock);
  std::tie(line, note) = step(device);
  EXPECT_EQ(note.outcome, Outcome::kNothing);
  EXPECT_TRUE(fs::exists(locks.path() / "target"));
  end();
}

}  // namespace
}  // namespace orv
