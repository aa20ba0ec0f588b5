#include "link/fault_lamps.h"

#include <array>

namespace orv {
namespace {

// Bit of the panel status word that lights each lamp, in lamp order.
constexpr std::array<std::int32_t, kSystemLamps> kPanelStatusBits = {
    0x4000, 0x1000, 0x0004, 0x0008, 0x0010, 0x2000, 0x0002, 0x0001, 0x0100, 0x0200, 0x0400, 0x0800};

}  // namespace

FaultLamps FaultImageLamps(std::uint8_t d0, std::uint8_t d1) {
  // The reply's twelve bits run in lamp order: d0 bits 0..7, then d1 bits 0..3.
  return FaultLamps(static_cast<unsigned long>(d0 | ((d1 & 0x0F) << 8)));
}

FaultLamps PanelStatusLamps(std::int32_t report_value) {
  FaultLamps lamps;
  for (int i = 0; i < kSystemLamps; ++i) {
    lamps[static_cast<std::size_t>(i)] =
        (report_value & kPanelStatusBits[static_cast<std::size_t>(i)]) != 0;
  }
  return lamps;
}

}  // namespace orv
