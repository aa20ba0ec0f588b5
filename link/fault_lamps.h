#pragma once

#include <cstdint>

#include "platform/controls.h"

namespace orv {

// The twelve system fault lamps (Shape1 0..11) follow whichever message came last: the fault
// image reply or the panel status report. Every lamp is written on every message; the zone lamps
// 12..23 are never touched.
void HandleFaultImageReply(ControlArray<Shape>& lamps, std::uint8_t d0, std::uint8_t d1);
void HandlePanelStatusReport(ControlArray<Shape>& lamps, std::int32_t report_value);

}  // namespace orv
