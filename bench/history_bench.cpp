// Reading a big journal: a million records (about two months of a busy site, one every 5 s),
// made once through Journal::Append/Commit with real chain values and kept in the temporary
// folder for later runs. Measured: the insert rate in big batches, the history window's opening
// (the newest page, with and without filters), and the filtered query the goal names (one kind,
// 24 hours and a text). Goals: opening under 0.5 s, the filtered query under 200 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_page.h"
#include "journal/journal_query.h"
#include "platform/sqlite.h"
#include "tests/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kRecords = 1000000;
constexpr std::int64_t kStart = 1796601600000;  // 2026-12-07 00:00 UTC
constexpr std::int64_t kStep = 5000;            // one record every 5 s
constexpr std::int64_t kDay = 86400000;

// Record i of the big journal: mostly events, some operator actions, link and program records.
orv::JournalEntry BigEntry(std::int64_t i) {
  orv::JournalEntry e;
  e.time = {kStart + i * kStep, 3600};
  e.login = i % 7 == 0 ? "bob" : "alice";
  e.host = "panel-pc";
  const int unit = static_cast<int>(i % 23), zone = static_cast<int>(i / 3 % 17);
  switch (i % 20) {
    case 0:
    case 1:
      e.kind = orv::JournalKind::kOperator;
      e.text = "Trigger EMG page " + std::to_string(zone % 5 + 1) + " number " +
               std::to_string(unit) + " on";
      break;
    case 2:
      e.kind = orv::JournalKind::kLink;
      e.text = "Connect COM1 /dev/ttyUSB0 9600,N,8,1";
      break;
    case 3:
      e.kind = orv::JournalKind::kProgram;
      e.text = "Program start, version 2.16.08, user alice";
      break;
    default:
      e.kind = orv::JournalKind::kEvent;
      e.text = "12/07 02:15 Event = Fault " + std::to_string(i % 149) + " Unit " +
               std::to_string(unit) + " Zone " + std::to_string(zone);
      e.raw_hex = "0203A0" + std::to_string(10 + unit) + "0000470" + std::to_string(i % 10);
  }
  return e;
}

// The big journal, built on first use and kept (it takes a while to make).
const fs::path& BigJournal() {
  static const fs::path file = [] {
    // The folder's name says the journal's form: one made before the index is made again.
    const fs::path folder = fs::temp_directory_path() / "orvandel-history-bench-indexed";
    const fs::path path = folder / orv::Journal::kFileName;
    orv::JournalReader reader;
    std::int64_t last = 0;
    if (reader.Open(path).ok() && reader.LastSequence(last).ok() && last == kRecords) return path;
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::fprintf(stderr, "making %lld records in %s ...\n", static_cast<long long>(kRecords),
                 path.c_str());
    orv::Journal journal(folder, nullptr);
    // Batches as big as the journal lets wait: more would be dropped, not written.
    const std::int64_t batch = static_cast<std::int64_t>(orv::JournalOptions{}.waiting_limit);
    for (std::int64_t i = 0; i < kRecords; ++i) {
      journal.Append(BigEntry(i));
      if ((i + 1) % batch == 0 && !journal.Commit()) std::abort();
    }
    if (!journal.Commit() || journal.dropped() != 0) std::abort();
    return path;
  }();
  return file;
}

