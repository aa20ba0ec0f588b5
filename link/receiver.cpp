#include "link/receiver.h"

#include "link/crc8.h"
#include "link/frame.h"

namespace orv {

void Receiver::OnComm(const Bytes& chunk) {
  if (chunk.empty()) return;
  for (const std::uint8_t b : chunk) {
    RxRing[static_cast<std::size_t>(RxRingWrite)] = b;
    RxRingWrite = static_cast<std::int16_t>((RxRingWrite + 1) % kRingPositions);
  }
  chunk_received_(chunk);
}

bool Receiver::TakeRxByte() {
  if (RxRingRead == RxRingWrite) return false;
  RxByte = RxRing[static_cast<std::size_t>(RxRingRead)];
  RxRingRead = static_cast<std::int16_t>((RxRingRead + 1) % kRingPositions);
  return true;
}

void Receiver::ResetRing() {
  RxRingWrite = 0;
  RxRingRead = RxRingWrite;
}

void Receiver::AssembleRxFrames() {
  if (RxIdleTicks > 0) --RxIdleTicks;
  while (TakeRxByte())
    HandleByte(RxByte);
}

void Receiver::HandleByte(std::uint8_t b) {
  // A gap of 30 ticks or more abandons a partial frame.
  if (RxIdleTicks == 0) RxState = kHuntStx;
  RxIdleTicks = kIdleReloadTicks;
  switch (RxState) {
    case kHuntStx:
      if (b == kStx) RxState = kExpectLen;
      RxIndex = 0;
      break;
    case kExpectLen:
      RxLength = b;
      // A payload above 101 bytes has nowhere to go: drop the frame at its LEN byte.
      RxState = b > kPayloadSize ? kHuntStx : kExpectCmd;
      break;
    case kExpectCmd:
      RxCommand = b;
      RxState = RxLength > 0 ? kCollectData : kExpectCrc;
      RxCrc = Crc8Step(kCrcInit, b);
      break;
    case kCollectData:
      if (RxIndex < kPayloadSize) RxPayload[RxIndex] = b;
      ++RxIndex;
      if (RxIndex >= RxLength) RxState = kExpectCrc;
      RxCrc = Crc8Step(RxCrc, b);
      break;
    case kExpectCrc:
      RxState = b == RxCrc ? kExpectEtx : kHuntStx;
      break;
    case kExpectEtx:
      RxState = kHuntStx;
      if (b == kEtx) frame_received_(ReceivedFrame{RxCommand, RxLength, RxPayload});
      break;
    default:
      RxState = kHuntStx;
      break;
  }
}

}  // namespace orv
