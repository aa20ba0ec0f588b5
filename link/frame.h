#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/serial_port.h"

namespace orv {

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::size_t kFrameOverhead = 5;  // STX, LEN, CMD, CRC, ETX

// Command codes of the controller protocol.
namespace cmd {
inline constexpr std::uint8_t kFaultImage = 6;
inline constexpr std::uint8_t kSoftStatus = 7;
inline constexpr std::uint8_t kEmgStatus = 8;
inline constexpr std::uint8_t kBusStatus = 9;
inline constexpr std::uint8_t kBgmStatus = 10;
inline constexpr std::uint8_t kSupervisionTime = 16;
inline constexpr std::uint8_t kSupervisionOnOff = 17;
inline constexpr std::uint8_t kSetSoftTrigger = 18;
inline constexpr std::uint8_t kSetEmgTrigger = 19;
inline constexpr std::uint8_t kSetBusTrigger = 20;
inline constexpr std::uint8_t kPanelKey = 22;
inline constexpr std::uint8_t kSetBgmChannel = 23;
inline constexpr std::uint8_t kImpedanceCheck = 24;
inline constexpr std::uint8_t kReport = 0xA0;
}  // namespace cmd

// The frame recipe: STX, LEN, CMD, DATA, CRC over CMD and DATA from 0xFF, ETX, laid out from
// buffer[0]. Leaves the running CRC in crc_accumulator and returns the frame's length, or 0 when
// the frame does not fit the buffer (nothing is written then).
std::size_t WriteFrame(std::span<std::uint8_t> buffer, std::uint8_t command,
                       std::span<const std::uint8_t> data, std::uint8_t& crc_accumulator);

// The same recipe into a fresh byte array (for tools that are not the program's transmit path).
Bytes EncodeFrame(std::uint8_t command, std::span<const std::uint8_t> data);

}  // namespace orv
