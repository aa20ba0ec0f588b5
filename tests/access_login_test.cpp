// Log-ins in two steps (a decision on the loop, a PIN check off it), the back-off per name and
// origin with its bound and its file, the web's share of checks, and the pool that checks.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "access/access_gate.h"
#include "access/login_backoff.h"
#include "access/login_backoff_file.h"
#include "access/pin_check_pool.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const AccessClock::time_point kStart{};
const Origin kWindow{OriginKind::kWindow, ""};
const Origin kWeb{OriginKind::kWeb, "192.0.2.7"};
const Origin kLocal{OriginKind::kLocalSocket, "opb"};

// The hashes are stand-ins: the gate hands them to the check and never reads them itself.
UsersFile Staff() {
  return UsersFile{AccessMode::kOn,
                   {Operator{"alice", AccessLevel::kLevel2, "$y$alice", false},
                    Operator{"dave", AccessLevel::kLevel3, "$y$dave", true}}};
}

TEST(AccessLogIn, TheDecisionAnswersAtOnceOrHandsOverACheck) {
  struct Case {
    const char* what;
    AccessMode mode;
    const char* name;
    std::optional<LogInOutcome> at_once;
    const char* hash;          // what the check is against; "" the dummy
    LogInOutcome after_right;  // the answer once the check said the PIN was right
  };
  const Case cases[] = {
      {"levels off", AccessMode::kOff, "alice", LogInOutcome::kLevelsOff, "", {}},
      {"known", AccessMode::kOn, "alice", std::nullopt, "$y$alice", LogInOutcome::kOk},
      {"unknown", AccessMode::kOn, "erin", std::nullopt, "", LogInOutcome::kUnknown},
      {"disabled", AccessMode::kOn, "dave", std::nullopt, "", LogInOutcome::kDisabled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UsersFile users = Staff();
    users.mode = c.mode;
    AccessGate gate(users);
    const LogInStart start = gate.BeginLogIn(kLocal, c.name, "1234", kStart);
    ASSERT_EQ(start.answer.has_value(), c.at_once.has_value());
    if (c.at_once) {
      EXPECT_EQ(start.answer->outcome, *c.at_once);
      continue;
    }
    EXPECT_EQ(start.check.hash, c.hash);
    EXPECT_EQ(start.check.lane, PinLane::kLocal);
    // One check at a time per origin; another origin is not held up by it.
    EXPECT_EQ(gate.BeginLogIn(kLocal, c.name, "1234", kStart).answer->outcome, LogInOutcome::kBusy);
    const LogInStart other = gate.BeginLogIn(kWindow, c.name, "1234", kStart);
    EXPECT_FALSE(other.answer.has_value());
    EXPECT_EQ(other.check.lane, PinLane::kWindow);
    EXPECT_EQ(gate.FinishLogIn(start.check.ticket, true, kStart).outcome, c.after_right);
    // The same ticket again finishes nothing.
    EXPECT_EQ(gate.FinishLogIn(start.check.ticket, true, kStart).outcome, LogInOutcome::kBusy);
    EXPECT_EQ(gate.AbandonLogIn(other.check.ticket).outcome, LogInOutcome::kBusy);
  }
}

// Unknown names wait as known ones do, so that a wait tells no name.
TEST(AccessLogIn, TheBackOffIsPerNameAndOrigin) {
  for (const char* name : {"alice", "erin"}) {
    SCOPED_TRACE(name);
    AccessGate gate(Staff());
    AccessClock::time_point now = kStart;
    for (int i = 0; i < AccessGate::kFreeAttempts; ++i) {
      now += seconds(1);  // the web's share of checks refills
      const LogInStart start = gate.BeginLogIn(kWeb, name, "0000", now);
      ASSERT_FALSE(start.answer.has_value());
      gate.FinishLogIn(start.check.ticket, false, now);
    }
    EXPECT_EQ(gate.BeginLogIn(kWeb, name, "1234", now).answer->outcome, LogInOutcome::kWaiting);
    for (const Origin& other : {kWindow, kLocal, Origin{OriginKind::kWeb, "192.0.2.8"}}) {
      const LogInStart start = gate.BeginLogIn(other, name, "1234", now);
      EXPECT_FALSE(start.answer.has_value()) << OriginText(other);
    }
  }
}

TEST(AccessLogIn, WebAddressesTogetherGetABoundedNumberOfGuessesAtAName) {
  AccessGate gate(Staff());
  AccessClock::time_point now = kStart;
  const auto web = [&](int peer, const char* pin) {
    now += seconds(1);
    const Origin from{OriginKind::kWeb, "198.51.100." + std::to_string(peer)};
    const LogInStart start = gate.BeginLogIn(from, "alice", pin, now);
    return start.answer ? *start.answer
                        : gate.FinishLogIn(start.check.ticket, std::string(pin) == "1234", now);
  };
  for (int peer = 0; peer < AccessGate::kWebFreeAttempts - 1; ++peer)
    EXPECT_EQ(web(peer, "0000").wait, seconds(0)) << peer;
  EXPECT_EQ(web(100, "0000").wait, seconds(30));
  EXPECT_EQ(web(101, "1234").outcome, LogInOutcome::kWaiting);
  EXPECT_FALSE(gate.BeginLogIn(kWindow, "alice", "1234", now).answer.has_value());
  EXPECT_FALSE(gate.BeginLogIn(kLocal, "alice", "1234", now).answer.has_value());
  now += seconds(30);
  EXPECT_EQ(web(102, "1234").outcome, LogInOutcome::kOk);
  EXPECT_EQ(web(103, "0000").wait, seconds(0));
}

TEST(AccessLogIn, WebOriginsShareABoundedRateOfChecks) {
  AccessGate gate(Staff());
  const auto web = [&](int peer, AccessClock::time_point now) {
    return gate.BeginLogIn(Origin{OriginKind::kWeb, "198.51.100." + std::to_string(peer)}, "alice",
                           "0000", now);
  };
  for (int peer = 0; peer < AccessGate::kWebChecksPerSecond; ++peer)
    EXPECT_FALSE(web(peer, kStart).answer.has_value()) << peer;
  EXPECT_EQ(web(50, kStart).answer->outcome, LogInOutcome::kBusy);
  EXPECT_FALSE(gate.BeginLogIn(kWindow, "alice", "1234", kStart).answer.has_value());
  EXPECT_FALSE(gate.BeginLogIn(kLocal, "alice", "1234", kStart).answer.has_value());
  // A tenth of a second later, one more turn at the rate of ten a second.
  const auto later = kStart + milliseconds(1000 / AccessGate::kWebChecksPerSecond);
  EXPECT_FALSE(web(51, later).answer.has_value());
  EXPECT_EQ(web(52, later).answer->outcome, LogInOutcome::kBusy);
}

TEST(AccessLogIn, TheBackOffTableIsBoundedLosingItsOldestEntries) {
  LogInBackOff table;
  for (std::size_t i = 0; i <= LogInBackOff::kMostEntries; ++i) {
    for (int wrong = 0; wrong < LogInBackOff::kFreeAttempts; ++wrong)
      table.Failed("name" + std::to_string(i), kWeb, kStart + seconds(i));
  }
  // A kept entry goes on counting (a sixth wrong PIN: 60 s); the oldest starts again from one.
  const auto now = kStart + seconds(LogInBackOff::kMostEntries + 1);
  EXPECT_EQ(table.Failed("name1", kWeb, now), seconds(60));
  EXPECT_EQ(table.Failed("name" + std::to_string(LogInBackOff::kMostEntries), kWeb, now),
            seconds(60));
  EXPECT_EQ(table.Failed("name0", kWeb, now), seconds(0));
}

TEST(AccessLogIn, TheBackOffIsKeptInWallClockTimeAcrossARestart) {
  const std::chrono::system_clock::time_point wall{std::chrono::hours(500'000)};
  LogInBackOff before;
  for (int i = 0; i < LogInBackOff::kFreeAttempts + 1; ++i)
    before.Failed("alice", kWeb, kStart);
  before.Failed("name with blank", kLocal, kStart);
  // Saved 20 s after the last wrong PINs.
  const std::string file = before.Save(kStart + seconds(20), wall);
  EXPECT_FALSE(before.changed());

  // Started again 10 s later, on a steady clock that began anew.
  LogInBackOff after;
  const AccessClock::time_point restart = kStart + std::chrono::hours(7);
  std::string problem;
  ASSERT_TRUE(after.Load(file, restart, wall + seconds(10), problem)) << problem;
  EXPECT_EQ(after.WaitLeft("alice", kWeb, restart), seconds(30));
  EXPECT_EQ(after.WaitLeft("alice", kWindow, restart), seconds(0));
  // Its count goes on: the next wrong PIN doubles the wait.
  EXPECT_EQ(after.Failed("alice", kWeb, restart), seconds(120));
  // One more wrong PIN for the other entry makes five: it was kept too.
  for (int i = 0; i < LogInBackOff::kFreeAttempts - 2; ++i)
    after.Failed("name with blank", kLocal, restart);
  EXPECT_EQ(after.Failed("name with blank", kLocal, restart), seconds(30));
  // A clock set back since: a time ahead of it counts as now, never a longer wait.
  LogInBackOff ahead;
  ASSERT_TRUE(ahead.Load(file, restart, wall - std::chrono::hours(1), problem));
  EXPECT_EQ(ahead.WaitLeft("alice", kWeb, restart), seconds(60));
}

TEST(AccessLogIn, ADamagedBackOffFileIsAnEmptyTableAndSaysWhy) {
  const std::string header = "orvandel log-in back-off 1\n";
  const std::string good = "5\t1800000000\t1\t192.0.2.7\talice\n";
  for (const std::string& text : {
           std::string("garbage\n") + good,
           header + good + "5\t1800000000\t1\t192.0.2.7\n",         // a field short
           header + good + "x\t1800000000\t1\t192.0.2.7\talice\n",  // not a count
           header + good + "5\t1800000000\t7\t192.0.2.7\talice\n",  // no such origin
           header + good + "0\t1800000000\t1\t192.0.2.7\talice\n",  // no failure
           header + good + "5\t1800000000\t1\t192.0.2.7\talice",    // cut short
       }) {
    LogInBackOff table;
    std::string problem;
    EXPECT_FALSE(table.Load(text, kStart, std::chrono::system_clock::time_point{}, problem))
        << text;
    EXPECT_EQ(table.size(), 0U) << text;
    EXPECT_FALSE(problem.empty());
  }
}

TEST(AccessLogIn, TheBackOffFileIsReplacedWholeAndNeverReadThroughALink) {
  const test::TempFolder folder;
  const std::filesystem::path file = folder.path() / kLogInBackOffFile;
  std::string problem;
  ASSERT_TRUE(WriteLogInBackOff(file, "first", problem)) << problem;
  ASSERT_TRUE(WriteLogInBackOff(file, "second", problem)) << problem;
  EXPECT_EQ(ReadLogInBackOff(file, problem).value_or(""), "second");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);

  const std::filesystem::path link = folder.path() / "link";
  std::filesystem::create_symlink(file, link);
  EXPECT_FALSE(ReadLogInBackOff(link, problem).has_value());
  EXPECT_NE(problem, "");
}

// The pool's calls back to the loop, taken by the test.
struct Loop {
  void Post(std::function<void()> call) {
    const std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
    posted.notify_all();
  }
  // Waits until count calls came (a few seconds at most), then runs them in order.
  void Run(std::size_t count) {
    std::vector<std::function<void()>> taken;
    {
      std::unique_lock lock(mutex);
      EXPECT_TRUE(posted.wait_for(lock, seconds(5), [&] { return calls.size() >= count; }))
          << calls.size() << " of " << count << " calls came";
      taken.swap(calls);
    }
    for (auto& call : taken)
      call();
  }
  std::mutex mutex;
  std::condition_variable posted;
  std::vector<std::function<void()>> calls;
};

// A check that waits until the test lets it go, so that the queues fill.
struct Gate {
  bool Verify(std::string_view pin, std::string_view hash) {
    std::unique_lock lock(mutex);
    started.push_back(std::string(hash));
    changed.notify_all();
    changed.wait(lock, [&] { return open; });
    return pin == "1234";
  }
  void WaitStarted(std::size_t count) {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, seconds(5), [&] { return started.size() >= count; }));
  }
  void Open() {
    const std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> started;
  bool open = false;
};

TEST(PinCheckPool, QueuesAreBoundedPerLaneAndTheWindowGoesFirst) {
  Loop loop;
  Gate held;
  std::vector<std::string> answered;
  {
    PinCheckPool pool(
        [&loop](std::function<void()> call) { loop.Post(std::move(call)); },
        [&held](std::string_view pin, std::string_view hash) { return held.Verify(pin, hash); },
        [] { return std::string("dummy"); }, PinCheckPool::Limits{1, 2});
    const auto check = [&](PinLane lane, const char* pin, const char* hash, const char* who) {
      return pool.Check(lane, pin, hash, [&answered, who](bool right) {
        answered.push_back(std::string(who) + (right ? " right" : " wrong"));
      });
    };
    ASSERT_TRUE(check(PinLane::kWeb, "1234", "$y$first", "web 1"));
    held.WaitStarted(1);  // the only worker is busy with it
    EXPECT_TRUE(check(PinLane::kWeb, "0000", "$y$x", "web 2"));
    EXPECT_TRUE(check(PinLane::kWeb, "0000", "$y$x", "web 3"));
    EXPECT_FALSE(check(PinLane::kWeb, "0000", "$y$x", "web 4"));
    // A full web queue holds up neither the window nor the local sockets, which come first.
    EXPECT_TRUE(check(PinLane::kLocal, "1234", "", "local"));
    EXPECT_TRUE(check(PinLane::kWindow, "1234", "$y$alice", "window"));
    held.Open();
    loop.Run(5);
    const std::vector<std::string> order = {"web 1 right", "window right", "local right",
                                            "web 2 wrong", "web 3 wrong"};
    EXPECT_EQ(answered, order);
    // An empty hash is checked against the dummy.
    EXPECT_EQ(held.started,
              (std::vector<std::string>{"$y$first", "$y$alice", "dummy", "$y$x", "$y$x"}));
  }
}

TEST(PinCheckPool, TheGateAnswersALogInOnTheLoopAfterTheCheck) {
  Loop loop;
  AccessGate gate(Staff());
  std::vector<LogInResult> answers;
  {
    PinCheckPool pool([&loop](std::function<void()> call) { loop.Post(std::move(call)); },
                      [](std::string_view pin, std::string_view hash) {
                        return pin == "1234" && hash == "$y$alice";
                      },
                      [] { return std::string("dummy"); }, PinCheckPool::Limits{});
    gate.UsePinChecks(&pool);
    const auto answer = [&answers](const LogInResult& result) { answers.push_back(result); };
    gate.LogIn(
        kWindow, "alice", "1234", [] { return kStart; }, answer);
    gate.LogIn(
        kWeb, "erin", "1234", [] { return kStart; }, answer);
    EXPECT_TRUE(answers.empty());
    loop.Run(2);
    gate.UsePinChecks(nullptr);
  }
  ASSERT_EQ(answers.size(), 2U);
  EXPECT_EQ(gate.Level(kWindow), AccessLevel::kLevel2);
  EXPECT_EQ(answers[0].outcome == LogInOutcome::kOk ? answers[1].outcome : answers[0].outcome,
            LogInOutcome::kUnknown);
}

}  // namespace
}  // namespace orv
