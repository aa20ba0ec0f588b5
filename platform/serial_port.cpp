#include "platform/serial_port.h"

namespace orv {

const char* PortErrorKindText(PortErrorKind kind) {
  switch (kind) {
    case PortErrorKind::kNone:
      return "no error";
    case PortErrorKind::kNotFound:
      return "device not found";
    case PortErrorKind::kPermission:
      return "permission denied";
    case PortErrorKind::kBusy:
      return "device in use";
    case PortErrorKind::kStaleLock:
      return "stale lock";
    case PortErrorKind::kNotATerminal:
      return "not a serial device";
    case PortErrorKind::kUntrustedDevice:
      return "device owned by another user";
    case PortErrorKind::kLost:
      return "device lost";
    case PortErrorKind::kWriteFailed:
      return "write failed";
    case PortErrorKind::kOther:
      break;
  }
  return "port error";
}

}  // namespace orv
