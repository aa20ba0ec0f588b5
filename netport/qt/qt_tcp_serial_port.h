#pragma once

#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <optional>
#include <string>

#include "netport/network_serial_port.h"
#include "netport/port_address.h"
#include "netport/read_pace.h"
#include "netport/telnet.h"
#include "platform/line_settings.h"

namespace orv {

// The serial port interface over a serial device server on the network (QTcpSocket): raw TCP,
// whose line settings are the server's, or RFC 2217, which sends the program's line settings
// with the COM-PORT-OPTION and escapes the telnet IAC byte both ways.
//
// It behaves as a local device does, so the connection logic needs no second path:
// - Open() waits for the TCP connection at most kConnectWait, blocking the caller's thread for
//   that long (a refused connection on a reachable host fails at once). Refused, unreachable,
//   unanswered or a name that does not resolve: the open fails with kNotFound and the system's
//   words. A host name is resolved by the system's resolver within the open, which may take the
//   resolver's own time; an address does not.
// - A connection dropped while open (server stopped, network gone) is a lost device: said once
//   through failed() with kLost, writes dropped, and the port still reports itself open until
//   Close(). Nothing retries.
// - With RFC 2217, data written before the server has answered the COM-PORT-OPTION request
//   waits (up to kNegotiationWait), so that the line settings reach the device before the first
//   frame does.
// - Memory stays flat whatever the server does: at most kReadChunk bytes wait read ahead (the
//   rest waits in the system), the telnet codec's answers are bounded (see TelnetCodec), and
//   what the server does not take stays queued up to kMaxQueued bytes: a write beyond that is
//   dropped, as a write the device refuses, and said once.
// - So does the time it takes: input is read at a serial line's pace at most (ReadPace), in turns
//   of at most kReadTurn bytes; a server that sends faster is held back by TCP itself while the
//   port waits for its next turn on a timer, and this is said once per connection.
class QtTcpSerialPort : public NetworkSerialPort {
 public:
  static constexpr std::chrono::milliseconds kConnectWait{2000};
  static constexpr std::chrono::milliseconds kNegotiationWait{1000};
  static constexpr qint64 kReadChunk = 64 * 1024;
  static constexpr qint64 kMaxQueued = 64 * 1024;
  static constexpr qint64 kReadTurn = 2048;

  QtTcpSerialPort();
  ~QtTcpSerialPort() override;
  QtTcpSerialPort(const QtTcpSerialPort&) = delete;
  QtTcpSerialPort& operator=(const QtTcpSerialPort&) = delete;

  // Where the next Open() connects: a tcp:// or rfc2217:// address.
  void SetAddress(const PortAddress& address) override { address_ = address; }
  // The address stands for the port number; flow control is always none.
  void SetCommPort(int /*port_number*/) override {}
  void SetHandshakingNone() override {}
  // Kept for RFC 2217 (sent now when open, else after the next open's negotiation); a text that
  // does not parse is ignored. Raw TCP has no way to send them.
  void SetSettings(const std::string& settings) override;
  void Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  void Output(const Bytes& bytes) override;
  PortError last_error() const override { return last_error_; }
  std::string device() const override { return name_; }

  bool lost() const { return lost_; }
  // The negotiation as it stands, for tests.
  const TelnetCodec& telnet() const { return telnet_; }
  // The baud rate the server last confirmed (RFC 2217), if it did.
  QTcpSocket& qt_socket() { return socket_; }

 private:
  bool rfc2217() const { return address_.kind == PortKind::kRfc2217; }
  void OnReadyRead();
  // Reads what the pace allows now, and waits for the next turn when more is left.
  void ReadTurn();
  // Qt's buffer counts as full until the next turn, so that it reads no more from the system.
  void HoldBack();
  void OnDropped();
  void OnTelnetEvent(const TelnetEvent& event);
  // The negotiation is over (agreed, refused or not answered in time): settings, then what
  // waited, go out.
  void EndNegotiation();
  void Send(const Bytes& wire);
  void Fail(PortErrorKind kind, const std::string& text);

  QTcpSocket socket_;
  QTimer negotiation_timer_;
  QTimer pace_timer_;
  ReadPace pace_;
  PortAddress address_;
  std::string name_;  // the address as written, for the reasons given
  TelnetCodec telnet_;
  std::optional<LineSettings> settings_;
  // Data written while the negotiation is under way, escaped already; bounded.
  Bytes waiting_;
  static constexpr std::size_t kMaxWaiting = 64 * 1024;
  PortError last_error_;
  bool open_ = false;
  bool lost_ = false;
  bool negotiating_ = false;
  bool write_failing_ = false;
  bool held_back_said_ = false;
};

}  // namespace orv
