#pragma once

#include <cstdint>
#include <string>

#include "link/link_watch.h"
#include "platform/clock.h"
#include "linkwatch/line_status.h"

namespace orv {

// Added to the window's caption in the shown title while the controller does not answer, so that
// the taskbar says it while the window is minimised.
inline constexpr const char* kNoReplyTitleSuffix = " - NO REPLY FROM CONTROLLER";

// "14:03:22".
std::string FormatTimeOfDay(const LocalDateTime& time);
// A span of ticks as the operator reads it: "0.4 s", "59.9 s", "2 min 5 s", "3 h 0 min 12 s".
std::string FormatTickSpan(std::int64_t ticks);

// The status bar's view of the line: port is "COM1 /dev/ttyUSB0 9600,N,8,1" or the like, counters
// those since the connect.
LineStatus ComposeLineStatus(const LinkWatch& watch, const LinkCounters& counters,
                             std::string port);

// The journal's and the desktop notification's words for a change of the link watch.
std::string LinkChangeText(const LinkWatch::Change& change);

}  // namespace orv
