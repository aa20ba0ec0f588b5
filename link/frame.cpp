#include "link/frame.h"

#include <array>

#include "link/crc8.h"

namespace orv {

std::size_t WriteFrame(std::span<std::uint8_t> buffer, std::uint8_t command,
                       std::span<const std::uint8_t> data, std::uint8_t& crc_accumulator) {
  const std::size_t length = data.size();
  if (length > 255 || length + kFrameOverhead > buffer.size()) return 0;
  buffer[0] = kStx;
  buffer[1] = static_cast<std::uint8_t>(length);
  crc_accumulator = kCrcInit;
  buffer[2] = command;
  crc_accumulator = Crc8Step(crc_accumulator, command);
  for (std::size_t i = 0; i < length; ++i)
    buffer[3 + i] = data[i];
  for (std::size_t i = 3; i < length + 3; ++i)
    crc_accumulator = Crc8Step(crc_accumulator, buffer[i]);
  buffer[length + 3] = crc_accumulator;
  buffer[length + 4] = kEtx;
  return length + kFrameOverhead;
}

Bytes EncodeFrame(std::uint8_t command, std::span<const std::uint8_t> data) {
  Bytes frame(data.size() + kFrameOverhead);
  std::uint8_t crc = 0;
  frame.resize(WriteFrame(frame, command, data, crc));
  return frame;
}

}  // namespace orv
