#include "web/web_bounds.h"

#include <algorithm>
#include <utility>

namespace orv {

WebConnections::Admission WebConnections::Open(const std::string& address, std::int64_t now_ms) {
  Admission admission;
  // The address's own place first: freeing it frees one of all too.
  if (From(address) >= limits_.max_per_address) {
    admission.closed = LongestWaiting(&address);
  } else if (open_.size() >= limits_.max_connections) {
    admission.closed = LongestWaiting(nullptr);
  }
  if (admission.closed != 0) {
    open_.erase(admission.closed);
  } else if (open_.size() >= limits_.max_connections || From(address) >= limits_.max_per_address) {
    return admission;
  }
  admission.id = next_id_++;
  open_[admission.id] = Entry{false, false, 0, now_ms, -1, address};
  return admission;
}

int WebConnections::LongestWaiting(const std::string* address) const {
  int longest = 0;
  std::pair<bool, std::int64_t> since;
  for (const auto& [id, entry] : open_) {
    if (entry.page || (address != nullptr && entry.address != *address)) continue;
    // One that has sent nothing goes before any that has: a visitor's request comes at once. Then
    // a request under way waits from its first byte; otherwise from the last answer or the
    // connection itself.
    const std::pair<bool, std::int64_t> waiting{
        entry.heard, entry.request_ms >= 0 ? entry.request_ms : entry.last_ms};
    if (longest == 0 || waiting < since) {
      longest = id;
      since = waiting;
    }
  }
  return longest;
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
  found->second = Entry{true, true, 0, now_ms, -1, found->second.address};
  return true;
}

void WebConnections::Arrived(int id, std::int64_t now_ms) {
  const auto found = open_.find(id);
  if (found == open_.end() || found->second.page) return;
  found->second.heard = true;
  if (found->second.request_ms < 0) found->second.request_ms = now_ms;
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
    const std::int64_t bound = entry.page    ? limits_.page_idle_ms
                               : entry.heard ? limits_.http_idle_ms
                                             : limits_.first_byte_ms;
    const bool late =
        entry.request_ms >= 0 && now_ms - entry.request_ms > limits_.request_deadline_ms;
    if (late || now_ms - entry.last_ms > bound) idle.push_back(id);
  }
  return idle;
}

}  // namespace orv
