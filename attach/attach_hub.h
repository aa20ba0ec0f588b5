#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "access/access_gate.h"
#include "attach/attach_protocol.h"
#include "attach/panel_state.h"
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

  AttachHub(AttachLimits limits, PerformFn perform)
      : limits_(limits), perform_(std::move(perform)) {}

  // A window attaches: its number, after its snapshot was written; 0 when the service has as
  // many windows as it takes (a refusal was written instead; the caller closes).
  int Attach(std::string user, WriteFn write, QueuedFn queued);
  void Detach(int id) { clients_.erase(id); }
  // Bytes from a window: each whole line an action, answered. False when the window is to be
  // dropped (a line over the bound, or an answer it does not take).
  bool Received(int id, std::string_view bytes);
  // Every tick, with the panel's state now: what changed goes to every window, and each second
  // a heartbeat. The windows dropped for not reading are detached and returned.
  std::vector<int> Tick(const PanelState& state);

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

  AttachLimits limits_;
  PerformFn perform_;
  std::map<int, Client> clients_;
  int next_id_ = 1;
  StateStream stream_;
};

// Tells a Unix user's windows when their log-in at the service ends, logged out from one of them
// or timed out, so that none goes on showing an operator the service no longer has.
Connection TellEndedLogIns(AccessGate& gate, AttachHub& hub);

}  // namespace orv
