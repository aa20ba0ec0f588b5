#include "tests/support/fake_serial_port.h"

namespace orv {

void FakeSerialPort::Open() {
  ++open_count_;
  device_ = "fake" + std::to_string(comm_port_);
  if (refuse_open_ != PortErrorKind::kNone) {
    last_error_ = {refuse_open_, "fake device refused to open"};
    return;
  }
  last_error_ = {};
  open_ = true;
}

void FakeSerialPort::Output(const Bytes& bytes) {
  if (refuse_writes_ || !open_) {
    ++rejected_writes_;
    return;
  }
  writes_.push_back(bytes);
}

void FakeSerialPort::LoseDevice() {
  last_error_ = {PortErrorKind::kLost, "fake device went away"};
  RaiseFailure(last_error_);
}

}  // namespace orv
