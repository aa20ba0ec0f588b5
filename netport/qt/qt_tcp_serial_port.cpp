#include "netport/qt/qt_tcp_serial_port.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <chrono>

namespace orv {
namespace {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

QtTcpSerialPort::QtTcpSerialPort() {
  QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { OnReadyRead(); });
  // A drop is said by both signals (an error, then the disconnect); it counts once.
  QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] { OnDropped(); });
  QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_,
                   [this](QAbstractSocket::SocketError) { OnDropped(); });
  // Qt would otherwise read whatever the server sends into memory before a byte is handed on.
  socket_.setReadBufferSize(kReadChunk);
  negotiation_timer_.setSingleShot(true);
  QObject::connect(&negotiation_timer_, &QTimer::timeout, &socket_, [this] { EndNegotiation(); });
  pace_timer_.setSingleShot(true);
  pace_timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&pace_timer_, &QTimer::timeout, &socket_, [this] { ReadTurn(); });
}

QtTcpSerialPort::~QtTcpSerialPort() {
  // Aborting below emits; nothing of this object may run from here on.
  negotiation_timer_.stop();
  pace_timer_.stop();
  QObject::disconnect(&negotiation_timer_, nullptr, nullptr, nullptr);
  QObject::disconnect(&pace_timer_, nullptr, nullptr, nullptr);
  QObject::disconnect(&socket_, nullptr, nullptr, nullptr);
  socket_.abort();
}

void QtTcpSerialPort::SetSettings(const std::string& settings) {
  const std::optional<LineSettings> parsed = ParseLineSettings(settings);
  if (!parsed) return;
  settings_ = parsed;
  if (open_ && !lost_ && rfc2217() && !negotiating_ &&
      telnet_.local_enabled(telnet::kComPortOption)) {
    Send(ComPortSettingsCommands(*settings_));
  }
}

void QtTcpSerialPort::Open() {
  if (open_) return;
  name_ = DescribePortAddress(address_);
  if (!address_.network()) {
    last_error_ = {PortErrorKind::kNotFound, name_ + ": not a network address"};
    return;
  }
  socket_.abort();  // whatever an earlier connection left
  pace_timer_.stop();
  socket_.setReadBufferSize(kReadChunk);
  socket_.connectToHost(QString::fromStdString(address_.host), static_cast<quint16>(address_.port));
  // Refused, unreachable and unresolved all end the wait early; a silent network takes it whole.
  if (!socket_.waitForConnected(static_cast<int>(kConnectWait.count()))) {
    const bool timed_out = socket_.error() == QAbstractSocket::SocketTimeoutError ||
                           socket_.state() != QAbstractSocket::UnconnectedState;
    const std::string reason =
        timed_out ? "no connection within " + std::to_string(kConnectWait.count() / 1000) + " s"
                  : socket_.errorString().toStdString();
    socket_.abort();
    last_error_ = {PortErrorKind::kNotFound, name_ + ": " + reason};
    return;
  }
  // Frames are small and the controller waits for each: no coalescing delay.
  socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
  last_error_ = {};
  open_ = true;
  lost_ = false;
  write_failing_ = false;
  waiting_.clear();
  telnet_ = TelnetCodec();
  pace_ = ReadPace(SteadyMs());
  held_back_said_ = false;
  negotiating_ = rfc2217();
  if (negotiating_) {
    Send(telnet_.Start());
    negotiation_timer_.start(kNegotiationWait);
  }
}

void QtTcpSerialPort::Close() {
  // Cleared first, so that the disconnect that aborting raises is not taken as news.
  open_ = false;
  lost_ = false;
  negotiating_ = false;
  negotiation_timer_.stop();
  pace_timer_.stop();
  waiting_.clear();
  if (socket_.state() == QAbstractSocket::ConnectedState) socket_.flush();
  socket_.abort();
}

void QtTcpSerialPort::Output(const Bytes& bytes) {
  if (!open_ || lost_ || bytes.empty()) return;
  const Bytes wire = rfc2217() ? TelnetEscape(bytes) : bytes;
  if (negotiating_) {
    // Dropped beyond the bound, as a refused write is: the server is not taking anything yet.
    if (waiting_.size() + wire.size() <= kMaxWaiting)
      waiting_.insert(waiting_.end(), wire.begin(), wire.end());
    return;
  }
  Send(wire);
}

