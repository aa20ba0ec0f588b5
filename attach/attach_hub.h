#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "access/access_gate.h"
#include "attach/attach_protocol.h"
#include "panelstate/panel_state.h"
#include "platform/signal.h"

namespace orv {

// The panel's state as a stream of messages, the same for every kind of listener (attached
// windows, web pages): a numbered change when something changed, and a heartbeat every second
// whatever else went, so that a listener that hears nothing for longer knows.
class StateStream {
 public:
  static constexpr int kHeartbeatTicks = 10;  // every second at the 100 ms tick

  // Every tick, with the panel's state now: the bytes for every listener, or nothing.
  std::string Tick(const PanelState& state);

  std::int64_t seq() const { return seq_; }
  const PanelState& state() const { return state_; }

 private:
  std::int64_t seq_ = 0;
  int ticks_to_heartbeat_ = kHeartbeatTicks;
  PanelState state_ = EmptyPanelState();
};

// The service's side of the attached windows, without sockets: who is attached, what each is
// sent, and the bounds. A change is written once for all windows; a window whose unsent bytes
// would pass the queue's bound has stopped reading and is dropped, so the tick never waits.
class AttachHub {
 public:
  static constexpr int kHeartbeatTicks = StateStream::kHeartbeatTicks;

  // Hands bytes to a window's socket, which sends them when it can.
  using WriteFn = std::function<void(const std::string& bytes)>;
  // The bytes a window's socket holds unsent.
  using QueuedFn = std::function<std::size_t()>;
  // Performs an action for the user and says what it came to.
  using PerformFn =
      std::function<std::string(const ActionRequest& action, const std::string& user)>;

  // Reads a page of the journal for the user: the page, or why there is none (error not empty).
  using HistoryFn = std::function<JournalPage(const JournalPageQuery& query,
                                              const std::string& user, std::string& error)>;

  // Takes an action that is answered later (a log in, whose PIN is checked off the loop): true
  // when it took it and will call answer, at once or on a later turn of the loop.
  using LaterFn = std::function<bool(const ActionRequest& action, const std::string& user,
                                     std::function<void(const std::string& result)> answer)>;

  AttachHub(AttachLimits limits, PerformFn perform, HistoryFn history = {})
      : limits_(limits), perform_(std::move(perform)), history_(std::move(history)) {}

  void AnswerLater(LaterFn later) { later_ = std::move(later); }

  // Why a new window of the user would be refused: the service has as many windows as it
  // takes, or the user as many as one user may; empty when it would be taken.
  std::string Refusal(const std::string& user) const;
  // A window attaches: its number, after its snapshot was written; 0 when it is refused (the
  // refusal was written instead; the caller closes).
  int Attach(std::string user, WriteFn write, QueuedFn queued);
  void Detach(int id) { clients_.erase(id); }
  // Bytes from a window: each whole line an action or a request for a page of the journal,
  // answered. One page at a time: a request while the window has not taken the page before
  // (half its queue's bound unsent) or in the same bytes as another is refused, so that one
  // window costs the tick at most one page a turn. False when the window is to be dropped (a
  // line over the bound, or an answer it does not take).
  bool Received(int id, std::string_view bytes);
  // Every tick, with the panel's state now: what changed goes to every window, and each second
  // a heartbeat. The windows dropped for not reading are detached and returned.
  std::vector<int> Tick(const PanelState& state);

  // The journal committed records up to sequence: every window hears it at the next tick.
  void JournalCommitted(std::int64_t sequence) { journal_seq_ = sequence; }

  // An answer no window asked for (number 0), to every window of the user.
  void Tell(const std::string& user, std::string_view result);

  std::size_t clients() const { return clients_.size(); }
  std::int64_t seq() const { return stream_.seq(); }
  const PanelState& state() const { return stream_.state(); }

 private:
  struct Client {
    std::string user;
    WriteFn write;
    QueuedFn queued;
    LineReader reader;
  };
  // False when the message does not fit the window's queue.
  bool Send(Client& client, const std::string& message) const;
  // A later answer to the window, if it is still attached.
  void Answer(int id, std::int64_t action_id, const std::string& result);
  // The answer to a request for a page.
  std::string History(Client& client, const HistoryRequest& request, bool& answered);

  AttachLimits limits_;
  PerformFn perform_;
  HistoryFn history_;
  LaterFn later_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
  std::int64_t journal_seq_ = 0;
  std::int64_t journal_told_ = 0;
  std::map<int, Client> clients_;
  int next_id_ = 1;
  StateStream stream_;
};

// Tells a Unix user's windows when their log-in at the service ends, logged out from one of them
// or timed out, so that none goes on showing an operator the service no longer has.
Connection TellEndedLogIns(AccessGate& gate, AttachHub& hub);

}  // namespace orv
