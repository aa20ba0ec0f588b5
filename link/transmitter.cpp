#include "link/transmitter.h"

#include <span>

#include "link/frame.h"

namespace orv {

void Transmitter::SendFrame(std::uint8_t command, std::initializer_list<std::uint8_t> data) {
  TxDataLength = static_cast<std::uint8_t>(data.size());
  const std::size_t count = WriteFrame(
      TxBuffer, command, std::span<const std::uint8_t>(data.begin(), data.size()), CrcAccumulator);
  SendTxBuffer(static_cast<std::int16_t>(count));
}

void Transmitter::SendPollCommand(std::uint8_t command) {
  if (command == cmd::kFaultImage) {
    SendFrame(command, {0x00});
  } else {
    SendFrame(command, {});
  }
}

void Transmitter::SendTxBuffer(std::int16_t count) {
  if (count <= 0 || count > kTxBufferSize) return;
  const Bytes bytes(TxBuffer.begin(), TxBuffer.begin() + count);
  ++frames_sent_;
  port_.Output(bytes);
}

}  // namespace orv
