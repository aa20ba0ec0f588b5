#include "link/receiver.h"

#include <algorithm>

#include "link/crc8.h"
#include "link/frame.h"

namespace orv {

void Receiver::OnComm(const Bytes& chunk) {
  if (chunk.empty()) return;
  std::size_t i = 0;
  // Straight into the ring while nothing waits before these bytes and there is room.
  if (backlog_size() == 0) {
    const int used = (RxRingWrite - RxRingRead + kRingPositions) % kRingPositions;
    const std::size_t room = static_cast<std::size_t>(kRingPositions - 1 - used);
    for (const std::size_t n = std::min(room, chunk.size()); i < n; ++i)
      StoreInRing(chunk[i]);
  }
  const std::size_t room = kBacklogLimit - backlog_size();
  const std::size_t rest = chunk.size() - i;
  const std::size_t kept = std::min(rest, room);
  backlog_.insert(backlog_.end(), chunk.begin() + static_cast<std::ptrdiff_t>(i),
                  chunk.begin() + static_cast<std::ptrdiff_t>(i + kept));
  overflow_bytes_ += rest - kept;
  chunk_received_(chunk);
}

void Receiver::StoreInRing(std::uint8_t b) {
  RxRing[static_cast<std::size_t>(RxRingWrite)] = b;
  if (++RxRingWrite == kRingPositions) RxRingWrite = 0;
}

void Receiver::RefillFromBacklog() {
  while (backlog_head_ < backlog_.size() && !RingFull())
    StoreInRing(backlog_[backlog_head_++]);
  // Every tick drains the backlog to its end, so it never creeps along a growing buffer.
  if (backlog_head_ == backlog_.size()) {
    backlog_.clear();
    backlog_head_ = 0;
  }
}

bool Receiver::TakeRxByte() {
  if (RxRingRead == RxRingWrite) return false;
  RxByte = RxRing[static_cast<std::size_t>(RxRingRead)];
  if (++RxRingRead == kRingPositions) RxRingRead = 0;
  return true;
}

void Receiver::ResetRing() {
  RxRingWrite = 0;
  RxRingRead = RxRingWrite;
  backlog_.clear();
  backlog_head_ = 0;
}

void Receiver::AssembleRxFrames() {
  if (RxIdleTicks > 0 && --RxIdleTicks == 0 && RxState != kHuntStx) {
    // The gap has just abandoned a partial frame (the state itself falls back at the next byte);
    // counted here, once, so that a line gone quiet mid-frame shows it.
    ++counters_.other_drops;
  }
  do {
    while (TakeRxByte())
      HandleByte(RxByte);
    RefillFromBacklog();
  } while (RxRingRead != RxRingWrite);
}

void Receiver::HandleByte(std::uint8_t b) {
  // A gap of 30 ticks or more abandons a partial frame.
  if (RxIdleTicks == 0) RxState = kHuntStx;
  RxIdleTicks = kIdleReloadTicks;
  switch (RxState) {
    case kHuntStx:
      if (b == kStx) {
        RxState = kExpectLen;
      } else {
        ++counters_.stray_bytes;
      }
      RxIndex = 0;
      break;
    case kExpectLen:
      RxLength = b;
      // A payload above 101 bytes has nowhere to go: drop the frame at its LEN byte.
      if (b > kPayloadSize) {
        RxState = kHuntStx;
        ++counters_.other_drops;
      } else {
        RxState = kExpectCmd;
      }
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
      if (b == RxCrc) {
        RxState = kExpectEtx;
      } else {
        RxState = kHuntStx;
        ++counters_.crc_failures;
      }
      break;
    case kExpectEtx:
      RxState = kHuntStx;
      if (b == kEtx) {
        ++counters_.valid_frames;
        frame_received_(ReceivedFrame{RxCommand, RxLength, RxPayload});
      } else {
        ++counters_.other_drops;
      }
      break;
    default:
      RxState = kHuntStx;
      break;
  }
}

}  // namespace orv