// Records a second through Append and one Commit of state.range(0) records, chain included.
void BM_JournalInsertBatch(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::Journal journal(folder.path(), nullptr);
  std::int64_t i = 0;
  for (auto _ : state) {
    for (std::int64_t n = 0; n < state.range(0); ++n)
      journal.Append(BigEntry(i++));
    if (!journal.Commit()) state.SkipWithError("the journal could not be written");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_JournalInsertBatch)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The filter of the goal: events of one day in the middle of the journal whose text has "unit 12".
orv::JournalFilter DayOfEventsWithText() {
  orv::JournalFilter filter;
  filter.kind = orv::JournalKind::kEvent;
  filter.from_utc_ms = kStart + 30 * kDay;
  filter.to_utc_ms = kStart + 31 * kDay - 1;
  filter.text = "unit 12";
  return filter;
}

// Each iteration's time, as counters: the 95th percentile and the longest (p95_ms, max_ms).
void ReportLatencies(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["p95_ms"] = ms[ms.size() * 95 / 100];
  state.counters["max_ms"] = ms.back();
}

// The history window opening: a fresh connection and the newest page, asked for span after span
// (as the window's model does) until rows come or the journal ends.
void OpenHistory(benchmark::State& state, const orv::JournalFilter& filter) {
  const fs::path& file = BigJournal();
  std::vector<double> took_ms;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    orv::JournalReader reader;
    orv::JournalPageQuery query;
    query.filter = filter;
    orv::JournalPage page;
    bool read = reader.Open(file).ok();
    while (read && (read = orv::ReadJournalPage(reader, query, page).ok()) && page.rows.empty() &&
           page.more)
      query.before = page.oldest_seen;
    if (!read) {
      state.SkipWithError("the journal could not be read");
      break;
    }
    benchmark::DoNotOptimize(page.rows.size());
    took_ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  ReportLatencies(state, std::move(took_ms));
}

void BM_HistoryOpenUnfiltered(benchmark::State& state) {
  OpenHistory(state, {});
}
BENCHMARK(BM_HistoryOpenUnfiltered)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HistoryOpenFiltered(benchmark::State& state) {
  OpenHistory(state, DayOfEventsWithText());
}
BENCHMARK(BM_HistoryOpenFiltered)->Unit(benchmark::kMillisecond)->UseRealTime();

// A text that is found only in old records: the newest page has to look far back.
void BM_HistoryOpenRareText(benchmark::State& state) {
  orv::JournalFilter filter;
  filter.text = "no such text";
  OpenHistory(state, filter);
}
BENCHMARK(BM_HistoryOpenRareText)->Unit(benchmark::kMillisecond)->UseRealTime();

// The filtered query on an open connection: how many match, and the newest page of them.
void BM_FilteredQuery(benchmark::State& state) {
  orv::JournalReader reader;
  if (!reader.Open(BigJournal()).ok()) state.SkipWithError("the journal could not be read");
  const orv::JournalFilter filter = DayOfEventsWithText();
  std::vector<orv::JournalRow> rows;
  std::int64_t count = 0;
  for (auto _ : state) {
    if (!reader.Count(filter, count).ok() || !reader.NewestFirst(filter, 0, 200, rows).done()) {
      state.SkipWithError("the query failed");
      break;
    }
  }
  state.counters["matches"] = static_cast<double>(count);
  state.counters["page"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_FilteredQuery)->Unit(benchmark::kMillisecond)->UseRealTime();

// A text most records have: the newest page of it, as the window opens with it.
void BM_HistoryOpenCommonText(benchmark::State& state) {
  orv::JournalFilter filter;
  filter.text = "Event = Fault";
  OpenHistory(state, filter);
}
BENCHMARK(BM_HistoryOpenCommonText)->Unit(benchmark::kMillisecond)->UseRealTime();

// A storm's tick: 149 records in one commit, their words indexed with them.
// Over a copy of the million records, whose index the new words join.
void BM_CommitOfAStormTick(benchmark::State& state) {
  orv::test::TempFolder folder;
  fs::copy_file(BigJournal(), folder.path() / orv::Journal::kFileName);
  orv::JournalOptions options;
  options.anchor = nullptr;
  options.retention = {0, 0};  // a storm's cost alone, no pruning beside it
  orv::Journal journal(folder.path(), nullptr, options);
  std::int64_t i = kRecords;
  journal.Append(BigEntry(i++));
  if (!journal.Commit()) state.SkipWithError("the journal could not be opened");
  std::vector<double> took_ms;
  for (auto _ : state) {
    for (int n = 0; n < 149; ++n)
      journal.Append(BigEntry(i++));
    const auto start = std::chrono::steady_clock::now();
    if (!journal.Commit()) state.SkipWithError("the journal could not be written");
    took_ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  ReportLatencies(state, std::move(took_ms));
}
BENCHMARK(BM_CommitOfAStormTick)->Unit(benchmark::kMillisecond)->UseRealTime();

// A million records of a journal made before the index: indexed a chunk a commit, as the
// program's quiet ticks do, until whole. Real time is the whole build; commits counts the ticks.
void BM_IndexAnOlderJournal(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    orv::test::TempFolder folder;
    fs::copy_file(BigJournal(), folder.path() / orv::Journal::kFileName);
    {
      orv::sqlite::Database db;
      if (!db.Open(folder.path() / orv::Journal::kFileName, orv::sqlite::kReadWrite).ok() ||
          !db.Exec("DROP TABLE journal_text; DROP TABLE journal_text_state").ok())
        state.SkipWithError("the journal could not be made older");
    }
    std::string said;
    orv::Journal journal(folder.path(), [&said](const orv::Notice& n) { said = n.text; });
    state.ResumeTiming();
    int commits = 0;
    journal.Append(BigEntry(kRecords));
    while (said.find("indexed: every search") == std::string::npos && commits < 100000) {
      if (!journal.Commit()) state.SkipWithError("the journal could not be written");
      ++commits;
    }
    state.counters["commits"] = commits;
  }
}
BENCHMARK(BM_IndexAnOlderJournal)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Retention's work on a tick, over a copy of the million-record journal: commits of one new
// record each, timed one by one (counters: p95_ms, max_ms, commits). BM_CommitThatPrunesASegment:
// the budget is far below the journal's size, so that every commit measured also prunes the
// oldest segment (its chain walked, its rows taken out of the index and deleted, the pruning
// record written). BM_RoundOfPruningAndMerge: a budget 11 % below the pages in use, from the
// first commit to the end of the round, the index merged and the records of meanwhile indexed.
struct RetentionRun {
  orv::test::TempFolder folder;
  std::vector<double> commits_ms;
  std::string problem;
  std::unique_ptr<orv::Journal> journal;
  std::int64_t next = kRecords;

  explicit RetentionRun(std::int64_t budget_of_used_percent) {
    const fs::path file = folder.path() / orv::Journal::kFileName;
    fs::copy_file(BigJournal(), file);
    std::int64_t used = 0;
    {
      orv::sqlite::Database db;
      std::string pages, free;
      if (db.Open(file, orv::sqlite::kReadOnly).ok() &&
          db.QueryText("PRAGMA page_count", pages).ok() &&
          db.QueryText("PRAGMA freelist_count", free).ok())
        used = (std::stoll(pages) - std::stoll(free)) * 4096;
    }
    orv::JournalOptions options;
    options.anchor = nullptr;
    options.clock = [] { return orv::JournalTime{kStart + kRecords * kStep, 3600}; };
    options.retention = {0, used / 100 * budget_of_used_percent};
    journal = std::make_unique<orv::Journal>(
        folder.path(),
        [this](const orv::Notice& n) {
          if (n.level == orv::NoticeLevel::kError) problem = n.text;
        },
        options);
    Commit();  // opens the file: the next commit measures it
    commits_ms.clear();
  }
  bool Commit() {
    journal->Append(BigEntry(next++));
    const auto start = std::chrono::steady_clock::now();
    const bool ok = journal->Commit();
    commits_ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    return ok;
  }
  void Count(benchmark::State& state) {
    state.counters["commits"] = static_cast<double>(commits_ms.size());
    ReportLatencies(state, commits_ms);
    if (!problem.empty()) state.SkipWithError(problem.c_str());
  }
  // The first record's sequence number and whether the index is whole.
  std::int64_t First(bool& whole) {
    orv::sqlite::Database db;
    std::string first, live_from, built_upto;
    whole = false;
    const fs::path file = folder.path() / orv::Journal::kFileName;
    if (!db.Open(file, orv::sqlite::kReadOnly).ok() ||
        !db.QueryText("SELECT min(seq) FROM journal", first).ok() ||
        !db.QueryText("SELECT live_from FROM journal_text_state", live_from).ok() ||
        !db.QueryText("SELECT built_upto FROM journal_text_state", built_upto).ok())
      return 0;
    whole = std::stoll(built_upto) + 1 >= std::stoll(live_from);
    return std::stoll(first);
  }
};

void BM_CommitThatPrunesASegment(benchmark::State& state) {
  RetentionRun run(5);
  for (auto _ : state) {
    if (!run.Commit()) state.SkipWithError("the journal could not be written");
  }
  bool whole = false;
  state.counters["pruned"] = static_cast<double>(run.First(whole) - 1);
  run.Count(state);
}
BENCHMARK(BM_CommitThatPrunesASegment)
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RoundOfPruningAndMerge(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    RetentionRun run(89);
    state.ResumeTiming();
    bool whole = true;
    bool merging = false;
    for (int tick = 0; tick < 20000; ++tick) {
      if (!run.Commit()) state.SkipWithError("the journal could not be written");
      // Looked at every 10 ticks: the round ends once the index, merged, is whole again.
      if (tick % 10 != 0) continue;
      run.First(whole);
      if (!whole) merging = true;
      if (merging && whole) break;
    }
    state.counters["pruned"] = static_cast<double>(run.First(whole) - 1);
    run.Count(state);
  }
}
BENCHMARK(BM_RoundOfPruningAndMerge)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Scrolling: the next page below a point deep in the journal.
void BM_HistoryNextPage(benchmark::State& state) {
  orv::JournalReader reader;
  if (!reader.Open(BigJournal()).ok()) state.SkipWithError("the journal could not be read");
  std::vector<orv::JournalRow> rows;
  for (auto _ : state) {
    if (!reader.NewestFirst({}, kRecords / 3, 200, rows).done()) {
      state.SkipWithError("the query failed");
      break;
    }
  }
}
BENCHMARK(BM_HistoryNextPage)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
