#include "netport/qt/qt_mapped_serial_port.h"

#include <utility>

#include "netport/port_address.h"

namespace orv {

QtMappedSerialPort::QtMappedSerialPort(MapLookup map_value)
    : map_value_(std::move(map_value)), serial_([this](int) { return device_; }) {
  for (SerialPort* port :
       {static_cast<SerialPort*>(&serial_), static_cast<SerialPort*>(&network_)}) {
    relays_.push_back(
        port->received().Connect([this](const Bytes& bytes) { RaiseReceive(bytes); }));
    relays_.push_back(
        port->failed().Connect([this](const PortError& error) { RaiseFailure(error); }));
  }
}

void QtMappedSerialPort::SetCommPort(int port_number) {
  comm_port_ = port_number;
  serial_.SetCommPort(port_number);
}

void QtMappedSerialPort::SetHandshakingNone() {
  serial_.SetHandshakingNone();
  network_.SetHandshakingNone();
}

void QtMappedSerialPort::SetSettings(const std::string& settings) {
  serial_.SetSettings(settings);
  network_.SetSettings(settings);
}

void QtMappedSerialPort::Open() {
  if (IsOpen()) return;
  const std::string value = map_value_ ? map_value_(comm_port_) : std::string();
  const PortAddress address = ParsePortAddress(value);
  if (!address.problem.empty()) {
    active_ = nullptr;
    tried_ = value;
    map_error_ = {PortErrorKind::kNotFound, "COM" + std::to_string(comm_port_) + "=" + value +
                                                " in [SerialPorts]: " + address.problem};
    return;
  }
  map_error_ = {};
  if (address.network()) {
    network_.SetAddress(address);
    active_ = &network_;
  } else {
    device_ = address.device;
    active_ = &serial_;
  }
  active_->Open();
}

void QtMappedSerialPort::Close() {
  if (active_ != nullptr) active_->Close();
}

void QtMappedSerialPort::Output(const Bytes& bytes) {
  if (active_ != nullptr) active_->Output(bytes);
}

PortError QtMappedSerialPort::last_error() const {
  return active_ != nullptr ? active_->last_error() : map_error_;
}

}  // namespace orv
