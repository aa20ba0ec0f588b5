#pragma once

#include <chrono>
#include <string>

#include "platform/serial_port.h"

namespace orv::sim {

using Millis = std::chrono::milliseconds;

// One stretch of bytes for the line, with what it means for the log. A frame sent whole is one
// transmission; a split frame is two, the second with a pause before it.
struct Transmission {
  Bytes bytes;
  std::string meaning;
  Millis pause_before{0};
};

}  // namespace orv::sim
