// The sign-off through the program's gate: both PINs checked, nobody logged in or out by it, the
// record naming both operators and the report's hash; with levels off the names as typed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_check_pool.h"
#include "access/pin_hash.h"
#include "handover/handover_signoff.h"

namespace orv {
namespace {

const Origin kWindow{OriginKind::kWindow, ""};
const std::string kHash(64, 'a');

const UsersFile& Staff() {
  static const UsersFile users{AccessMode::kOn,
                               {Operator{"alice", AccessLevel::kLevel1, *HashPin("1234"), false},
                                Operator{"bob", AccessLevel::kLevel2, *HashPin("5678"), false},
                                Operator{"dave", AccessLevel::kLevel3, *HashPin("1111"), true}}};
  return users;
}

AccessClock::time_point Now() {
  return AccessClock::time_point{};
}

struct Case {
  const char* what;
  AccessMode mode;
  SignOffParty outgoing, incoming;
  std::string said;  // the record, or why not
  int refused_pins;  // refusals the gate told
};

TEST(HandoverSignOff, BothPinsAtTheGateAndTheRecord) {
  const std::string checked = "Handover signed: alice to bob, report SHA-256 " + kHash;
  const std::vector<Case> cases{
      {"both right", AccessMode::kOn, {"alice", "1234"}, {"bob", "5678"}, checked, 0},
      {"outgoing wrong",
       AccessMode::kOn,
       {"alice", "9999"},
       {"bob", "5678"},
       "not signed off: name or PIN not accepted for alice",
       1},
      {"incoming wrong",
       AccessMode::kOn,
       {"alice", "1234"},
       {"bob", "1234"},
       "not signed off: name or PIN not accepted for bob",
       1},
      {"incoming unknown",
       AccessMode::kOn,
       {"alice", "1234"},
       {"eve", "5678"},
       "not signed off: name or PIN not accepted for eve",
       1},
      {"incoming disabled",
       AccessMode::kOn,
       {"alice", "1234"},
       {"dave", "1111"},
       "not signed off: name or PIN not accepted for dave",
       1},
      {"one person",
       AccessMode::kOn,
       {"alice", "1234"},
       {"alice", "1234"},
       "not signed off: the outgoing and the incoming operator are two people",
       0},
      {"levels off",
       AccessMode::kOff,
       {"al\nice", ""},
       {std::string(70, 'b'), ""},
       "Handover signed (access levels off, names not checked): al\\x0Aice to " +
           std::string(64, 'b') + "... (70 bytes), report SHA-256 " + kHash,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UsersFile users = Staff();
    users.mode = c.mode;
    AccessGate gate(users);
    // The window's own operator stays logged in: a sign-off is no log-in.
    if (c.mode == AccessMode::kOn) {
      ASSERT_EQ(gate.LogIn(kWindow, "bob", "5678", Now()).outcome, LogInOutcome::kOk);
    }
    int refused = 0;
    const Connection counting = gate.events.Connect([&](const AccessEvent& e) {
      EXPECT_NE(e.kind, AccessEventKind::kLogIn);
      EXPECT_NE(e.kind, AccessEventKind::kLogOut);
      if (e.kind == AccessEventKind::kRefusedPin) ++refused;
    });
    std::vector<SignOffOutcome> outcomes;
    SignOffHandover(&gate, kWindow, c.outgoing, c.incoming, kHash, Now,
                    [&](const SignOffOutcome& o) { outcomes.push_back(o); });
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].text, c.said);
    EXPECT_EQ(outcomes[0].signed_off, c.said.starts_with("Handover signed"));
    EXPECT_EQ(refused, c.refused_pins);
    if (c.mode == AccessMode::kOn) {
      EXPECT_EQ(gate.OperatorName(kWindow), "bob");
    }
  }
}

// The PINs are checked on the pool's workers; the answer comes back through the loop's post.
TEST(HandoverSignOff, ThePinsAreCheckedOffTheLoop) {
  AccessGate gate(Staff());
  std::vector<std::function<void()>> posted;
  std::mutex mutex;
  std::vector<std::thread::id> checked_on;
  PinCheckPool pool(
      [&](std::function<void()> call) {
        const std::lock_guard lock(mutex);
        posted.push_back(std::move(call));
      },
      [&](std::string_view pin, std::string_view hash) {
        {
          const std::lock_guard lock(mutex);
          checked_on.push_back(std::this_thread::get_id());
        }
        return VerifyPin(pin, hash);
      },
      [] { return *HashPin("0000"); }, {});
  gate.UsePinChecks(&pool);
  std::optional<SignOffOutcome> outcome;
  SignOffHandover(&gate, kWindow, {"alice", "1234"}, {"bob", "5678"}, kHash, Now,
                  [&](const SignOffOutcome& o) { outcome = o; });
  // The loop: run what the workers post until the answer came.
  for (int turn = 0; turn < 2000 && !outcome; ++turn) {
    std::vector<std::function<void()>> calls;
    {
      const std::lock_guard lock(mutex);
      calls.swap(posted);
    }
    for (auto& call : calls)
      call();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(outcome->text, "Handover signed: alice to bob, report SHA-256 " + kHash);
  const std::lock_guard lock(mutex);
  ASSERT_EQ(checked_on.size(), 2u);
  for (const std::thread::id id : checked_on)
    EXPECT_NE(id, std::this_thread::get_id());
}

}  // namespace
}  // namespace orv
