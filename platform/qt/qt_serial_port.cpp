#include "platform/qt/qt_serial_port.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/port_lock.h"
#include "platform/users.h"

namespace orv {
namespace {

QSerialPort::Parity ToQt(Parity parity) {
  switch (parity) {
    case Parity::kEven:
      return QSerialPort::EvenParity;
    case Parity::kOdd:
      return QSerialPort::OddParity;
    case Parity::kMark:
      return QSerialPort::MarkParity;
    case Parity::kSpace:
      return QSerialPort::SpaceParity;
    case Parity::kNone:
      break;
  }
  return QSerialPort::NoParity;
}

Parity FromQt(QSerialPort::Parity parity) {
  switch (parity) {
    case QSerialPort::EvenParity:
      return Parity::kEven;
    case QSerialPort::OddParity:
      return Parity::kOdd;
    case QSerialPort::MarkParity:
      return Parity::kMark;
    case QSerialPort::SpaceParity:
      return Parity::kSpace;
    default:
      return Parity::kNone;
  }
}

QSerialPort::StopBits ToQt(StopBits stop_bits) {
  switch (stop_bits) {
    case StopBits::kOneAndHalf:
      return QSerialPort::OneAndHalfStop;
    case StopBits::kTwo:
      return QSerialPort::TwoStop;
    case StopBits::kOne:
      break;
  }
  return QSerialPort::OneStop;
}

StopBits FromQt(QSerialPort::StopBits stop_bits) {
  switch (stop_bits) {
    case QSerialPort::OneAndHalfStop:
      return StopBits::kOneAndHalf;
    case QSerialPort::TwoStop:
      return StopBits::kTwo;
    default:
      return StopBits::kOne;
  }
}

const char* FileKind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "no character device";
}

// A local device is taken only when it is a character device that root or this user owns:
// anything else could be a stand-in whose far end another user plays (a pty of theirs, a FIFO).
std::optional<PortError> DeviceRefusal(const std::string& device, const struct stat& info) {
  if (!S_ISCHR(info.st_mode)) {
    return PortError{PortErrorKind::kNotATerminal,
                     device + ": " + FileKind(info.st_mode) + ", not a serial device"};
  }
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    return PortError{
        PortErrorKind::kUntrustedDevice,
        device + ": belongs to user " + UserName(static_cast<std::uint32_t>(info.st_uid))};
  }
  return std::nullopt;
}

std::optional<PortError> NotATerminal(const std::string& device) {
  return PortError{PortErrorKind::kNotATerminal, device + ": not a terminal"};
}

// A line that is gone (adapter pulled, the far end of a pty closed) is hung up, and says so to
// poll(); one that is there but had nothing to read when it said it had is being read by another
// program as well, which took the bytes first.
bool HungUp(int fd) {
  pollfd look{fd, POLLIN, 0};
  if (::poll(&look, 1, 0) < 0) return true;
  return (look.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

std::string DefaultDeviceForPort(int port_number) {
  if (port_number < 1) return {};
  return "/dev/ttyS" + std::to_string(port_number - 1);
}

QtSerialPort::QtSerialPort(DeviceLookup device_for_port)
    : device_for_port_(std::move(device_for_port)) {
  QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { OnReadyRead(); });
  QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                   [this](QSerialPort::SerialPortError error) { OnError(error); });
  drain_timer_.setSingleShot(true);
  QObject::connect(&drain_timer_, &QTimer::timeout, &port_, [this] { Drain(); });
}

QtSerialPort::~QtSerialPort() {
  // Closing below may still emit; nothing of this object may run from here on.
  drain_timer_.stop();
  QObject::disconnect(&drain_timer_, nullptr, nullptr, nullptr);
  QObject::disconnect(&port_, nullptr, nullptr, nullptr);
  if (port_.isOpen()) port_.close();
}

