#include "platform/fake_serial_port.h"

namespace orv {

void FakeSerialPort::Open() {
  if (refuse_open_) return;
  open_ = true;
  ++open_count_;
}

void FakeSerialPort::Output(const Bytes& bytes) {
  if (refuse_writes_ || !open_) {
    ++rejected_writes_;
    return;
  }
  writes_.push_back(bytes);
}

}  // namespace orv
