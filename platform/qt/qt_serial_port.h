#pragma once

#include <QSerialPort>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/line_settings.h"
#include "platform/port_lock.h"
#include "platform/serial_port.h"

namespace orv {

// The device a port number stands for when no mapping names one: the system's n-th serial port.
// Empty for numbers below 1.
std::string DefaultDeviceForPort(int port_number);

// The serial port interface on QSerialPort. Opened, used and closed on the thread that owns it.
//
// A device that vanishes while open (USB adapter pulled, pty master closed) is marked lost and its
// handle released: reading stops, writes are dropped, and the port still reports itself open
// until Close(), so that the program's disconnect path stays the one way out. The loss is said
// once through failed(); nothing retries.
//
// A device is used only when it is a terminal that root or the user running the program owns,
// judged by its name before the open and on the handle after it; anything else fails the open
// with the reason. A device held by another program fails with who holds it, as its lock says.
class QtSerialPort : public SerialPort {
 public:
  // Device path for a port number, or "" for the system default. Asked at every Open(), so a
  // changed mapping takes effect at the next connect.
  using DeviceLookup = std::function<std::string(int port_number)>;

  explicit QtSerialPort(DeviceLookup device_for_port = {});
  ~QtSerialPort() override;
  QtSerialPort(const QtSerialPort&) = delete;
  QtSerialPort& operator=(const QtSerialPort&) = delete;

  void SetCommPort(int port_number) override { comm_port_ = port_number; }
  void SetHandshakingNone() override;
  // A text that does not parse is ignored; settings the open device refuses are rolled back.
  // While closed, the settings wait for the next Open().
  void SetSettings(const std::string& settings) override;
  void Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  void Output(const Bytes& bytes) override;
  PortError last_error() const override { return last_error_; }

  // For a program that owns the line (the service): a lock file whose process does not have the
  // device open is removed and the open tried again, and this is said through said(). A lock this
  // user cannot judge (another user's process) or remove (another user's file in the sticky lock
  // folder) goes to beyond_reach with why, at every open it stops, for a step with the rights to
  // (root's, before the service starts). said_before, what such a step did, is said at the next
  // open. Without this (a window) such a lock is only named, as any other.
  using LockBeyondReach = std::function<void(const PortLockHolder& lock, const std::string& why)>;
  void TakeOverSquattedLocks(LockBeyondReach beyond_reach, std::string said_before = {}) {
    take_over_ = true;
    beyond_reach_ = std::move(beyond_reach);
    said_before_ = std::move(said_before);
  }

  // The device tried by the last Open().
  std::string device() const override { return device_; }
  bool device_lost() const { return lost_; }
  // The line settings the port holds now (those in force while open).
  LineSettings line_settings() const;
  // Error notifications received from QSerialPort, of any kind; each is handled in constant time.
  int error_notifications() const { return error_notifications_; }
  // The wrapped port, for tests that need to provoke its signals.
  QSerialPort& qt_port() { return port_; }

 private:
  void OnReadyRead();
  // Hands everything read so far to the receive event, and lets the port read on.
  void Drain();
  void OnError(QSerialPort::SerialPortError error);
  void ReleaseLostDevice();
  // Applies the pending settings to the open port; all of them or, if the device refuses one,
  // none (the previous settings are put back).
  void ApplyPendingSettings();
  bool TryApply(const LineSettings& settings);
  // Why the open just tried failed, from Qt's error and a look at the device itself.
  PortError OpenFailure() const;
  // After a refused open: takes a squatted lock over, when asked to, and opens again.
  bool OpenPastSquat();
  // Why the device just opened is not to be used (not a terminal, another user's), if it is not.
  std::optional<PortError> HandleRefusal() const;
  void Fail(PortErrorKind kind, const QString& text);

  QSerialPort port_;
  // A busy line would wake the program for every few bytes: after one receive event the next
  // waits until kReceiveInterval has passed, and meanwhile the port stops reading (a read buffer
  // that counts as full turns QSerialPort's read notifier off). Bytes wait in the driver.
  static constexpr std::chrono::milliseconds kReceiveInterval{25};
  QTimer drain_timer_;
  std::chrono::steady_clock::time_point last_drain_{};
  DeviceLookup device_for_port_;
  bool take_over_ = false;
  LockBeyondReach beyond_reach_;
  std::string said_before_;
  std::optional<LineSettings> pending_settings_;
  std::string device_;
  int comm_port_ = 1;
  int error_notifications_ = 0;
  PortError last_error_;
  bool open_ = false;
  bool lost_ = false;
  bool write_failing_ = false;
};

}  // namespace orv