void QtTcpSerialPort::Send(const Bytes& wire) {
  if (wire.empty() || socket_.state() != QAbstractSocket::ConnectedState) return;
  const auto size = static_cast<qint64>(wire.size());
  if (socket_.bytesToWrite() + size > kMaxQueued) {
    // The server takes nothing: the queue would only grow.
    if (!write_failing_) {
      write_failing_ = true;
      Fail(PortErrorKind::kWriteFailed, name_ + ": the server takes nothing (" +
                                            std::to_string(socket_.bytesToWrite()) +
                                            " bytes wait unsent)");
    }
    return;
  }
  const qint64 written = socket_.write(reinterpret_cast<const char*>(wire.data()), size);
  if (written == size) {
    // Handed to the system now, as the write of a serial control does.
    socket_.flush();
    write_failing_ = false;
    return;
  }
  // Said once, not at every poll, until a write goes through again.
  if (!write_failing_) {
    write_failing_ = true;
    Fail(PortErrorKind::kWriteFailed, socket_.errorString().toStdString());
  }
}

void QtTcpSerialPort::OnReadyRead() {
  if (pace_timer_.isActive()) {
    HoldBack();  // what came meanwhile waits for the turn
    return;
  }
  ReadTurn();
}

void QtTcpSerialPort::ReadTurn() {
  socket_.setReadBufferSize(kReadChunk);  // reading on: Qt takes in again up to its bound
  if (!open_ || lost_) {
    socket_.readAll();
    return;
  }
  while (socket_.bytesAvailable() > 0) {
    const std::int64_t allowance = pace_.Allowance(SteadyMs());
    if (allowance == 0) {
      HoldBack();
      pace_timer_.start(std::chrono::milliseconds(std::max<std::int64_t>(1, pace_.WaitMs())));
      if (!held_back_said_) {
        held_back_said_ = true;
        RaiseSaid("the server sends more than a serial line carries: it is read at most " +
                  std::to_string(ReadPace::kPerSecond / 1024) + " KiB a second" +
                  (rfc2217() ? ", telnet negotiation at a sixteenth of that" : ""));
      }
      return;
    }
    const QByteArray chunk = socket_.read(std::min<qint64>(allowance, kReadTurn));
    if (chunk.isEmpty()) return;
    const auto* first = reinterpret_cast<const std::uint8_t*>(chunk.constData());
    if (!rfc2217()) {
      pace_.Took(chunk.size(), 0);
      RaiseReceive(Bytes(first, first + chunk.size()));
    } else {
      TelnetInput input = telnet_.Decode(first, static_cast<std::size_t>(chunk.size()));
      pace_.Took(static_cast<std::int64_t>(chunk.size() - input.negotiation_bytes),
                 static_cast<std::int64_t>(input.negotiation_bytes));
      Send(input.answer);
      for (const TelnetEvent& event : input.events)
        OnTelnetEvent(event);
      RaiseReceive(input.data);
    }
    // A listener may have closed the port.
    if (!open_ || lost_) return;
  }
}

void QtTcpSerialPort::HoldBack() {
  socket_.setReadBufferSize(std::max<qint64>(1, socket_.bytesAvailable()));
}

void QtTcpSerialPort::OnTelnetEvent(const TelnetEvent& event) {
  using Kind = TelnetEvent::Kind;
  if (event.option != telnet::kComPortOption) return;
  if (event.kind == Kind::kLocalOption) {
    if (negotiating_) {
      if (!event.enabled) {
        Fail(PortErrorKind::kOther,
             name_ +
                 " does not take line settings (COM-PORT-OPTION refused); the line keeps the "
                 "server's");
      }
      EndNegotiation();
    } else if (event.enabled && settings_) {
      Send(ComPortSettingsCommands(*settings_));  // agreed again later, on the server's request
    }
  }
}

void QtTcpSerialPort::EndNegotiation() {
  if (!negotiating_) return;
  negotiating_ = false;
  negotiation_timer_.stop();
  if (!open_ || lost_) return;
  if (settings_ && telnet_.local_enabled(telnet::kComPortOption))
    Send(ComPortSettingsCommands(*settings_));
  Send(std::exchange(waiting_, {}));
}

void QtTcpSerialPort::OnDropped() {
  if (!open_ || lost_) return;
  // An error the socket raises while still connected (a write it could not take) is not a drop.
  if (socket_.state() == QAbstractSocket::ConnectedState) return;
  lost_ = true;
  negotiating_ = false;
  negotiation_timer_.stop();
  waiting_.clear();
  QString reason = socket_.errorString();
  if (socket_.error() == QAbstractSocket::UnknownSocketError) reason = "connection closed";
  Fail(PortErrorKind::kLost, name_ + ": " + reason.toStdString());
}

void QtTcpSerialPort::Fail(PortErrorKind kind, const std::string& text) {
  last_error_ = {kind, text};
  RaiseFailure(last_error_);
}

}  // namespace orv
