#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/receiver.h"
#include "sim/controller.h"
#include "sim/transmission.h"
#include "tests/test_util.h"

namespace orv::sim::test {

using orv::test::Hex;

struct DecodedFrame {
  std::uint8_t command;
  Bytes data;
  bool operator==(const DecodedFrame&) const = default;
};

// Every good frame in the bytes, as the panel's own receiver finds them. The bytes go in in
// pieces small enough for its ring, each piece assembled before the next.
inline std::vector<DecodedFrame> DecodeAll(const Bytes& wire) {
  std::vector<DecodedFrame> frames;
  Receiver receiver;
  receiver.SetFrameHandler([&] {
    const std::size_t length = std::min<std::size_t>(receiver.rx_length(), Receiver::kPayloadSize);
    frames.push_back({receiver.rx_command(),
                      Bytes(receiver.rx_payload().begin(),
                            receiver.rx_payload().begin() + static_cast<std::ptrdiff_t>(length))});
  });
  constexpr std::size_t kPiece = 500;
  for (std::size_t at = 0; at < wire.size(); at += kPiece) {
    const std::size_t end = std::min(wire.size(), at + kPiece);
    receiver.OnComm(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(at),
                          wire.begin() + static_cast<std::ptrdiff_t>(end)));
    receiver.AssembleRxFrames();
  }
  return frames;
}

// The transmissions joined as they would follow each other on the line.
inline Bytes Wire(const std::vector<Transmission>& transmissions) {
  Bytes wire;
  for (const Transmission& t : transmissions)
    wire.insert(wire.end(), t.bytes.begin(), t.bytes.end());
  return wire;
}

// A report frame's kind and value.
inline DecodedFrame ReportFrame(std::uint8_t kind, std::uint16_t value) {
  return {0xA0, {kind, static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}};
}

// Hands the request's bytes through a receiver to the controller, as the simulator's shell does,
// and returns everything the controller sends in answer.
inline std::vector<Transmission> Request(Controller& controller, const Bytes& request, Millis now) {
  for (const DecodedFrame& frame : DecodeAll(request))
    controller.HandleFrame(frame.command, frame.data, now);
  return controller.TakeOutput();
}

inline ControllerOptions QuietOptions() {
  ControllerOptions options;
  options.report_interval_s = 0;
  return options;
}

}  // namespace orv::sim::test
