#pragma once

#include <functional>
#include <string>

#include "panelstate/panel_core.h"
#include "platform/serial_port.h"
#include "platform/signal.h"

namespace orv {

// The program without a window: the same panel, connected at once and kept connected.
// A port that cannot be opened, or that is lost, is tried again after 5 s, then 10, 20 and 40,
// then every 60 s; the line printed for a failure comes once per streak, not once per try.
// Every event, link change and program start or stop is one line on the output; an event's line
// ends in its detail in parentheses.
class HeadlessRunner {
 public:
  static constexpr int kFirstRetryTicks = 50;     // 5 s at the 100 ms tick
  static constexpr int kLongestRetryTicks = 600;  // 60 s
  using PrintFn = std::function<void(const std::string& line)>;

  HeadlessRunner(PanelCore& panel, SerialPort& port, PrintFn print);
  HeadlessRunner(const HeadlessRunner&) = delete;
  HeadlessRunner& operator=(const HeadlessRunner&) = delete;

  // The first connect; the panel has been loaded.
  void Start();
  // One 100 ms tick: the panel's tick, then a lost port or a due retry.
  void Tick();
  // Disconnects and runs the shutdown, which records the stop.
  void Stop();
  // An operator's Disconnection: the line stays closed, without retries, until Connect().
  void Disconnect(const Actor& by = {});
  // An operator's Connection: tried at once, and kept connected from then on.
  void Connect(const Actor& by = {});

  bool connected() const { return panel_.line_connected(); }
  // Ticks until the next try while not connected; 0 while connected.
  int ticks_to_retry() const { return connected() ? 0 : ticks_to_retry_; }

 private:
  void TryConnect(const Actor& by = {});
  void Print(const JournalEntry& entry);

  PanelCore& panel_;
  SerialPort& port_;
  PrintFn print_;
  Connections connections_;
  bool lost_ = false;
  bool held_ = false;  // closed by an operator: no retries
  int failures_ = 0;   // tries that failed since the last connect
  int ticks_to_retry_ = 0;
  std::string last_link_text_;
};

}  // namespace orv
