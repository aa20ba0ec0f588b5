// The shift handover report over a journal of 10,000 records (a busy shift: a record every 3 s
// for 8 h, with alarms, fault words, acknowledgements, shelves, refusals, link losses and
// log-ins), read from its file and made into text as --handover-report does. Goal: under 1 s.
#include <benchmark/benchmark.h>

#include <string>

#include "handover/handover_read.h"
#include "handover/handover_render.h"
#include "journal/journal.h"
#include "tests/temp_folder.h"

namespace {

constexpr std::int64_t kRecords = 10000;
constexpr std::int64_t kStart = 1796601600000;  // 2026-12-07 00:00 UTC
constexpr std::int64_t kStep = 3000;

orv::JournalEntry ShiftEntry(std::int64_t i) {
  orv::JournalEntry e;
  e.time = {kStart + i * kStep, 3600};
  e.login = "alice";
  e.host = "panel-pc";
  static const char* const kLamps[] = {"Mains", "Battery", "Network", "Router", "RCP"};
  const std::string lamp = kLamps[i % 5];
  e.kind = orv::JournalKind::kOperator;
  switch (i % 25) {
    case 0:
      e.kind = i == 0 ? orv::JournalKind::kProgram : orv::JournalKind::kEvent;
      e.text = i == 0 ? "Program started: Orvandel, user alice" : "12/07 02:15 Event = ALARM";
      break;
    case 1:
      e.kind = orv::JournalKind::kEvent;
      e.text = "12/07 02:15 Event = Fault 0000000011000000";
      e.detail = lamp + ", Call/EMG";
      break;
    case 2:
      e.text = "Acknowledged \"" + lamp + "\": seen";
      e.detail = "operator alice, level 2";
      break;
    case 3:
      e.text = "Shelved \"" + lamp + "\" for 240 min: works";
      break;
    case 4:
      e.text = "EMG Reset refused: level 2 needed: no operator, level 1, web 192.0.2.7";
      break;
    case 5:
      e.kind = orv::JournalKind::kLink;
      e.text = "No reply from the controller since 02:15:00 (5.0 s without a valid frame)";
      break;
    case 6:
      e.kind = orv::JournalKind::kLink;
      e.text = "The controller answers again at 02:15:20, after 20 s without a valid frame";
      break;
    case 7:
      e.text = i % 2 ? "Log in: alice, level 2, window" : "Log out: alice, window";
      break;
    case 8:
      e.kind = orv::JournalKind::kEvent;
      e.text = "12/07 02:15 Event = EMG Reset";
      break;
    default:
      e.kind = orv::JournalKind::kEvent;
      e.text = "12/07 02:15 Event = TRG M0 000000000001";
      e.detail = "EMG 1";
  }
  return e;
}

// A journal of records shift entries in folder, written 10,000 to a commit.
std::filesystem::path MakeJournal(const std::filesystem::path& folder, std::int64_t records,
                                  benchmark::State& state) {
  orv::JournalOptions options;
  options.anchor = nullptr;
  orv::Journal journal(folder, nullptr, options);
  for (std::int64_t i = 0; i < records; ++i) {
    journal.Append(ShiftEntry(i));
    if ((i + 1) % 10000 == 0 && !journal.Commit())
      state.SkipWithError("the journal could not be written");
  }
  if (!journal.Commit()) state.SkipWithError("the journal could not be written");
  return journal.file();
}

void BM_HandoverReport10k(benchmark::State& state) {
  orv::test::TempFolder folder;
  const std::filesystem::path file = MakeJournal(folder.path(), kRecords, state);
  const orv::JournalTime now{kStart + kRecords * kStep, 3600};
  // 0: the period as no sign-off leaves it (the last 24 h, after the search for one); 1: --since
  // the first record.
  orv::HandoverAsk ask{now, {}};
  if (state.range(0) == 1) ask.since_ms = kStart;
  std::size_t bytes = 0;
  for (auto _ : state) {
    orv::JournalReader reader;
    orv::HandoverReport report;
    if (!reader.Open(file).ok() || !orv::ReadHandoverReport(reader, ask, report).ok())
      state.SkipWithError("the report could not be read");
    const std::string text = orv::HandoverText(report);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["text_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HandoverReport10k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same shift's 10,000 records at the end of 500,000 since the program's start (17 days of
// records every 3 s): what stood before the period is replayed from that start.
void BM_HandoverReportAfter500k(benchmark::State& state) {
  constexpr std::int64_t kAll = 500000;
  orv::test::TempFolder folder;
  const std::filesystem::path file = MakeJournal(folder.path(), kAll, state);
  const orv::HandoverAsk ask{orv::JournalTime{kStart + kAll * kStep, 3600},
                             kStart + (kAll - kRecords) * kStep};
  for (auto _ : state) {
    orv::JournalReader reader;
    orv::HandoverReport report;
    if (!reader.Open(file).ok() || !orv::ReadHandoverReport(reader, ask, report).ok())
      state.SkipWithError("the report could not be read");
    benchmark::DoNotOptimize(orv::HandoverText(report));
  }
}
BENCHMARK(BM_HandoverReportAfter500k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
