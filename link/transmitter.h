#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "platform/serial_port.h"

namespace orv {

// The one transmit path: every sender builds its frame in TxBuffer by the frame recipe and hands
// it to the port in one write. No queue, no retry, no wait for a reply.
class Transmitter {
 public:
  static constexpr int kTxBufferSize = 1201;

  explicit Transmitter(SerialPort& port) : port_(port) {}

  // Builds the frame for CMD and DATA in TxBuffer and sends it.
  void SendFrame(std::uint8_t command, std::initializer_list<std::uint8_t> data);
  // Poll commands 6 to 10: command 6 carries one data byte 0x00, the others none.
  void SendPollCommand(std::uint8_t command);
  // Writes the first count bytes of TxBuffer as one write; a count of 0 (or out of range) sends
  // nothing.
  void SendTxBuffer(std::int16_t count);

  const std::array<std::uint8_t, kTxBufferSize>& tx_buffer() const { return TxBuffer; }
  std::uint8_t tx_data_length() const { return TxDataLength; }
  std::uint8_t crc_accumulator() const { return CrcAccumulator; }
  // Frames handed to the port since the program started, whether or not it took them.
  std::uint64_t frames_sent() const { return frames_sent_; }

 private:
  SerialPort& port_;
  std::array<std::uint8_t, kTxBufferSize> TxBuffer{};
  std::uint8_t TxDataLength = 0;
  std::uint8_t CrcAccumulator = 0;
  std::uint64_t frames_sent_ = 0;
};

}  // namespace orv
