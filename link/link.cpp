#include "link/link.h"

namespace orv {

Link::Link(SerialPort& port, SharedState& shared)
    : port_(port),
      shared_(shared),
      transmitter_(port),
      dispatcher_(receiver_),
      scheduler_(shared, transmitter_) {
  port_.SetReceiveHandler([this](const Bytes& chunk) { receiver_.OnComm(chunk); });
  receiver_.SetFrameHandler([this] { dispatcher_.DispatchRxFrame(); });
}

void Link::Tick() {
  receiver_.AssembleRxFrames();
  scheduler_.PollNextCommand();
  if (shared_.RefreshTriggers) {
    if (refresh_) refresh_();
    shared_.RefreshTriggers = false;
  }
}

}  // namespace orv
