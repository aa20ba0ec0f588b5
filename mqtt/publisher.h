#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "journal/journal.h"
#include "link/fault_lamps.h"
#include "link/trigger_states.h"
#include "panelstate/condition.h"

namespace orv {

// What the link watch says about the controller.
enum class LinkState { kDisconnected, kAnswering, kNoReply };
std::string_view LinkStateName(LinkState state);  // "disconnected", "answering", "no-reply"

struct MqttMessage {
  std::string topic;
  std::string payload;
  int qos = 0;
  bool retain = false;
  std::int64_t seq = 0;  // the record an event carries; 0 for the retained state

  bool operator==(const MqttMessage&) const = default;
};

// {"seq":12,"time":"2026-12-07T14:03:22+01:00","kind":"event","text":"…","detail":"…"}, the
// detail only when the record has one
std::string EventJson(const JournalRow& row);
// {"Processor reset":0,"Network":1,…}: all twelve lamps by their captions.
std::string FaultsJson(FaultLamps lamps);
// {"sounding":"alarm","since":"2026-12-07T14:03:22+01:00","condition":"ALARM report",
// "lampTest":false}: what the annunciator sounds ("alarm", "fault" or "none"), since when, why,
// and whether its lamp test runs (the lamps stay the controller's meanwhile).
std::string AnnunciationJson(std::string_view sounding, const JournalTime& since,
                             std::string_view condition, bool lamp_test);
// [{"id":"fault-7","kind":"fault","name":"Mains","since":"2026-12-07T13:03:22+00:00",
// "state":"acknowledged","comment":"…","shelvedUntil":"…","reason":"…"}, …]: the conditions in
// their order; a time and its text only where there is one. Like the events, without who acted.
std::string ConditionsJson(const std::vector<Condition>& conditions);
// Only these kinds of record go out as events; program starts and stops do not.
bool IsPublishedKind(JournalKind kind);

// Turns the panel's state into broker messages, without any network of its own. The retained
// topics keep their last value and go out when they change (the newest value only, however often
// it changed while the broker could not take it) and all of them again at every connect, at every
// RepublishRetained() and whenever the broker shows another value on one of them (anyone allowed
// to publish there could have put it). Events
// are taken in order by sequence number, from the journal or, without one, from a bounded queue
// of the records as they were made; at most window of them are unacknowledged at a time, and the
// cursor moves only over what the broker acknowledged, so after a lost connection the sending
// resumes just past it.
class MqttPublisher {
 public:
  static constexpr std::size_t kDefaultWindow = 20;
  static constexpr std::size_t kDefaultMemoryBacklog = 10000;
  static constexpr int kPublishedPages = 3;  // EMG, business, soft; not the BGM channels

  // Rows with a sequence number of at least from, in order, at most limit; false when the
  // journal cannot be read now (tried again at the next Pump).
  using ReadFn =
      std::function<bool(std::int64_t from, std::size_t limit, std::vector<JournalRow>& rows)>;
  // Hands one message to the client: the message id, or nothing when the client cannot take it.
  using SendFn = std::function<std::optional<int>(const MqttMessage& message)>;

  explicit MqttPublisher(std::string base_topic, std::size_t window = kDefaultWindow,
                         std::size_t memory_backlog = kDefaultMemoryBacklog);

  // base/sub.
  std::string Topic(std::string_view sub) const;
  // status = offline, retained: what the broker says for us when we vanish.
  MqttMessage Will() const;

  // ---- The state; each call publishes only what differs from the last value. ----
  void SetLinkState(LinkState state);
  void SetFaultLamps(FaultLamps lamps);
  // page 0 EMG, 1 business, 2 soft; other pages are ignored.
  void SetTriggerStates(int page, const TriggerStateTable& states);
  // names[n - 1] is trigger n's name.
  void SetTriggerNames(int page, const std::vector<std::string>& names);
  // The annunciation topic, as AnnunciationJson.
  void SetAnnunciation(std::string json);
  // The conditions topic, as ConditionsJson.
  void SetConditions(std::string json);
  // The web topic: where a browser opens this panel's web panel (the site's overview links it).
  void SetWebAddress(std::string url);

