#pragma once

// Report storms: fault event reports numbered by their value, so that every record of a storm is
// different and its place in the order can be checked. For targets that link the link and event
// rooms.
#include <cstdint>
#include <string>

#include "events/event_decoder.h"
#include "link/frame.h"

namespace orv::test {

// The reports of values first..last-1 (fault reports, 8 bytes each), back to back.
inline Bytes FaultReports(int first, int last) {
  Bytes storm;
  for (int i = first; i < last; ++i) {
    const std::uint8_t data[] = {0x21, static_cast<std::uint8_t>(i >> 8),
                                 static_cast<std::uint8_t>(i)};
    const Bytes frame = EncodeFrame(cmd::kReport, data);
    storm.insert(storm.end(), frame.begin(), frame.end());
  }
  return storm;
}

// The line of the report of value i after the date: "Event = Fault 0000000000000101".
inline std::string FaultEvent(int i) {
  return "Event = Fault " + FormatBits(i, 16);
}

// EventLog.txt's records of values first..last-1, each once and in order, dated as the window
// tests' clock says (12/04 05:21).
inline std::string FaultRecords(int first, int last) {
  std::string all;
  for (int i = first; i < last; ++i)
    all += "12/04 05:21 " + FaultEvent(i) + "\n\r\n";
  return all;
}

}  // namespace orv::test
