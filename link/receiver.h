#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/serial_port.h"
#include "platform/signal.h"

namespace orv {

// A frame whose CRC and ETX were right. The payload is the whole payload buffer, not just LEN
// bytes: handlers read fixed positions whatever LEN said, so a short frame sees what earlier
// frames left behind.
struct ReceivedFrame {
  std::uint8_t command = 0;
  std::uint8_t length = 0;
  std::span<const std::uint8_t> payload;
};

// What the assembler made of the bytes it took, since the program started: a commissioning aid,
// never used to decide anything on the line.
struct ReceiveCounters {
  std::uint64_t valid_frames = 0;
  std::uint64_t crc_failures = 0;
  // Bad ETX, LEN above 101, a partial frame abandoned by the idle gap.
  std::uint64_t other_drops = 0;
  // Bytes examined while hunting for STX that were not one.
  std::uint64_t stray_bytes = 0;
};

// Receive path: the receive event only stores bytes in RxRing; once per tick AssembleRxFrames
// drains the ring through the six-state frame assembler and reports each good frame.
//
// A tick brings up to 1,152 bytes at 115200 baud, and a late tick more: what does not fit the
// ring waits, in order, in a backlog behind it instead of overwriting bytes not yet read, and
// the same tick drains both. Only a backlog past its bound (a line faster than the program can
// take) loses bytes, and those are counted.
class Receiver {
 public:
  static constexpr int kRingPositions = 1200;  // positions wrap here; RxRing[1200] is never used
  static constexpr std::size_t kBacklogLimit = std::size_t{1} << 20;  // 90 s of 115200 baud
  static constexpr int kPayloadSize = 101;
  static constexpr std::uint8_t kIdleReloadTicks = 30;

  enum State : std::uint8_t {
    kHuntStx = 0,
    kExpectLen = 1,
    kExpectCmd = 2,
    kCollectData = 3,
    kExpectCrc = 4,
    kExpectEtx = 5,
  };

  // Every frame whose CRC and ETX are right, as it is completed.
  Signal<const ReceivedFrame&>& frame_received() { return frame_received_; }
  // Every received chunk, after it is stored (the received-data display).
  Signal<const Bytes&>& chunk_received() { return chunk_received_; }

  // The serial port's receive event.
  void OnComm(const Bytes& chunk);
  bool TakeRxByte();
  void AssembleRxFrames();
  // Empties the ring and the backlog (done each time the port is opened); the assembler keeps
  // its state.
  void ResetRing();

  // Bytes lost because the backlog was full, since the program started.
  std::uint64_t overflow_bytes() const { return overflow_bytes_; }
  std::size_t backlog_size() const { return backlog_.size() - backlog_head_; }
  const ReceiveCounters& counters() const { return counters_; }

  std::uint8_t rx_command() const { return RxCommand; }
  std::uint8_t rx_length() const { return RxLength; }
  std::uint8_t rx_state() const { return RxState; }
  std::uint8_t rx_idle_ticks() const { return RxIdleTicks; }
  std::int16_t rx_ring_read() const { return RxRingRead; }
  std::int16_t rx_ring_write() const { return RxRingWrite; }
  const std::array<std::uint8_t, kPayloadSize>& rx_payload() const { return RxPayload; }

 private:
  void HandleByte(std::uint8_t b);
  bool RingFull() const {
    return (RxRingWrite + 1 == kRingPositions ? 0 : RxRingWrite + 1) == RxRingRead;
  }
  void StoreInRing(std::uint8_t b);
  // Moves waiting bytes into the ring as far as it has room.
  void RefillFromBacklog();

  Signal<const ReceivedFrame&> frame_received_;
  Signal<const Bytes&> chunk_received_;

  std::array<std::uint8_t, kRingPositions + 1> RxRing{};
  std::int16_t RxRingWrite = 0;
  std::int16_t RxRingRead = 0;
  std::uint8_t RxByte = 0;
  std::uint8_t RxState = kHuntStx;
  std::uint8_t RxIdleTicks = 0;
  std::uint8_t RxLength = 0;
  std::uint8_t RxCommand = 0;
  std::uint8_t RxIndex = 0;
  std::uint8_t RxCrc = 0;
  std::array<std::uint8_t, kPayloadSize> RxPayload{};

  std::vector<std::uint8_t> backlog_;
  std::size_t backlog_head_ = 0;
  std::uint64_t overflow_bytes_ = 0;
  ReceiveCounters counters_;
};

}  // namespace orv
