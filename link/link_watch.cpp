#include "link/link_watch.h"

namespace orv {

void LinkWatch::Connect() {
  state_ = State::kWaiting;
  connect_tick_ = ticks_;
  last_reply_tick_ = ticks_;
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
  ++ticks_;
  const bool frame = frame_this_tick_;
  frame_this_tick_ = false;
  if (state_ == State::kDisconnected) return;
  if (frame) {
    const std::int64_t silent = silent_ticks();
    last_reply_tick_ = ticks_;
    // One look at the clock per tick with traffic, not one per frame.
    last_reply_time_ = Now();
    had_reply_ = true;
    const bool was_lost = state_ == State::kLost;
    state_ = State::kAnswering;
    if (was_lost) changed_(Change{false, last_reply_time_, true, silent, ticks_ - lost_tick_});
    return;
  }
  if (!enabled() || state_ == State::kLost) return;
  if (silent_ticks() >= std::int64_t{no_reply_seconds_} * kTicksPerSecond) {
    state_ = State::kLost;
    lost_tick_ = ticks_;
    changed_(Change{true, last_reply_time_, had_reply_, silent_ticks(), 0});
  }
}

}  // namespace orv
