#include "netport/qt/qt_mapped_serial_port.h"

#include <utility>

#include "netport/port_address.h"

namespace orv {

QtMappedSerialPort::QtMappedSerialPort(MapLookup map_value, NetworkPortMaker make_network)
    : map_value_(std::move(map_value)),
      make_network_(std::move(make_network)),
      serial_([this](int) { return device_; }) {
  relays_.push_back(
      serial_.received().Connect([this](const Bytes& bytes) { RaiseReceive(bytes); }));
  relays_.push_back(
      serial_.failed().Connect([this](const PortError& error) { RaiseFailure(error); }));
  relays_.push_back(serial_.said().Connect([this](const std::string& text) { RaiseSaid(text); }));
}

void QtMappedSerialPort::SetCommPort(int port_number) {
  comm_port_ = port_number;
  serial_.SetCommPort(port_number);
}

void QtMappedSerialPort::SetHandshakingNone() {
  handshaking_none_ = true;
  serial_.SetHandshakingNone();
  if (network_) network_->SetHandshakingNone();
}

void QtMappedSerialPort::SetSettings(const std::string& settings) {
  settings_ = settings;
  serial_.SetSettings(settings);
  if (network_) network_->SetSettings(settings);
}

void QtMappedSerialPort::Open() {
  if (IsOpen()) return;
  const std::string value = map_value_ ? map_value_(comm_port_) : std::string();
  const PortAddress address = ParsePortAddress(value);
  std::string problem = address.problem;
  if (problem.empty() && address.network() && !network_) {
    std::string why = "no network module";
    if (make_network_) network_ = make_network_(why);
    if (network_) {
      relays_.push_back(
          network_->received().Connect([this](const Bytes& bytes) { RaiseReceive(bytes); }));
      relays_.push_back(
          network_->failed().Connect([this](const PortError& error) { RaiseFailure(error); }));
      relays_.push_back(
          network_->said().Connect([this](const std::string& text) { RaiseSaid(text); }));
      if (handshaking_none_) network_->SetHandshakingNone();
      if (!settings_.empty()) network_->SetSettings(settings_);
    } else {
      problem = "network ports are unavailable: " + why;
    }
  }
  if (!problem.empty()) {
    active_ = nullptr;
    tried_ = value;
    map_error_ = {PortErrorKind::kNotFound, "COM" + std::to_string(comm_port_) + "=" + value +
                                                " in [SerialPorts]: " + problem};
    return;
  }
  map_error_ = {};
  if (address.network()) {
    network_->SetAddress(address);
    active_ = network_.get();
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
