#include "web/web_bounds.h"

#include <algorithm>

namespace orv {

int WebConnections::Open(const std::string& address, std::int64_t now_ms) {
  if (open_.size() >= limits_.max_connections || From(address) >= limits_.max_per_address) return 0;
  const int id = next_id_++;
  open_[id] = Entry{false, 0, now_ms, -1, address};
  return id;
}

std::size_t WebConnections::From(const std::string& address) const {
  return static_cast<std::size_t>(
      std::count_if(open_.begin(), open_.end(),
                    [&address](const auto& entry) { return entry.second.address == address; }));
}

std::size_t WebConnections::pages() const {
  return static_cast<std::size_t>(std::count_if(
      open_.begin(), open_.end(), [](const auto& entry) { return entry.second.page; }));
}

bool WebConnections::Upgrade(int id, std::int64_t now_ms) {
  const auto found = open_.find(id);
  if (found == open_.end() || pages() >= limits_.max_clients) return false;
  found->second = Entry{true, 0, now_ms, -1, found->second.address};
  return true;
}

void WebConnections::Arrived(int id, std::int64_t now_ms) {
  const auto found = open_.find(id);
  if (found != open_.end() && !found->second.page && found->second.request_ms < 0)
    found->second.request_ms = now_ms;
}

bool WebConnections::Received(int id, std::size_t bytes, std::int64_t now_ms) {
  const auto found = open_.find(id);
  if (found == open_.end()) return false;
  if (bytes != 0) Arrived(id, now_ms);
  found->second.last_ms = now_ms;
  found->second.request_bytes += bytes;
  return found->second.request_bytes <= limits_.max_request_bytes;
}

void WebConnections::Responded(int id, std::int64_t now_ms) {
  const auto found = open_.find(id);
  if (found == open_.end()) return;
  found->second.request_bytes = 0;
  found->second.request_ms = -1;
  found->second.last_ms = now_ms;
}

void WebConnections::Heard(int id, std::int64_t now_ms) {
  const auto found = open_.find(id);
  if (found != open_.end()) found->second.last_ms = now_ms;
}

std::vector<int> WebConnections::Idle(std::int64_t now_ms) const {
  std::vector<int> idle;
  for (const auto& [id, entry] : open_) {
    const std::int64_t bound = entry.page ? limits_.page_idle_ms : limits_.http_idle_ms;
    const bool late =
        entry.request_ms >= 0 && now_ms - entry.request_ms > limits_.request_deadline_ms;
    if (late || now_ms - entry.last_ms > bound) idle.push_back(id);
  }
  return idle;
}

}  // namespace orv
