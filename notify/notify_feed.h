#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "journal/journal.h"
#include "notify/notifier.h"
#include "notify/notify_channels.h"
#include "panelstate/panel_state_store.h"
#include "platform/notice.h"

namespace orv {

// The notifier fed from the panel: the conditions of its state every tick, the journal for its
// records (the program's kind, the detail saying what they are about) and the channels for its
// deliveries. A record is said on the service's output; a failure also as a notice.
class NotifyFeed {
 public:
  using PrintFn = std::function<void(const std::string&)>;
  // How long the controller must have answered before the conditions are taken as read: the
  // first replies carry the lamps.
  static constexpr std::int64_t kKnownAfterMs = 2000;
  // What a restart reads back: the records of the last day and a bit, the newest first.
  static constexpr std::int64_t kRecoverMs = 25 * 3'600'000;
  static constexpr std::size_t kRecoverRecords = 5000;

  NotifyFeed(std::vector<NotifyRule> rules, PanelStateStore& state, Journal* journal,
             NotifyChannels& channels, JournalClockFn clock, NoticeFn notice, PrintFn print,
             std::string instance = {});
  NotifyFeed(const NotifyFeed&) = delete;
  NotifyFeed& operator=(const NotifyFeed&) = delete;
  ~NotifyFeed();

  // Reads what the journal says went before this start.
  void Recover();
  // After the panel's tick (which commits the journal).
  void Tick();

  const Notifier& notifier() const { return notifier_; }

 private:
  void Keep(std::vector<NotifyRecord>& records);
  void Release(std::int64_t now_ms);

  Notifier notifier_;
  PanelStateStore& state_;
  Journal* journal_;
  NotifyChannels& channels_;
  JournalClockFn clock_;
  NoticeFn notice_;
  PrintFn print_;
  std::int64_t last_seq_ = 0;
  std::optional<std::int64_t> answering_since_ms_;
  bool known_ = false;
  Connection committed_;
  // Answers that come after the feed is gone are dropped.
  std::shared_ptr<NotifyFeed*> alive_;
};

}  // namespace orv
