#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orv {

// The CRC-8/MAXIM (Dallas 1-Wire) lookup table, reflected polynomial 0x8C. Entry 256 exists only
// so that every lookup can be range-checked against 0..256; it is never used.
using Crc8TableType = std::array<std::uint8_t, 257>;

constexpr Crc8TableType BuildCrc8Table() {
  Crc8TableType table{};
  // 16 rows of 16 entries: row r supplies entries 16r .. 16r + 15.
  for (int row = 0; row < 16; ++row) {
    for (int j = 0; j < 16; ++j) {
      std::uint8_t crc = static_cast<std::uint8_t>(16 * row + j);
      for (int bit = 0; bit < 8; ++bit) {
        crc = static_cast<std::uint8_t>((crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1);
      }
      table[static_cast<std::size_t>(16 * row + j)] = crc;
    }
  }
  return table;
}

// Built at compile time, so no frame can ever be built or checked before the table exists.
inline constexpr Crc8TableType Crc8Table = BuildCrc8Table();

// The frames' CRC starts at 0xFF, not at the standard 0x00.
inline constexpr std::uint8_t kCrcInit = 0xFF;

constexpr std::uint8_t Crc8Step(std::uint8_t accumulator, std::uint8_t byte) {
  const unsigned index = static_cast<unsigned>(accumulator ^ byte);
  return index <= 256 ? Crc8Table[index] : 0;
}

static_assert(Crc8Table[1] == 0x5E && Crc8Table[2] == 0xBC && Crc8Table[3] == 0xE2 &&
              Crc8Table[255] == 0x35);

}  // namespace orv
