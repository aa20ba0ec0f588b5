// The journal's share of a tick: one Commit of the 149 records of the worst event storm, with
// synchronous=FULL (each commit waits for the disk). The goal for the whole storm tick with the
// journal is under 20 ms. Real time is what counts here: the commit mostly waits on fsync.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "journal/journal.h"
#include "tests/temp_folder.h"

namespace {

constexpr int kStorm = 149;

orv::JournalEntry Report(const orv::Journal& journal, int i) {
  return journal.Make(orv::JournalKind::kEvent,
                      "12/07 02:15 Event = Fault " + std::to_string(i) + " Unit 12 Zone 3",
                      "0203A0120000470" + std::to_string(i % 10));
}

// Puts count records into the journal first, a thousand a commit.
void Fill(orv::Journal& journal, std::int64_t count, benchmark::State& state) {
  for (std::int64_t done = 0; done < count; done += 1000) {
    for (int i = 0; i < 1000; ++i)
      journal.Append(Report(journal, i));
    if (!journal.Commit()) state.SkipWithError("the journal could not be written");
  }
}

orv::JournalOptions Options(bool bounded) {
  orv::JournalOptions options;
  options.anchor = nullptr;  // no system journal to send to: its datagram is not what is measured
  if (!bounded) options.statement_budget = std::chrono::milliseconds(0);
  return options;
}

// Commits of 149 records each, into a journal that already holds state.range(0) records; with
// every statement bounded in time (state.range(1) = 1) or not.
void BM_JournalCommitOfAStorm(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::Journal journal(folder.path(), nullptr, Options(state.range(1) != 0));
  Fill(journal, state.range(0), state);
  for (auto _ : state) {
    for (int i = 0; i < kStorm; ++i)
      journal.Append(Report(journal, i));
    if (!journal.Commit()) state.SkipWithError("the journal could not be written");
  }
  state.SetItemsProcessed(state.iterations() * kStorm);
}
BENCHMARK(BM_JournalCommitOfAStorm)
    ->ArgsProduct({{0, 100000}, {0, 1}})
    ->ArgNames({"records", "bounded"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The chain walk of the whole file, as a check at the command line would run it.
void BM_JournalVerify(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::Journal journal(folder.path(), nullptr, Options(true));
  Fill(journal, state.range(0), state);
  for (auto _ : state) {
    const orv::JournalCheck check = journal.Verify();
    if (!check.ok) state.SkipWithError("the chain does not verify");
    benchmark::DoNotOptimize(check.good_rows);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_JournalVerify)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Anchors that go nowhere and are never read back: what is measured is the check before each one.
struct KeptAnchors final : orv::JournalAnchorSink {
  bool Send(const std::string&, const orv::JournalAnchor&, std::string&) override { return true; }
  std::optional<orv::JournalAnchor> Newest(const std::string&) override { return std::nullopt; }
};

// The check that runs on the tick before an anchor: the state.range(0) records written since the
// last anchor (a minute's worth at most) walked from the anchored value to the head, in a journal
// of 100,000 records.
void BM_JournalCheckBeforeAnAnchor(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::JournalOptions options = Options(true);
  options.anchor = std::make_shared<KeptAnchors>();
  orv::Journal journal(folder.path(), nullptr, options);
  Fill(journal, 100000, state);
  journal.AnchorNow();
  for (auto _ : state) {
    state.PauseTiming();
    Fill(journal, state.range(0), state);
    state.ResumeTiming();
    journal.AnchorNow();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_JournalCheckBeforeAnAnchor)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
