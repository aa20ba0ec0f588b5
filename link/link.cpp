#include "link/link.h"

#include <utility>

#include "link/status_replies.h"

namespace orv {

Link::Link(SerialPort& port, ClockFn clock, TickClockFn tick_clock)
    : port_(port),
      transmitter_(port),
      scheduler_(transmitter_),
      watch_(std::move(clock), std::move(tick_clock)) {
  connections_.push_back(
      port_.received().Connect([this](const Bytes& chunk) { receiver_.OnComm(chunk); }));
  connections_.push_back(receiver_.frame_received().Connect(
      [this](const ReceivedFrame& frame) { dispatcher_.DispatchRxFrame(frame); }));
  // Any valid frame, of any command, shows that the controller answers.
  connections_.push_back(
      receiver_.frame_received().Connect([this](const ReceivedFrame&) { watch_.FrameReceived(); }));
  connections_.push_back(dispatcher_.fault_image().Connect(
      [this](std::uint8_t d0, std::uint8_t d1) { fault_lamps_changed_(FaultImageLamps(d0, d1)); }));
  connections_.push_back(dispatcher_.panel_status().Connect(
      [this](std::int32_t value) { fault_lamps_changed_(PanelStatusLamps(value)); }));
  connections_.push_back(dispatcher_.trigger_status_reply().Connect(
      [this](std::uint8_t command, std::span<const std::uint8_t> payload) {
        const int page = HandleTriggerStatusReply(states_, payload, command);
        if (page >= 0) trigger_states_updated_(page);
      }));
}

void Link::Tick() {
  receiver_.AssembleRxFrames();
  watch_.Tick();
  scheduler_.PollNextCommand(PortConnected, shown_page_ ? shown_page_() : std::int16_t{0});
}

void Link::SetPortConnected(bool connected) {
  if (PortConnected == connected) return;
  PortConnected = connected;
  if (connected) {
    counters_at_connect_ = counters();
    watch_.Connect();
  } else {
    watch_.Disconnect();
  }
  connection_changed_(connected);
}

LinkCounters Link::counters() const {
  const ReceiveCounters& rx = receiver_.counters();
  return LinkCounters{transmitter_.frames_sent(), rx.valid_frames, rx.crc_failures, rx.other_drops,
                      rx.stray_bytes};
}

}  // namespace orv
