// The service's tick while a local socket's user floods it with actions it refuses: at level 1
// (refused for the level) and logged in at level 2 (keys past the pace of a hand). Each refusal
// is coalesced in the journal, so the tick (the window model's, with the journal's commit, and
// the state to the windows) should stay as short as without a flood. The flood's lines go through
// the attach hub as the socket hands them over, between ticks, on a fake clock of 100 ms a tick;
// the attack measured 90,000 a second (9,000 a tick). Counters: the records and key frames a tick
// makes, and the time the flood itself took per tick (the loop's share the peer takes).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "access/pin_hash.h"
#include "attach/attach_hub.h"
#include "link/frame.h"
#include "panel/main_form.h"
#include "panel/panel_actions.h"
#include "tests/support/fake_serial_port.h"
#include "tests/temp_folder.h"

namespace {

// Arguments: refused actions a tick, and whether the user's operator is logged in (level 2).
void BM_ServiceTickUnderRefusalFlood(benchmark::State& state) {
  const auto per_tick = static_cast<int>(state.range(0));
  const bool logged_in = state.range(1) != 0;
  orv::test::TempFolder folder;
  orv::FakeSerialPort port;
  orv::AccessGate gate(orv::UsersFile{
      orv::AccessMode::kOn, {{"opa", orv::AccessLevel::kLevel2, *orv::HashPin("1234"), false}}});
  orv::AccessClock::time_point now{};
  orv::MainFormEnvironment env{port, folder.path(), nullptr, orv::SystemLocalTime, {}};
  env.gate = &gate;
  env.access_clock = [&now] { return now; };
  orv::MainForm form(std::move(env));
  form.Form_Load();
  form.ConnectCB_Click();
  std::size_t records = 0;
  const orv::Connection counting =
      form.recorded().Connect([&records](const orv::JournalEntry&) { ++records; });
  orv::PanelActions actions(form,
                            orv::ServiceLine{[](const orv::Actor&) {}, [](const orv::Actor&) {}});
  orv::AttachHub hub(
      orv::AttachLimits{}, [&](const orv::ActionRequest& action, const std::string& user) {
        return orv::PerformAtGate(&gate, actions, action,
                                  orv::Origin{orv::OriginKind::kLocalSocket, user}, now);
      });
  std::size_t answered = 0;
  const int id = hub.Attach(
      "opa", [&answered](const std::string&) { ++answered; }, [] { return std::size_t{0}; });
  if (logged_in)
    hub.Received(id, R"({"type":"action","id":1,"action":"log-in","operator":"opa","pin":"1234"})"
                     "\n");
  // Keys from the socket as fast as it takes them: EMG Reset, a line each.
  std::string flood;
  for (int i = 0; i < per_tick; ++i)
    flood += R"({"type":"action","id":2,"action":"key","key":3})"
             "\n";
  std::size_t frames = 0;
  std::chrono::steady_clock::duration flood_time{};
  records = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto flood_start = std::chrono::steady_clock::now();
    hub.Received(id, flood);
    flood_time += std::chrono::steady_clock::now() - flood_start;
    // STX, LEN, CMD: the polls the ticks sent are not counted.
    for (const orv::Bytes& frame : port.writes())
      frames += frame.size() > 2 && frame[2] == orv::cmd::kPanelKey ? 1 : 0;
    port.ClearWrites();
    now += std::chrono::milliseconds(100);
    state.ResumeTiming();
    form.TRTimer_Timer();
    hub.Tick(form.state_store().state());
  }
  if (orv::Journal* journal = form.journal(); journal == nullptr || journal->waiting() != 0)
    state.SkipWithError("the journal did not keep up");
  const auto ticks = static_cast<double>(state.iterations());
  state.counters["records_per_tick"] = static_cast<double>(records) / ticks;
  state.counters["key_frames_per_s"] = static_cast<double>(frames) / ticks * 10;
  state.counters["flood_ms_per_tick"] =
      std::chrono::duration<double, std::milli>(flood_time).count() / ticks;
  if (answered < static_cast<std::size_t>(per_tick) * state.iterations())
    state.SkipWithError("not every action was answered");
}
// 200 ticks: 20 s on the gate's clock, two of the refusals' 10 s windows.
BENCHMARK(BM_ServiceTickUnderRefusalFlood)
    ->ArgNames({"refused_per_tick", "logged_in"})
    ->Args({0, 0})
    ->Args({1'000, 0})
    ->Args({9'000, 0})
    ->Args({9'000, 1})
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
