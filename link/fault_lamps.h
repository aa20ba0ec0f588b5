#pragma once

#include <array>
#include <bitset>
#include <cstdint>

namespace orv {

// The twelve system fault lamps, bit i for lamp i (set: lit). They follow whichever message came
// last, the fault image reply or the panel status report, and every message sets all twelve.
inline constexpr int kSystemLamps = 12;
using FaultLamps = std::bitset<kSystemLamps>;

// The captions of the lamps in the window, lamp 0 first; also their names outside the window.
inline constexpr std::array<const char*, kSystemLamps> kFaultLampCaptions{
    "Processor reset", "Network", "Call/EMG", "Music/Spare", "Ground Short", "Input",
    "Mains",           "Battery", "Message",  "EMG mic.",    "RCP",          "Router"};

FaultLamps FaultImageLamps(std::uint8_t d0, std::uint8_t d1);
FaultLamps PanelStatusLamps(std::int32_t report_value);

}  // namespace orv
