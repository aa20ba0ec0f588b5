#include "notify/notify_feed.h"

#include <filesystem>

#include "journal/journal_query.h"

namespace orv {

NotifyFeed::NotifyFeed(std::vector<NotifyRule> rules, PanelStateStore& state, Journal* journal,
                       NotifyChannels& channels, JournalClockFn clock, NoticeFn notice,
                       PrintFn print, std::string instance)
    : notifier_(std::move(rules), std::move(instance)),
      state_(state),
      journal_(journal),
      channels_(channels),
      clock_(std::move(clock)),
      notice_(std::move(notice)),
      print_(std::move(print)),
      alive_(std::make_shared<NotifyFeed*>(this)) {
  if (journal_ != nullptr)
    committed_ = journal_->committed().Connect([this](std::int64_t seq) { last_seq_ = seq; });
}

NotifyFeed::~NotifyFeed() {
  *alive_ = nullptr;
}

void NotifyFeed::Recover() {
  if (journal_ == nullptr || notifier_.rules().empty()) return;
  std::error_code missing;
  if (!std::filesystem::exists(journal_->file(), missing)) return;  // nothing went before
  JournalReader reader;
  sqlite::Result read = reader.Open(journal_->file());
  if (read.ok()) read = reader.LastSequence(last_seq_);
  JournalFilter filter;
  filter.kind = JournalKind::kProgram;
  filter.text = "Notify ";
  filter.from_utc_ms = clock_().utc_ms - kRecoverMs;
  std::vector<JournalRow> rows;
  if (read.ok()) read = reader.NewestFirst(filter, 0, kRecoverRecords, rows);
  if (!read.ok()) {
    if (notice_)
      notice_(Notice{NoticeLevel::kError,
                     "Notifications: what went before the start cannot be read (" + read.message +
                         "); a notification due then may go again"});
    return;
  }
  std::vector<std::pair<std::string, std::string>> records;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row)
    records.emplace_back(row->entry.text, row->entry.detail);
  notifier_.Recover(records);
}

void NotifyFeed::Tick() {
  const PanelState& state = state_.state();
  const std::int64_t now = clock_().utc_ms;
  if (state.link != LinkCondition::kAnswering) {
    answering_since_ms_.reset();
  } else if (!answering_since_ms_) {
    answering_since_ms_ = now;
  }
  known_ = known_ || (answering_since_ms_ && now - *answering_since_ms_ >= kKnownAfterMs);
  // What was due is written (or cannot be written at all: then reaching someone comes first).
  if (journal_ == nullptr || journal_->waiting() == 0 || journal_->failing()) notifier_.Committed();
  Release(now);
  std::vector<NotifyRecord> records;
  notifier_.Tick(state.conditions, known_, now, last_seq_, records);
  Keep(records);
}

void NotifyFeed::Release(std::int64_t now_ms) {
  // What the channels cannot take now waits for a later tick, oldest first.
  for (NotifySend& send : notifier_.Release(now_ms, channels_.room())) {
    const std::uint64_t delivery = send.delivery;
    channels_.Send(send.to, send.message, [alive = alive_, delivery](const NotifyResult& result) {
      NotifyFeed* feed = *alive;
      if (feed == nullptr) return;
      std::vector<NotifyRecord> records;
      feed->notifier_.Answered(delivery, result, feed->clock_().utc_ms, records);
      feed->Keep(records);
    });
  }
}

void NotifyFeed::Keep(std::vector<NotifyRecord>& records) {
  for (NotifyRecord& record : records) {
    if (print_) print_(FormatJournalIsoTime(clock_(), false) + " notify " + record.text);
    if (record.say && notice_) notice_(Notice{NoticeLevel::kWarning, record.text});
    if (journal_ == nullptr) continue;
    JournalEntry entry = journal_->Make(JournalKind::kProgram, std::move(record.text));
    entry.detail = std::move(record.detail);
    journal_->Append(std::move(entry));
  }
  records.clear();
}

}  // namespace orv
