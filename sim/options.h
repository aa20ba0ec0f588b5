#pragma once

#include <string>
#include <vector>

#include "platform/line_settings.h"
#include "sim/controller.h"

namespace orv::sim {

// Start bit, data, parity and stop bits: the line time of one byte in bit times. The simulator
// refuses 1.5 stop bits, so whole bits suffice.
int BitsPerCharacter(const LineSettings& line);

struct SimOptions {
  std::string link_path;    // publish a pseudo-terminal here
  std::string device_path;  // or use this serial device
  LineSettings line;
  ControllerOptions controller;
  int start_burst = 0;
  bool help = false;
};

struct ParsedOptions {
  SimOptions options;
  std::string error;  // empty when the command line was good
};

// The arguments after the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);
std::string HelpText();

}  // namespace orv::sim
