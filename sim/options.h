#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/controller.h"

namespace orv::sim {

// "9600,N,8,1": baud, parity N/E/O, data bits 5..8, stop bits 1 or 2.
struct LineSettings {
  int baud = 9600;
  char parity = 'N';
  int data_bits = 8;
  int stop_bits = 1;

  // Start bit, data, parity and stop bits: the line time of one byte in bit times.
  int BitsPerCharacter() const { return 1 + data_bits + (parity == 'N' ? 0 : 1) + stop_bits; }
};

std::optional<LineSettings> ParseLineSettings(const std::string& text);

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
