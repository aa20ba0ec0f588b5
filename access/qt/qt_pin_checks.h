#pragma once

// The gate's PIN checks on their worker threads, each answer taken back to the loop as a queued
// call: the tick never waits on a check. And the back-off kept over a restart: read at the start,
// written when it changed, at most once a second and off the loop, and at the end.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "access/access_gate.h"
#include "access/pin_check_pool.h"
#include "platform/notice.h"

namespace orv {

// Made after the gate and ended before it. Ending waits for the checks running (tens of
// milliseconds); answers not yet taken are dropped.
class QtPinChecks {
 public:
  // Without a file the back-off lasts as long as the program.
  explicit QtPinChecks(AccessGate& gate, std::filesystem::path back_off_file = {},
                       NoticeFn notice = {}, PinCheckPool::Limits limits = {});
  ~QtPinChecks();
  QtPinChecks(const QtPinChecks&) = delete;
  QtPinChecks& operator=(const QtPinChecks&) = delete;

 private:
  // Writes a changed table: on a thread of its own, or here at the end.
  void Save(bool here);
  void Say(const std::string& problem);

  AccessGate& gate_;
  std::filesystem::path file_;
  NoticeFn notice_;
  QObject loop_;  // the queued calls' receiver: gone, their calls go with it
  PinCheckPool pool_;
  QTimer save_timer_;
  std::thread writer_;
  std::atomic<bool> writing_{false};
  std::string said_;  // the last problem said, so that a lasting one is said once
};

}  // namespace orv
