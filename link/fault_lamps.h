#pragma once

#include <bitset>
#include <cstdint>

namespace orv {

// The twelve system fault lamps, bit i for lamp i (set: lit). They follow whichever message came
// last, the fault image reply or the panel status report, and every message sets all twelve.
inline constexpr int kSystemLamps = 12;
using FaultLamps = std::bitset<kSystemLamps>;

FaultLamps FaultImageLamps(std::uint8_t d0, std::uint8_t d1);
FaultLamps PanelStatusLamps(std::int32_t report_value);

}  // namespace orv
