#pragma once

#include <string>

#include "platform/serial_port.h"

namespace orv {

// A serial port with no line behind it: it never opens and drops every write, so connecting
// reports "Com Port Fail!". The program uses it until it has a binding to a real serial line.
class NullSerialPort : public SerialPort {
 public:
  void SetCommPort(int) override {}
  void SetHandshakingNone() override {}
  void SetSettings(const std::string&) override {}
  void Open() override {}
  void Close() override {}
  bool IsOpen() const override { return false; }
  void Output(const Bytes&) override {}
};

}  // namespace orv
