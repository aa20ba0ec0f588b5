#include <cstdio>

#include "link/link.h"
#include "platform/fake_serial_port.h"

// Minimal entry point until the window exists: wires the link core and runs one tick.
int main() {
  orv::FakeSerialPort port;
  orv::SharedState shared;
  orv::Link link(port, shared);
  link.Tick();
  std::puts("Orvandel Program Ver 2.16.08");
  return 0;
}
