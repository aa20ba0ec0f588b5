#include "access/refusal_summary.h"

#include <algorithm>

namespace orv {
namespace {

bool IsRefusal(AccessEventKind kind) {
  return kind == AccessEventKind::kRefusedAction || kind == AccessEventKind::kRefusedPin;
}

std::string Seconds(AccessClock::duration elapsed) {
  const auto whole = std::chrono::floor<std::chrono::seconds>(elapsed).count();
  return std::to_string(std::max<long long>(whole, 1)) + " s";
}

}  // namespace

std::vector<RefusalRecord> RefusalSummary::Take(const AccessEvent& event,
                                                AccessClock::time_point now) {
  std::vector<RefusalRecord> out = Tick(now);
  if (!IsRefusal(event.kind)) {
    // Anything else the origin does closes its summaries first, so the records keep their order.
    for (auto it = open_.begin(); it != open_.end();)
      if (std::get<Origin>(it->first) == event.origin)
        Close(it++, now, out);
      else
        ++it;
    out.push_back({event.origin, AccessEventText(event)});
    return out;
  }
  const Key key{event.origin, event.kind, event.action};
  if (const auto it = open_.find(key); it != open_.end()) {
    ++it->second.more;
    return out;
  }
  if (full_in_window_ >= kFullPerWindow) {
    ++overflow_;
    return out;
  }
  if (open_.size() >= kTracked) {
    const auto oldest = std::min_element(open_.begin(), open_.end(), [](auto& a, auto& b) {
      return a.second.since < b.second.since;
    });
    Close(oldest, now, out);
  }
  open_.emplace(key, Open{now});
  ++full_in_window_;
  out.push_back({event.origin, AccessEventText(event)});
  return out;
}

std::vector<RefusalRecord> RefusalSummary::Tick(AccessClock::time_point now) {
  std::vector<RefusalRecord> out;
  for (auto it = open_.begin(); it != open_.end();)
    if (now - it->second.since >= kWindow)
      Close(it++, now, out);
    else
      ++it;
  if (now - window_since_ >= kWindow) {
    CloseOverflow(now, out);
    window_since_ = now;
    full_in_window_ = 0;
  }
  return out;
}

std::vector<RefusalRecord> RefusalSummary::Flush(AccessClock::time_point now) {
  std::vector<RefusalRecord> out;
  while (!open_.empty())
    Close(open_.begin(), now, out);
  CloseOverflow(now, out);
  return out;
}

void RefusalSummary::Close(std::map<Key, Open>::iterator it, AccessClock::time_point now,
                           std::vector<RefusalRecord>& out) {
  const auto& [origin, kind, action] = it->first;
  if (const std::size_t more = it->second.more; more > 0) {
    const std::string what = kind == AccessEventKind::kRefusedPin
                                 ? std::string("log-ins")
                                 : std::string(action ? ActionName(*action) : "actions");
    out.push_back(
        {origin, std::to_string(more) + " more refused " + what + " from " + OriginText(origin) +
                     " in " +
                     Seconds(std::min(now - it->second.since, AccessClock::duration(kWindow)))});
  }
  open_.erase(it);
}

void RefusalSummary::CloseOverflow(AccessClock::time_point now, std::vector<RefusalRecord>& out) {
  if (overflow_ == 0) return;
  out.push_back(
      {Origin{}, std::to_string(overflow_) + " more refusals in " +
                     Seconds(std::min(now - window_since_, AccessClock::duration(kWindow))) +
                     ", too many to record one by one"});
  overflow_ = 0;
}

}  // namespace orv