  // ---- Where the events come from. ----
  // From the journal: records after last_before_start are sent.
  void UseJournal(ReadFn read, std::int64_t last_before_start);
  // The journal committed records up to last.
  void OnCommitted(std::int64_t last);
  // Without a journal: each record as it is made, numbered here from 1.
  void OnRecorded(const JournalEntry& entry);

  // ---- What the broker holds. ----
  // The topic filters that cover every retained topic (and not the events): the client
  // subscribes to them, so that a value someone else put on the broker is seen.
  std::vector<std::string> StateFilters() const;
  // A message the broker delivered on one of those topics. When it differs from the value held
  // here, the held value goes out again: at once the first time, then at the next
  // RepublishRetained(), so that two publishers of one topic (another program, a misconfigured
  // second panel) never bounce it between them at network speed. Anything else is ignored.
  void OnBrokerValue(std::string_view topic, std::string_view payload);
  // Every retained topic goes out again (the client calls it every KeepAlive x 2): a value that
  // was overwritten or lost on the broker unseen is put right within that time.
  void RepublishRetained();

  // ---- The connection. ----
  // Everything retained goes out again, and the events from just past the cursor.
  void OnConnected();
  // Whatever was not acknowledged is sent again after the next connect.
  void OnDisconnected();
  // The broker acknowledged the message with this id (QoS 1), or it went out (QoS 0).
  void OnDelivered(int mid);
  // Sends what is due while connected.
  void Pump(const SendFn& send);

  bool connected() const { return connected_; }
  // The last sequence number up to which every event was acknowledged (or skipped).
  std::int64_t cursor() const;
  std::size_t in_flight() const { return in_flight_.size(); }
  // Retained topics waiting to go out.
  std::size_t dirty() const { return dirty_.size(); }

 private:
  struct Retained {
    std::string topic;
    std::optional<std::string> payload;  // nothing until the value is first known
    int qos = 0;
    bool dirty = false;
    bool corrected = false;  // put right since the last republish
  };
  std::size_t Slot(std::string topic, int qos = 0);
  void Set(std::size_t slot, std::string payload);
  void MarkDirty(std::size_t slot);
  void MarkAllDirty();
  void PumpRetained(const SendFn& send);
  void PumpEvents(const SendFn& send);
  bool ReadRows(std::int64_t from, std::size_t limit, std::vector<JournalRow>& rows);

  std::string base_;
  std::size_t window_;
  std::size_t memory_limit_;
  std::vector<Retained> retained_;
  std::unordered_map<std::string, std::size_t> slot_by_topic_;
  std::vector<std::size_t> dirty_;
  std::size_t status_slot_ = 0;
  std::size_t link_slot_ = 0;
  std::size_t faults_slot_ = 0;
  std::size_t annunciation_slot_ = 0;
  std::size_t conditions_slot_ = 0;
  std::size_t web_slot_ = 0;
  std::size_t fault_slot_[kSystemLamps] = {};
  // Per published page: the slot of trigger 1's state and of its name; n follows at + n - 1.
  std::size_t state_slot_[kPublishedPages] = {};
  std::size_t name_slot_[kPublishedPages] = {};

  bool connected_ = false;
  ReadFn read_;                // empty: the memory queue
  std::int64_t last_ = 0;      // the newest record there is
  std::int64_t next_seq_ = 1;  // the next record to send
  std::int64_t memory_seq_ = 0;
  std::deque<JournalRow> memory_;
  std::unordered_map<int, std::int64_t> in_flight_;  // message id -> sequence number
  std::set<std::int64_t> unacknowledged_;
  std::vector<JournalRow> rows_;  // kept to reuse its storage
};

}  // namespace orv
