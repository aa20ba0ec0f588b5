#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/clock.h"
#include "platform/signal.h"

namespace orv {

// What went over the line since the connect: what an installer looks at while commissioning it.
struct LinkCounters {
  std::uint64_t frames_sent = 0;
  std::uint64_t valid_frames = 0;
  std::uint64_t crc_failures = 0;
  std::uint64_t other_drops = 0;  // bad ETX, LEN above 101, abandoned by the idle gap
  std::uint64_t stray_bytes = 0;  // outside any frame

  LinkCounters operator-(const LinkCounters& since) const {
    return {frames_sent - since.frames_sent, valid_frames - since.valid_frames,
            crc_failures - since.crc_failures, other_drops - since.other_drops,
            stray_bytes - since.stray_bytes};
  }
  bool operator==(const LinkCounters&) const = default;
};

// The tick's clock: monotonic milliseconds, read once per tick.
using TickClockFn = std::function<std::int64_t()>;
// The system's monotonic clock (steady_clock) in milliseconds: the program's tick clock.
std::int64_t SteadyMilliseconds();

// Whether the controller answers. The poll scheduler never waits for a reply, so a silent
// controller or a cut cable would leave the window calm; the watch only observes (it sends
// nothing and changes nothing on the line) and says when no valid frame has come for the set
// time. Driven by the 100 ms tick: only a valid frame dispatched in a tick counts, and the time
// is the tick's clock, read once per tick, so a tick that comes late (a busy event loop under a
// flood of bytes) does not make the watch late. Without a tick clock (tests) every tick is
// 100 ms. The wall clock is read only to name the local time of the last valid frame. Spans are
// said in ticks of 100 ms.
class LinkWatch {
 public:
  static constexpr int kTicksPerSecond = 10;
  static constexpr int kDefaultNoReplySeconds = 5;

  enum class State {
    kDisconnected,
    kWaiting,    // connected, nothing valid yet, the time not yet up
    kAnswering,  // a valid frame within the set time
    kLost,       // none for the set time (or none since the connect)
  };

  // A change between lost and answering, said once when it happens.
  struct Change {
    bool lost = false;
    // Local time of the last valid frame; of the connect when none came since.
    LocalDateTime last_reply_time;
    bool had_reply = false;
    // How long nothing valid came, in ticks: up to the loss, or up to the frame that ended it.
    std::int64_t silent_ticks = 0;
    // On the way back: how long the link was shown as lost, in ticks.
    std::int64_t lost_ticks = 0;
  };

  static constexpr std::int64_t kMsPerTick = 1000 / kTicksPerSecond;

  explicit LinkWatch(ClockFn clock = {}, TickClockFn tick_clock = {})
      : clock_(std::move(clock)), tick_clock_(std::move(tick_clock)) {}

  // 0 turns the watch off (never lost); takes effect at once.
  void set_no_reply_seconds(int seconds) { no_reply_seconds_ = seconds; }
  int no_reply_seconds() const { return no_reply_seconds_; }
  bool enabled() const { return no_reply_seconds_ > 0; }

  void Connect();
  void Disconnect();
  // A valid frame was dispatched in the current tick.
  void FrameReceived() { frame_this_tick_ = true; }
  // Once per tick, after the tick's frames were dispatched.
  void Tick();

  State state() const { return state_; }
  bool lost() const { return state_ == State::kLost; }
  bool had_reply() const { return had_reply_; }
  // Ticks since the last valid frame, or since the connect when none came.
  std::int64_t silent_ticks() const { return (now_ms_ - last_reply_ms_) / kMsPerTick; }
  // Ticks since the connect.
  std::int64_t connected_ticks() const { return (now_ms_ - connect_ms_) / kMsPerTick; }
  const LocalDateTime& last_reply_time() const { return last_reply_time_; }
  const LocalDateTime& connect_time() const { return connect_time_; }
  Signal<const Change&>& changed() { return changed_; }

 private:
  LocalDateTime Now() const { return clock_ ? clock_() : LocalDateTime{}; }
  // The tick clock's time, never going back.
  void ReadTickClock();

  ClockFn clock_;
  TickClockFn tick_clock_;
  int no_reply_seconds_ = kDefaultNoReplySeconds;
  State state_ = State::kDisconnected;
  std::int64_t now_ms_ = 0;
  std::int64_t connect_ms_ = 0;
  std::int64_t last_reply_ms_ = 0;
  std::int64_t lost_ms_ = 0;
  LocalDateTime last_reply_time_;
  LocalDateTime connect_time_;
  bool had_reply_ = false;
  bool frame_this_tick_ = false;
  Signal<const Change&> changed_;
};

}  // namespace orv
