// What the notifications cost the tick: the rules following a state of 12 lit lamps and an
// alarm, with nothing waiting, and with over a hundred deliveries whose web hooks keep failing
// (tried again with back-off, each answer journalled and said). The tick's cost must not grow
// with the failures.
#include <benchmark/benchmark.h>

#include <string>
#include <tuple>
#include <vector>

#include "notify/notifier.h"

namespace orv {
namespace {

void BM_NotifierTick(benchmark::State& bench) {
  const bool failing = bench.range(0) != 0;
  NotifyRule rule;
  rule.name = "site";
  rule.any = true;
  rule.interval_ms = 0;
  rule.repeat_ms = {0, 300'000, 900'000};
  for (int i = 0; i < 16; ++i)
    rule.to.push_back({NotifyChannel::kWebHook, "https://hooks.example.org/" + std::to_string(i)});
  Notifier notifier({rule});
  std::vector<Condition> conditions;
  std::vector<NotifyRecord> records;
  std::int64_t now = 0;
  // Seven conditions, one a tick, sixteen hooks each: 112 deliveries, every one failing.
  for (int i = 1; i <= 12; ++i) {
    Condition& c = conditions.emplace_back();
    std::tie(c.id, c.name, c.since_ms) =
        std::tuple("fault-" + std::to_string(i), "Fault " + std::to_string(i), 0);
    if (!failing || i > 7) continue;
    notifier.Tick(conditions, true, now, i, records);
    notifier.Committed();
    for (const NotifySend& send : notifier.Release(now))
      notifier.Answered(send.delivery, {false, "HTTP 503"}, now, records);
    now += 100;
  }
  Condition& alarm = conditions.emplace_back();
  std::tie(alarm.id, alarm.kind, alarm.name) =
      std::tuple("alarm-1", ConditionKind::kAlarm, "ALERT");
  std::size_t failures = 0;
  for (auto _ : bench) {
    now += 100;
    notifier.Committed();
    for (const NotifySend& send : notifier.Release(now)) {
      notifier.Answered(send.delivery, {!failing, failing ? "HTTP 503" : "HTTP 200"}, now, records);
      ++failures;
    }
    notifier.Tick(conditions, true, now, 1000, records);
    records.clear();
  }
  bench.counters["deliveries"] = static_cast<double>(notifier.deliveries());
  bench.counters["answers"] = static_cast<double>(failures);
}
BENCHMARK(BM_NotifierTick)->Arg(0)->Arg(1)->ArgName("failing");

}  // namespace
}  // namespace orv
