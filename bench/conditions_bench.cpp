// Deriving the conditions from the panel's state, as each tick does: a state of 12 lamps and
// 240 named triggers, half the lamps changing every tick, an alarm standing, one shelf; then the
// ordered list and the summary a view shows.
#include <benchmark/benchmark.h>

#include <vector>

#include "conditions/condition_book.h"

namespace orv {
namespace {

void BM_ConditionsPerTick(benchmark::State& bench) {
  PanelState state = EmptyPanelState();
  for (auto& page : state.pages)
    for (std::size_t i = 0; i < page.names.size(); ++i)
      page.names[i] = "Zone " + std::to_string(i + 1);
  ConditionBook book;
  std::vector<ConditionNews> news;
  state.lamps.fill(true);
  book.Update(state, 0);
  book.Alarm("ALERT", 0);
  book.Shelve("fault-12", "bob", "works", ConditionBook::kLongestShelfMs, 0, news);
  std::int64_t now = 0;
  for (auto _ : bench) {
    now += 100;
    for (std::size_t i = 0; i < state.lamps.size(); i += 2)
      state.lamps[i] = !state.lamps[i];
    book.Update(state, now);
    book.Tick(now, news);
    const std::vector<Condition> ordered = book.Ordered();
    const ConditionSummary summary = Summarize(ordered, 8);
    benchmark::DoNotOptimize(summary.not_shown);
    news.clear();
  }
}
BENCHMARK(BM_ConditionsPerTick);

}  // namespace
}  // namespace orv
