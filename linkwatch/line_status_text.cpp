#include "linkwatch/line_status_text.h"

#include <cstdio>
#include <utility>

namespace orv {
namespace {

std::string Two(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

std::string SinceText(const LocalDateTime& time, bool had_reply) {
  return std::string(had_reply ? "since " : "since the connect at ") + FormatTimeOfDay(time);
}

}  // namespace

std::string FormatTimeOfDay(const LocalDateTime& time) {
  return Two(time.hour) + ":" + Two(time.minute) + ":" + Two(time.second);
}

std::string FormatTickSpan(std::int64_t ticks) {
  constexpr std::int64_t kTicksPerMinute = 60 * LinkWatch::kTicksPerSecond;
  constexpr std::int64_t kTicksPerHour = 60 * kTicksPerMinute;
  if (ticks < 0) ticks = 0;
  if (ticks < kTicksPerMinute) {
    return std::to_string(ticks / LinkWatch::kTicksPerSecond) + "." +
           std::to_string(ticks % LinkWatch::kTicksPerSecond) + " s";
  }
  const std::int64_t seconds = ticks / LinkWatch::kTicksPerSecond;
  const std::string minutes_and_seconds =
      std::to_string(seconds / 60 % 60) + " min " + std::to_string(seconds % 60) + " s";
  if (ticks < kTicksPerHour) return minutes_and_seconds;
  return std::to_string(seconds / 3600) + " h " + minutes_and_seconds;
}

LineStatus ComposeLineStatus(const LinkWatch& watch, const LinkCounters& counters,
                             std::string port) {
  LineStatus status;
  status.port = std::move(port);
  const std::string off = watch.enabled() ? "" : " (link watch off)";
  switch (watch.state()) {
    case LinkWatch::State::kDisconnected:
      status.state = "Disconnected";
      status.details = "Not connected.";
      return status;
    case LinkWatch::State::kWaiting:
      status.state = "Connected: no reply yet" + off;
      break;
    case LinkWatch::State::kAnswering:
      status.state = "Connected: last reply " + FormatTickSpan(watch.silent_ticks()) + " ago" + off;
      break;
    case LinkWatch::State::kLost:
      status.state =
          "No reply from the controller " + SinceText(watch.last_reply_time(), watch.had_reply());
      status.alarm = true;
      status.title_suffix = kNoReplyTitleSuffix;
      break;
  }
  status.details =
      "Since the connect at " + FormatTimeOfDay(watch.connect_time()) + " (" +
      FormatTickSpan(watch.connected_ticks()) + " ago):\n" +
      "Frames sent: " + std::to_string(counters.frames_sent) + "\n" +
      "Valid frames received: " + std::to_string(counters.valid_frames) + "\n" +
      "CRC failures: " + std::to_string(counters.crc_failures) + "\n" +
      "Frames dropped (bad ETX, LEN above 101, idle gap): " + std::to_string(counters.other_drops) +
      "\n" + "Bytes outside any frame: " + std::to_string(counters.stray_bytes) + "\n" +
      (watch.enabled()
           ? "Lost after " + std::to_string(watch.no_reply_seconds()) + " s without a valid frame."
           : std::string("Link watch off."));
  return status;
}

std::string LinkChangeText(const LinkWatch::Change& change) {
  if (change.lost) {
    return "No reply from the controller " + SinceText(change.last_reply_time, change.had_reply) +
           " (" + FormatTickSpan(change.silent_ticks) + " without a valid frame)";
  }
  return "The controller answers again at " + FormatTimeOfDay(change.last_reply_time) + ", after " +
         FormatTickSpan(change.silent_ticks) + " without a valid frame (shown lost for " +
         FormatTickSpan(change.lost_ticks) + ")";
}

}  // namespace orv
