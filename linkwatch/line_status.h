#pragma once

#include <string>

namespace orv {

// What the window shows of the serial line beside the notices: composed by the program, drawn
// by the toolkit binding as it is.
struct LineStatus {
  std::string port;     // the COM port with its device and line settings
  std::string state;    // "Disconnected", "Connected: last reply 0.4 s ago", ...
  bool alarm = false;   // the controller does not answer: shown in red
  std::string details;  // the counters, one per line
  // Added to the window's caption in the shown title (the caption itself never changes).
  std::string title_suffix;

  bool operator==(const LineStatus&) const = default;
};

}  // namespace orv
