#pragma once

#include <functional>
#include <memory>
#include <string>

#include "netport/network_serial_port.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/serial_port.h"
#include "platform/signal.h"

namespace orv {

// The one port the program holds: at every Open() it reads what the port map names for the port
// number and opens that, a local device (QtSerialPort) or a serial device server on the network
// (made by the maker at the first such open: the program's network module). A value that is
// neither, or a network port that cannot be made, fails the open with the reason. The other
// calls go to the port last opened; settings go to both, so whichever opens next has them.
class QtMappedSerialPort : public SerialPort {
 public:
  // The port map's value for a port number, "" for the system default.
  using MapLookup = std::function<std::string(int port_number)>;
  // A network port; nullptr with the reason in why when there is none to be had.
  using NetworkPortMaker = std::function<std::unique_ptr<NetworkSerialPort>(std::string& why)>;

  QtMappedSerialPort(MapLookup map_value, NetworkPortMaker make_network);
  // With Qt's own TCP port (QtTcpSerialPort), for the programs that link Qt Network anyway.
  explicit QtMappedSerialPort(MapLookup map_value);

  void SetCommPort(int port_number) override;
  void SetHandshakingNone() override;
  void SetSettings(const std::string& settings) override;
  void Open() override;
  void Close() override;
  bool IsOpen() const override { return active_ != nullptr && active_->IsOpen(); }
  void Output(const Bytes& bytes) override;
  PortError last_error() const override;
  // What the last Open() tried: the device, or the server's address as the map writes it.
  std::string device() const override { return active_ != nullptr ? active_->device() : tried_; }

  // The two kinds, for tests; the network port exists from the first open of an address on.
  QtSerialPort& serial() { return serial_; }
  NetworkSerialPort& network() { return *network_; }
  bool network_active() const { return active_ != nullptr && active_ == network_.get(); }

 private:
  MapLookup map_value_;
  NetworkPortMaker make_network_;
  std::string device_;  // the device the local port opens, decided at Open()
  QtSerialPort serial_;
  std::unique_ptr<NetworkSerialPort> network_;
  SerialPort* active_ = nullptr;
  PortError map_error_;  // a map value that names nothing usable
  std::string tried_;    // a map value that named nothing usable
  int comm_port_ = 1;
  bool handshaking_none_ = false;
  std::string settings_;  // the last settings, for a network port made later
  Connections relays_;
};

}  // namespace orv
