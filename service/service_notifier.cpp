#include "service/service_notifier.h"

#include <systemd/sd-daemon.h>

namespace orv {

void ServiceNotifier::Ready(const std::string& status) {
  status_ = status;
  send_("READY=1\nSTATUS=" + status);
}

void ServiceNotifier::Tick(const std::string& status) {
  if (++ticks_ >= kTicksPerAlive) {
    ticks_ = 0;
    send_("WATCHDOG=1");
  }
  if (status != status_) SendStatus(status);
}

void ServiceNotifier::SendStatus(const std::string& status) {
  status_ = status;
  send_("STATUS=" + status);
}

std::string ServiceStatusText(const std::string& port, bool connected, bool no_reply) {
  return port + ": " +
         (!connected  ? "not connected, trying again"
          : no_reply ? "no reply from the controller"
                     : "controller answering");
}

void SendToSystemd(const std::string& message) {
  // Without NOTIFY_SOCKET this does nothing; the datagram never blocks the tick.
  sd_notify(0, message.c_str());
}

}  // namespace orv
