#pragma once

// One connection to the service's socket as orvandelctl holds it: plain blocking POSIX calls,
// each wait bounded, the lines read with the socket's own codec and bounds.
#include <string>
#include <string_view>

#include "attach/attach_protocol.h"

namespace orv {

class CtlConnection {
 public:
  CtlConnection() = default;
  ~CtlConnection();
  CtlConnection(const CtlConnection&) = delete;
  CtlConnection& operator=(const CtlConnection&) = delete;

  bool Connect(const std::string& path, std::string& error);
  bool Send(std::string_view line, std::string& error);
  // The next message, its state's sections written into state; false with why when none came
  // within timeout_ms, the service closed the connection, or a line was out of its bounds.
  bool Next(PanelState& state, ServerMessage& message, int timeout_ms, std::string& error);

 private:
  int fd_ = -1;
  LineReader reader_{AttachLimits{}.max_message_bytes};
};

}  // namespace orv