void QtSerialPort::SetHandshakingNone() {
  // A lost device refuses every setting; it is applied again at the next Open() anyway.
  if (!lost_) port_.setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialPort::SetSettings(const std::string& settings) {
  const std::optional<LineSettings> parsed = ParseLineSettings(settings);
  if (!parsed) return;
  pending_settings_ = parsed;
  if (open_ && !lost_) ApplyPendingSettings();
}

void QtSerialPort::Open() {
  if (open_) return;
  device_ = device_for_port_ ? device_for_port_(comm_port_) : std::string();
  if (device_.empty()) device_ = DefaultDeviceForPort(comm_port_);
  if (device_.empty()) {
    last_error_ = {PortErrorKind::kNotFound,
                   "COM" + std::to_string(comm_port_) + " names no device"};
    return;
  }

  // Links are followed (/dev/serial/by-id/... lead to the device); what they lead to is judged.
  // A name that cannot be looked at is left to the open, which says why.
  struct stat info {};
  if (::stat(device_.c_str(), &info) == 0) {
    if (std::optional<PortError> refusal = DeviceRefusal(device_, info)) {
      last_error_ = *std::move(refusal);
      return;
    }
  }

  if (!said_before_.empty()) RaiseSaid(std::exchange(said_before_, {}));
  port_.setPortName(QString::fromStdString(device_));
  // Opens with the settings last in force, then tries the new ones on the device itself: only
  // the open device can tell whether it accepts them.
  if (!port_.open(QIODevice::ReadWrite) && !OpenPastSquat()) {
    last_error_ = OpenFailure();
    port_.clearError();
    return;
  }
  // Judged again on the open handle: the name may have been made to lead elsewhere meanwhile.
  if (std::optional<PortError> refusal = HandleRefusal()) {
    port_.close();
    port_.clearError();
    last_error_ = *std::move(refusal);
    return;
  }
  last_error_ = {};
  open_ = true;
  lost_ = false;
  write_failing_ = false;
  ApplyPendingSettings();
}

void QtSerialPort::Close() {
  // Cleared first, so that errors raised while closing a vanished device are not taken as news.
  // A lost device's handle may already be released.
  open_ = false;
  lost_ = false;
  drain_timer_.stop();
  port_.setReadBufferSize(0);
  if (port_.isOpen()) port_.close();
  port_.clearError();
}

void QtSerialPort::Output(const Bytes& bytes) {
  if (!open_ || lost_ || !port_.isOpen() || bytes.empty()) return;
  const qint64 written =
      port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  // Hands the bytes to the driver now, as the write call of a serial control does; whatever it
  // does not take at once follows from the event loop.
  if (written > 0) {
    port_.flush();
    write_failing_ = false;
    return;
  }
  // Said once, not at every poll, until a write goes through again.
  if (!write_failing_ && !lost_) {
    write_failing_ = true;
    Fail(PortErrorKind::kWriteFailed, port_.errorString());
  }
}

PortError QtSerialPort::OpenFailure() const {
  const std::string text = device_ + ": " + port_.errorString().toStdString();
  switch (port_.error()) {
    case QSerialPort::DeviceNotFoundError:
      return {PortErrorKind::kNotFound, text};
    case QSerialPort::PermissionError: {
      // Qt says "permission" for a device in use as well; only the device's own access rights
      // tell the two apart.
      if (faccessat(AT_FDCWD, device_.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES) {
        return {PortErrorKind::kPermission, text};
      }
      // Who holds it, as its lock file tells; a lock whose process has ended is named as such,
      // with the file to remove.
      if (const std::optional<PortLockHolder> holder = FindPortLock(device_)) {
        return {
            holder->pid > 0 && holder->running ? PortErrorKind::kBusy : PortErrorKind::kStaleLock,
            device_ + ": " + DescribePortLock(*holder)};
      }
      return {PortErrorKind::kBusy, text};
    }
    default:
      break;
  }
  struct stat info {};
  if (stat(device_.c_str(), &info) != 0 && errno == ENOENT) return {PortErrorKind::kNotFound, text};
  // A character device that is no terminal (/dev/null) fails the serial set-up; a look of its own
  // tells the operator so in plain words. Only devices already judged acceptable get here.
  if (S_ISCHR(info.st_mode)) {
    const int fd = ::open(device_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      const bool terminal = ::isatty(fd) == 1;
      ::close(fd);
      if (!terminal) return *NotATerminal(device_);
    }
  }
  return {PortErrorKind::kOther, text};
}

bool QtSerialPort::OpenPastSquat() {
  if (!take_over_ || port_.error() != QSerialPort::PermissionError) return false;
  const std::optional<PortLockHolder> holder = FindPortLock(device_);
  if (!holder) return false;
  const PortLockVerdict verdict = JudgePortLock(*holder, device_);
  if (verdict == PortLockVerdict::kHolder) return false;
  std::string why = "this user may not look into process " + std::to_string(holder->pid);
  if (verdict == PortLockVerdict::kCannotTell || !RemovePortLock(*holder, why)) {
    if (beyond_reach_) beyond_reach_(*holder, why);
    return false;
  }
  RaiseSaid(DescribeLockAndProcess(*holder) + (verdict == PortLockVerdict::kStale
                                                   ? " was removed"
                                                   : ", which did not have the device open, "
                                                     "was taken over"));
  port_.clearError();
  return port_.open(QIODevice::ReadWrite);
}

std::optional<PortError> QtSerialPort::HandleRefusal() const {
  const int fd = static_cast<int>(port_.handle());
  struct stat info {};
  if (::fstat(fd, &info) != 0) return NotATerminal(device_);
  if (std::optional<PortError> refusal = DeviceRefusal(device_, info)) return refusal;
  if (::isatty(fd) != 1) return NotATerminal(device_);
  return std::nullopt;
}

void QtSerialPort::Fail(PortErrorKind kind, const QString& text) {
  last_error_ = {kind, device_ + ": " + text.toStdString()};
  RaiseFailure(last_error_);
}

LineSettings QtSerialPort::line_settings() const {
  return LineSettings{static_cast<int>(port_.baudRate()), FromQt(port_.parity()),
                      static_cast<int>(port_.dataBits()), FromQt(port_.stopBits())};
}

void QtSerialPort::OnReadyRead() {
  if (!open_ || lost_) return;
  const auto since = std::chrono::steady_clock::now() - last_drain_;
  if (since >= kReceiveInterval) {
    Drain();
    return;
  }
  // Holds what has come; the port reads no more until the drain.
  port_.setReadBufferSize(std::max<qint64>(1, port_.bytesAvailable()));
  if (!drain_timer_.isActive()) {
    drain_timer_.start(std::chrono::ceil<std::chrono::milliseconds>(kReceiveInterval - since));
  }
}

void QtSerialPort::Drain() {
  drain_timer_.stop();
  last_drain_ = std::chrono::steady_clock::now();
  // Unlimited again: reading on resumes with the read below.
  port_.setReadBufferSize(0);
  if (!open_ || lost_ || !port_.isOpen()) return;
  const QByteArray data = port_.readAll();
  const auto* first = reinterpret_cast<const std::uint8_t*>(data.constData());
  RaiseReceive(Bytes(first, first + data.size()));
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
  if (error == QSerialPort::NoError) return;
  ++error_notifications_;
  // Refused settings (modem lines and parity on ptys, for instance) and failed opens are not
  // fatal: the caller learns about an open through IsOpen(). A failed read or write on the open
  // handle is: the device is gone, and a hung-up line even reads as a ReadError with a stale
  // errno, not as a ResourceError.
  const bool handle_failed = error == QSerialPort::ResourceError ||
                             error == QSerialPort::ReadError || error == QSerialPort::WriteError;
  if (!handle_failed || !open_ || lost_) return;
  lost_ = true;
  if (error != QSerialPort::WriteError && port_.isOpen() &&
      !HungUp(static_cast<int>(port_.handle()))) {
    // Every byte the controller sends goes to whichever reader comes first: this program would
    // see a fraction of them at best. Said as such, not as a vanished device.
    Fail(PortErrorKind::kBusy, QStringLiteral("another program is reading COM%1").arg(comm_port_));
  } else {
    Fail(PortErrorKind::kLost, port_.errorString());
  }
  // QSerialPort leaves the read notifier of a hung-up handle armed, and queued bytes keep the
  // write notifier armed: either would report again on every pass of the event loop. So the
  // handle is released, once the notification in progress has returned (closing under its feet
  // is not safe). The port still reports itself open until Close().
  QMetaObject::invokeMethod(
      &port_, [this] { ReleaseLostDevice(); }, Qt::QueuedConnection);
}

void QtSerialPort::ReleaseLostDevice() {
  if (!lost_ || !port_.isOpen()) return;
  port_.clear(QSerialPort::Output);
  port_.close();
  port_.clearError();
}

void QtSerialPort::ApplyPendingSettings() {
  if (!pending_settings_) return;
  const LineSettings wanted = *pending_settings_;
  pending_settings_.reset();
  const LineSettings previous = line_settings();
  if (!TryApply(wanted)) TryApply(previous);
}

bool QtSerialPort::TryApply(const LineSettings& settings) {
  // Each setter keeps the old value when the device refuses the new one.
  bool ok = port_.setBaudRate(settings.baud_rate);
  ok = port_.setParity(ToQt(settings.parity)) && ok;
  ok = port_.setDataBits(static_cast<QSerialPort::DataBits>(settings.data_bits)) && ok;
  ok = port_.setStopBits(ToQt(settings.stop_bits)) && ok;
  return ok;
}

}  // namespace orv
