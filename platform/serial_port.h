#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/signal.h"

namespace orv {

using Bytes = std::vector<std::uint8_t>;

// Why a port failed. The kind is for the program to act on, the text (with the system's own
// words) for the operator.
enum class PortErrorKind {
  kNone,
  kNotFound,         // no such device
  kPermission,       // the device exists but this user may not open it
  kBusy,             // another program holds it (or its lock)
  kStaleLock,        // a lock file of a program that has ended still holds it
  kNotATerminal,     // not a serial device: a file, a folder, a FIFO, /dev/null
  kUntrustedDevice,  // a device that another user owns (a pty that user plays the far end of)
  kLost,             // it went away while open
  kWriteFailed,
  kOther,
};

struct PortError {
  PortErrorKind kind = PortErrorKind::kNone;
  std::string text;
  explicit operator bool() const { return kind != PortErrorKind::kNone; }
};

// A short name for the kind, as shown to the operator ("device not found", ...).
const char* PortErrorKindText(PortErrorKind kind);

// What the program asks of a serial line. The setters and Open() may fail; the caller learns of a
// failure through IsOpen(), exactly as the connection logic expects, and of its reason through
// last_error().
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual void SetCommPort(int port_number) = 0;
  virtual void SetHandshakingNone() = 0;
  // Line settings text such as "9600,N,8,1".
  virtual void SetSettings(const std::string& settings) = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // One write of the whole array. A write the port refuses is dropped.
  virtual void Output(const Bytes& bytes) = 0;
  // The reason the last Open() failed, or the last failure while open; cleared by a good Open().
  virtual PortError last_error() const = 0;
  // The device the last Open() tried (a path, a network address), for the record; "" if unknown.
  virtual std::string device() const { return {}; }

  // Receive notification: every buffered byte at once, raw.
  Signal<const Bytes&>& received() { return received_; }
  // A failure of the open port (device lost, write refused), said once when it happens.
  Signal<const PortError&>& failed() { return failed_; }
  // What the port did on its own that the operator and the records should know and that is no
  // failure (a squatted lock taken over, a server held back): said once when it happens.
  Signal<const std::string&>& said() { return said_; }

 protected:
  void RaiseReceive(const Bytes& bytes) {
    if (!bytes.empty()) received_(bytes);
  }
  void RaiseFailure(const PortError& error) { failed_(error); }
  void RaiseSaid(const std::string& text) { said_(text); }

 private:
  Signal<const Bytes&> received_;
  Signal<const PortError&> failed_;
  Signal<const std::string&> said_;
};

}  // namespace orv
