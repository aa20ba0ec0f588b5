#pragma once

#include <functional>
#include <string>

namespace orv {

// What the service tells its supervisor (systemd, through sd_notify): ready once the first
// connect has been tried, alive from the tick (so a hung panel is restarted by the watchdog),
// and the line's state as its one-line status whenever that changes.
class ServiceNotifier {
 public:
  // Ticks between two "alive" messages: one a second, well inside a 10 s watchdog.
  static constexpr int kTicksPerAlive = 10;
  using SendFn = std::function<void(const std::string& message)>;

  explicit ServiceNotifier(SendFn send) : send_(std::move(send)) {}

  void Ready(const std::string& status);
  // Once per 100 ms tick.
  void Tick(const std::string& status);

 private:
  void SendStatus(const std::string& status);

  SendFn send_;
  std::string status_;
  int ticks_ = 0;
};

// The status line: "COM1 /dev/ttyUSB0 9600,N,8,1: Connected: ...".
std::string ServiceStatusText(const std::string& port, bool connected, bool no_reply);

// Sends to systemd's notification socket, when the service runs under one (NOTIFY_SOCKET).
void SendToSystemd(const std::string& message);

}  // namespace orv
