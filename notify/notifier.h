#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "notify/notify_message.h"
#include "notify/notify_records.h"
#include "notify/notify_rules.h"
#include "panelstate/condition.h"

namespace orv {

// A record for the journal (the program's kind), and whether the status bar says it too.
struct NotifyRecord {
  std::string text;
  std::string detail;  // NotifyRecordDetail's words
  bool say = false;
};

// One delivery to start: the message to one recipient.
struct NotifySend {
  std::uint64_t delivery = 0;
  NotifyRecipient to;
  NotifyMessage message;
};

// Who is told what and when, on the tick clock. Each rule follows the conditions it names: the
// first notification once one has stood for After, repeats at the listed times while it stands
// unacknowledged and unshelved, an escalation to more recipients after EscalateAfter, and a
// done message when it is acknowledged or clears. Whatever falls due for a rule within its
// interval goes as one notification ("and 12 more").
//
// Exactly once: every notification is journalled as due before it goes (Committed says the
// records are written), each delivery's answer after; a restart reads them back (Recover), so
// that what went is not sent again and a delivery that was due with no answer is sent again with
// the same key (condition, step, sequence number), for the receiver to see the duplicate.
class Notifier {
 public:
  static constexpr int kMostAttempts = 6;
  static constexpr std::int64_t kFirstRetryMs = 30'000;
  static constexpr std::int64_t kLongestRetryMs = 600'000;
  // Deliveries waiting or under way; past it the oldest waiting one is given up.
  static constexpr std::size_t kMostDeliveries = 256;

  // instance: named in every message (one controller of several); empty for the plain service.
  explicit Notifier(std::vector<NotifyRule> rules, std::string instance = {});

  // The journal's notification records (text, detail), oldest first.
  void Recover(const std::vector<std::pair<std::string, std::string>>& records);
  // The conditions as they stand; known: the panel has heard the controller since the start
  // (before, a condition not there may just not have been read yet). seq: the journal's last
  // sequence number, the key of an episode that begins now.
  void Tick(const std::vector<Condition>& conditions, bool known, std::int64_t now_ms,
            std::int64_t seq, std::vector<NotifyRecord>& records);
  // Every record handed out so far is written (or the journal cannot be written at all).
  void Committed();
  // The deliveries to start now, at most most of them.
  std::vector<NotifySend> Release(std::int64_t now_ms, std::size_t most = kMostDeliveries);
  // A delivery's answer.
  void Answered(std::uint64_t delivery, const NotifyResult& result, std::int64_t now_ms,
                std::vector<NotifyRecord>& records);

  const std::vector<NotifyRule>& rules() const { return rules_; }
  std::size_t deliveries() const { return deliveries_.size(); }

 private:
  enum class Ending { kNone, kAcknowledged, kCleared };
  struct Episode {
    std::string id;
    std::string name;
    ConditionKind kind = ConditionKind::kFault;
    std::int64_t seq = 0;
    std::int64_t since_ms = 0;       // as the messages say it
    std::int64_t book_since_ms = 0;  // as this run's conditions have it
    std::int64_t start_ms = 0;       // what the rule's times count from
    std::size_t next_step = 0;
    bool escalated = false;
    bool notified = false;
    bool recovered = false;  // read back from the journal, its condition not seen yet
    bool seen = false;       // in this tick's conditions
    Ending ending = Ending::kNone;
    std::string ended_by;
    std::string comment;
  };
  struct Item {
    Episode* episode = nullptr;
    std::string type;
    int step = 0;
    std::size_t order = 0;  // the condition's place in the list
  };
  struct Delivery {
    std::string rule;
    NotifyItemKey key;  // the due's first item
    NotifyRecipient to;
    NotifyMessage message;
    int attempts = 0;
    std::int64_t next_ms = 0;
    bool committed = false;
    bool in_flight = false;
  };
  using EpisodeKey = std::pair<std::size_t, std::string>;  // the rule's index, the condition

  void Follow(std::size_t rule, const std::vector<Condition>& conditions, bool known,
              std::int64_t now_ms, std::int64_t seq, std::vector<NotifyRecord>& records);
  void Notify(std::size_t rule, std::vector<Item>& items, std::int64_t now_ms,
              std::vector<NotifyRecord>& records);
  std::string Describe(const Item& item) const;
  void AddDelivery(Delivery delivery, std::vector<NotifyRecord>& records);
  std::optional<std::size_t> RuleIndex(const std::string& name) const;

  std::vector<NotifyRule> rules_;
  std::string instance_;
  std::map<EpisodeKey, Episode> episodes_;
  std::vector<std::optional<std::int64_t>> last_sent_ms_;  // per rule
  std::map<std::uint64_t, Delivery> deliveries_;
  std::uint64_t next_delivery_ = 1;
  std::uint64_t failures_ = 0;  // failed answers since the start, said with each
};

}  // namespace orv
