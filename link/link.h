#pragma once

#include <functional>

#include "link/dispatcher.h"
#include "link/poll_scheduler.h"
#include "link/receiver.h"
#include "link/shared_state.h"
#include "link/transmitter.h"
#include "platform/serial_port.h"

namespace orv {

// The link protocol wired together: the port's receive event feeds the receiver, good frames go
// to the dispatcher, and the tick runs assembly, one poll step and the trigger bank redraw.
class Link {
 public:
  Link(SerialPort& port, SharedState& shared);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  void SetDispatchHandlers(DispatchHandlers handlers) {
    dispatcher_.SetHandlers(std::move(handlers));
  }
  // The trigger bank redraw that a tick runs when RefreshTriggers is set.
  void SetRefreshHandler(std::function<void()> handler) { refresh_ = std::move(handler); }

  // The 100 ms tick: assemble and dispatch, one poll step, then the redraw if one was asked for.
  void Tick();

  SerialPort& port() { return port_; }
  Transmitter& transmitter() { return transmitter_; }
  Receiver& receiver() { return receiver_; }
  const Dispatcher& dispatcher() const { return dispatcher_; }
  PollScheduler& scheduler() { return scheduler_; }

 private:
  SerialPort& port_;
  SharedState& shared_;
  Transmitter transmitter_;
  Receiver receiver_;
  Dispatcher dispatcher_;
  PollScheduler scheduler_;
  std::function<void()> refresh_;
};

}  // namespace orv
