#pragma once

#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace orv {

// Headless serial port: records every write as one entry and lets a test deliver received chunks.
class FakeSerialPort : public SerialPort {
 public:
  void SetCommPort(int port_number) override { comm_port_ = port_number; }
  void SetHandshakingNone() override { handshaking_none_ = true; }
  void SetSettings(const std::string& settings) override { settings_ = settings; }
  void Open() override;
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  void Output(const Bytes& bytes) override;
  PortError last_error() const override { return last_error_; }
  // "fakeN" for port N once an Open() has tried it.
  std::string device() const override { return device_; }

  // Test controls.
  void Deliver(const Bytes& chunk) { RaiseReceive(chunk); }
  void Say(const std::string& text) { RaiseSaid(text); }
  // An open refused for this reason (none: the open succeeds).
  void set_refuse_open(bool refuse, PortErrorKind why = PortErrorKind::kNotFound) {
    refuse_open_ = refuse ? why : PortErrorKind::kNone;
  }
  void set_refuse_writes(bool refuse) { refuse_writes_ = refuse; }
  // Simulates a device that vanished behind an open port: it stays "open" until closed.
  void set_open_state(bool open) { open_ = open; }
  // The device goes away behind the open port: said once, the port stays "open".
  void LoseDevice();

  // Writes the port accepted; writes while closed or refused only count as rejected.
  const std::vector<Bytes>& writes() const { return writes_; }
  int rejected_writes() const { return rejected_writes_; }
  void ClearWrites() { writes_.clear(); }
  int comm_port() const { return comm_port_; }
  bool handshaking_none() const { return handshaking_none_; }
  const std::string& settings() const { return settings_; }
  // Every Open() asked for, refused or not.
  int open_count() const { return open_count_; }

 private:
  std::vector<Bytes> writes_;
  std::string settings_;
  std::string device_;
  int comm_port_ = 0;
  int open_count_ = 0;
  int rejected_writes_ = 0;
  bool handshaking_none_ = false;
  bool open_ = false;
  PortErrorKind refuse_open_ = PortErrorKind::kNone;
  PortError last_error_;
  bool refuse_writes_ = false;
};

}  // namespace orv
