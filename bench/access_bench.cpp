// One turn of the service's loop while a log-in flood runs: the flood's log-ins decided, the
// answers of finished checks taken, and the panel's tick. With the checks on the pool the turn
// stays far below the tick's 100 ms whatever the flood; checked on the loop (pool 0), every
// yescrypt check is the turn's.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_check_pool.h"
#include "access/pin_hash.h"
#include "panel/main_form.h"
#include "tests/support/fake_serial_port.h"
#include "tests/temp_folder.h"

namespace {

constexpr int kLogInsPerTurn = 20;  // 200 a second at the 100 ms tick

// The calls the pool hands back, taken at each turn as Qt's loop takes its queued calls.
struct Posted {
  void Post(std::function<void()> call) {
    const std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  void Run() {
    std::vector<std::function<void()>> taken;
    {
      const std::lock_guard lock(mutex);
      taken.swap(calls);
    }
    for (auto& call : taken)
      call();
  }
  std::mutex mutex;
  std::vector<std::function<void()>> calls;
};

void BM_LoopTurnDuringLogInFlood(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::FakeSerialPort port;
  orv::AccessGate gate(orv::UsersFile{
      orv::AccessMode::kOn,
      {orv::Operator{"alice", orv::AccessLevel::kLevel2, *orv::HashPin("1234"), false}}});
  Posted posted;
  std::optional<orv::PinCheckPool> pool;
  if (state.range(0) != 0) {
    pool.emplace([&posted](std::function<void()> call) { posted.Post(std::move(call)); },
                 orv::VerifyPin, [] { return orv::HashPin("00000000").value_or(""); },
                 orv::PinCheckPool::Limits{});
    gate.UsePinChecks(&*pool);
  }
  orv::MainFormEnvironment env{port,    folder.path(),
                               nullptr, [] {
                                 return orv::LocalDateTime{12, 4, 5, 21}; },
                               nullptr, false};
  env.gate = &gate;
  auto form = std::make_unique<orv::MainForm>(std::move(env));
  form->Form_Load();
  form->ConnectCB.PerformClick();
  const orv::AccessNowFn now = [] { return orv::AccessClock::now(); };
  std::int64_t tried = 0;
  std::int64_t answered = 0;
  std::int64_t checked = 0;
  for (auto _ : state) {
    // Wrong PINs for alice, each from a local user of its own: no back-off and no web share
    // holds them up, so every one asks for a check.
    for (int i = 0; i < kLogInsPerTurn; ++i) {
      gate.LogIn(orv::Origin{orv::OriginKind::kLocalSocket, "user" + std::to_string(tried++)},
                 "alice", "0000", now, [&](const orv::LogInResult& result) {
                   ++answered;
                   if (result.outcome != orv::LogInOutcome::kBusy) ++checked;
                 });
    }
    posted.Run();
    form->TRTimer_Timer();
  }
  gate.UsePinChecks(nullptr);
  pool.reset();
  state.counters["log_ins"] =
      benchmark::Counter(static_cast<double>(tried), benchmark::Counter::kIsRate);
  state.counters["checked"] =
      benchmark::Counter(static_cast<double>(checked), benchmark::Counter::kIsRate);
  state.counters["answered"] =
      benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoopTurnDuringLogInFlood)
    ->ArgName("pool")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3)
    ->UseRealTime();

}  // namespace
