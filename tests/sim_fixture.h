// What the simulator's tests share: frames decoded as the panel's receiver finds them, and
// requests put to the controller as its shell puts them.
#pragma once

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "link/frame.h"
#include "link/receiver.h"
#include "sim/console.h"
#include "tests/test_util.h"

namespace orv::sim {

using orv::test::Hex;
using Out = std::vector<Transmission>;
using Frame = std::pair<std::uint8_t, Bytes>;  // command and data
using Frames = std::vector<Frame>;

inline const char* const kFaultPoll = "02 01 06 00 2B 03";
inline const Bytes kGoodReply = Hex("02 02 06 00 00 03 03");

// Every good frame in the bytes (less than the receive ring holds), as the panel's receiver finds.
inline Frames DecodeAll(const Bytes& wire) {
  Frames frames;
  Receiver rx;
  const Connection connection = rx.frame_received().Connect([&](const ReceivedFrame& frame) {
    const auto data = frame.payload.begin();
    frames.emplace_back(frame.command, Bytes(data, data + frame.length));
  });
  rx.OnComm(wire);
  rx.AssembleRxFrames();
  return frames;
}
inline Bytes Wire(const Out& out) {
  Bytes wire;
  for (const Transmission& t : out)
    wire.insert(wire.end(), t.bytes.begin(), t.bytes.end());
  return wire;
}
inline Frame ReportFrame(std::uint8_t kind, std::uint16_t value) {
  return {0xA0, {kind, std::uint8_t(value >> 8), std::uint8_t(value)}};
}
// The request through a receiver into the controller, as the shell does; returns the answer.
inline Out Request(Controller& c, const Bytes& request, Millis now = Millis{0}) {
  for (const Frame& frame : DecodeAll(request))
    c.HandleFrame(frame.first, frame.second, now);
  return c.TakeOutput();
}
inline Bytes Send(Controller& c, const std::string& hex, Millis now = Millis{0}) {
  return Wire(Request(c, Hex(hex), now));
}
inline Frames Sent(Controller& c) {
  return DecodeAll(Wire(c.TakeOutput()));
}
inline const ControllerOptions kQuiet{.report_interval_s = 0, .line_faults = {}};

class ControllerTest : public ::testing::Test {
 protected:
  ConsoleReply Type(const std::string& line, Millis now = Millis{0}) {
    return RunConsoleLine(c_, line, now);
  }
  Controller c_{kQuiet, Random::Seeded(7)};
};

// Ticks every 100 ms over [from, to]; the bytes sent at each tick that sent any.
inline std::vector<std::pair<Millis, Bytes>> TickFor(Controller& c, Millis from, Millis to) {
  std::vector<std::pair<Millis, Bytes>> sent;
  for (Millis now = from; now <= to; now += Millis{100}) {
    c.Tick(now);
    if (Bytes wire = Wire(c.TakeOutput()); !wire.empty()) sent.emplace_back(now, wire);
  }
  return sent;
}

}  // namespace orv::sim
