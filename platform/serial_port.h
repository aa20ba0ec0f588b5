#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orv {

using Bytes = std::vector<std::uint8_t>;

// What the program asks of a serial line. The setters and Open() may fail; the caller learns of a
// failure only through IsOpen(), exactly as the connection logic expects.
class SerialPort {
 public:
  using ReceiveHandler = std::function<void(const Bytes&)>;

  virtual ~SerialPort() = default;

  virtual void SetCommPort(int port_number) = 0;
  virtual void SetHandshakingNone() = 0;
  // Line settings text such as "9600,N,8,1".
  virtual void SetSettings(const std::string& settings) = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // One write of the whole array. A write the port refuses is dropped.
  virtual void Output(const Bytes& bytes) = 0;

  // Receive notification: every buffered byte at once, raw.
  void SetReceiveHandler(ReceiveHandler handler) { receive_handler_ = std::move(handler); }

 protected:
  void RaiseReceive(const Bytes& bytes) {
    if (!bytes.empty() && receive_handler_) receive_handler_(bytes);
  }

 private:
  ReceiveHandler receive_handler_;
};

}  // namespace orv
