#pragma once

#include <string>

#include "sim/controller.h"

namespace orv::sim {

struct ConsoleReply {
  std::string text;  // for the operator; may span several lines
  bool quit = false;
};

// One line typed on standard input, e.g. "fault 4 on", "badcrc 2", "burst 50", "quit".
ConsoleReply RunConsoleLine(Controller& controller, const std::string& line, Millis now);
std::string ConsoleHelp();

}  // namespace orv::sim
