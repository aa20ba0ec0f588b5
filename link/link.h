#pragma once

#include <cstdint>
#include <functional>

#include "link/dispatcher.h"
#include "link/fault_lamps.h"
#include "link/link_watch.h"
#include "link/poll_scheduler.h"
#include "link/receiver.h"
#include "link/transmitter.h"
#include "link/trigger_states.h"
#include "platform/serial_port.h"
#include "platform/signal.h"

namespace orv {

// The link protocol wired together: the port's receive event feeds the receiver, good frames go
// to the dispatcher, and the tick runs assembly and one poll step. It owns what the controller
// told it (lamps, trigger states) and whether the port is connected; it knows nothing of how any
// of it is shown.
class Link {
 public:
  // clock: only for the local time of the last valid frame that the link watch names;
  // tick_clock: the link watch's time (see LinkWatch), every tick 100 ms without it.
  explicit Link(SerialPort& port, ClockFn clock = {}, TickClockFn tick_clock = {});
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // The page whose states the poll asks for after each fault image: the trigger bank's page.
  void SetShownPageSource(std::function<std::int16_t()> source) { shown_page_ = std::move(source); }

  // The 100 ms tick: assemble and dispatch everything received, then the link watch, then one
  // poll step.
  void Tick();

  bool port_connected() const { return PortConnected; }
  // Says so to connection_changed() when the value changes; the link watch and its counters start
  // afresh at every connect.
  void SetPortConnected(bool connected);

  // The twelve lamps after every fault image reply and panel status report.
  Signal<FaultLamps>& fault_lamps_changed() { return fault_lamps_changed_; }
  // The page whose state table a status reply has just written.
  Signal<int>& trigger_states_updated() { return trigger_states_updated_; }
  Signal<bool>& connection_changed() { return connection_changed_; }

  TriggerStates& trigger_states() { return states_; }
  const TriggerStates& trigger_states() const { return states_; }
  SerialPort& port() { return port_; }
  Transmitter& transmitter() { return transmitter_; }
  Receiver& receiver() { return receiver_; }
  Dispatcher& dispatcher() { return dispatcher_; }
  PollScheduler& scheduler() { return scheduler_; }
  LinkWatch& watch() { return watch_; }
  const LinkWatch& watch() const { return watch_; }
  // Counters since the program started, and since the last connect.
  LinkCounters counters() const;
  LinkCounters counters_since_connect() const { return counters() - counters_at_connect_; }

 private:
  SerialPort& port_;
  Transmitter transmitter_;
  Receiver receiver_;
  Dispatcher dispatcher_;
  PollScheduler scheduler_;
  TriggerStates states_;
  LinkWatch watch_;
  LinkCounters counters_at_connect_;
  bool PortConnected = false;
  std::function<std::int16_t()> shown_page_;
  Signal<FaultLamps> fault_lamps_changed_;
  Signal<int> trigger_states_updated_;
  Signal<bool> connection_changed_;
  Connections connections_;
};

}  // namespace orv
