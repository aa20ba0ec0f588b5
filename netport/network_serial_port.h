#pragma once

// A serial port that is a serial device server on the network (raw TCP or RFC 2217), as the
// port map names it: the program's side of the port, whichever module makes it.

#include "netport/port_address.h"
#include "platform/serial_port.h"

namespace orv {

class NetworkSerialPort : public SerialPort {
 public:
  // Where the next Open() connects: a tcp:// or rfc2217:// address.
  virtual void SetAddress(const PortAddress& address) = 0;
};

}  // namespace orv
