#include "link/link_watch.h"

#include <algorithm>
#include <chrono>

namespace orv {

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void LinkWatch::ReadTickClock() {
  if (tick_clock_) now_ms_ = std::max(now_ms_, tick_clock_());
}

void LinkWatch::Connect() {
  ReadTickClock();
  state_ = State::kWaiting;
  connect_ms_ = now_ms_;
  last_reply_ms_ = now_ms_;
  connect_time_ = Now();
  last_reply_time_ = connect_time_;
  had_reply_ = false;
  frame_this_tick_ = false;
}

void LinkWatch::Disconnect() {
  state_ = State::kDisconnected;
  had_reply_ = false;
  frame_this_tick_ = false;
}

void LinkWatch::Tick() {
  if (tick_clock_) {
    ReadTickClock();
  } else {
    now_ms_ += kMsPerTick;
  }
  const bool frame = frame_this_tick_;
  frame_this_tick_ = false;
  if (state_ == State::kDisconnected) return;
  if (frame) {
    const std::int64_t silent = silent_ticks();
    last_reply_ms_ = now_ms_;
    // One look at the clock per tick with traffic, not one per frame.
    last_reply_time_ = Now();
    had_reply_ = true;
    const bool was_lost = state_ == State::kLost;
    state_ = State::kAnswering;
    if (was_lost) {
      changed_(Change{false, last_reply_time_, true, silent, (now_ms_ - lost_ms_) / kMsPerTick});
    }
    return;
  }
  if (!enabled() || state_ == State::kLost) return;
  if (now_ms_ - last_reply_ms_ >= std::int64_t{no_reply_seconds_} * 1000) {
    state_ = State::kLost;
    lost_ms_ = now_ms_;
    changed_(Change{true, last_reply_time_, had_reply_, silent_ticks(), 0});
  }
}

}  // namespace orv
