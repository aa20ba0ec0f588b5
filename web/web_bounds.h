#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orv {

// What one web panel holds at most, whatever its visitors do. Qt's HTTP server has no bounds of
// its own, so every connection passes these before it reaches it.
struct WebLimits {
  std::size_t max_clients = 32;               // live pages (WebSocket clients)
  std::size_t max_connections = 64;           // TCP connections of any kind, pages included
  std::size_t max_per_address = 8;            // of those, from one peer address
  std::size_t max_request_bytes = 64 * 1024;  // one request, head and body
  std::int64_t http_idle_ms = 10000;          // a connection that sends nothing, between requests
  // A connection that has not sent its first byte: a browser sends its request at once (after
  // the TLS handshake, a few round trips).
  std::int64_t first_byte_ms = 3000;
  // A whole request from its first byte, however slowly it trickles: bytes arriving do not
  // extend it, so a peer cannot hold a place by sending one now and then.
  std::int64_t request_deadline_ms = 5000;
  std::int64_t page_idle_ms = 30000;      // a live page that answers no ping
  std::size_t max_queue_bytes = 1 << 20;  // unsent bytes to a page that stopped reading
};

// The open connections and what each has done, on the caller's clock in milliseconds. The Qt
// server asks before it accepts, reads or upgrades, and closes what this says.
class WebConnections {
 public:
  explicit WebConnections(WebLimits limits) : limits_(limits) {}

  struct Admission {
    int id = 0;      // the new connection's number; 0: refused
    int closed = 0;  // a connection closed to make room for it (no longer open here); 0: none
  };
  // A new connection from address. When as many are open as the panel takes, or as many from
  // that address as one address may hold, one of those is closed to take it: of the ones that
  // have sent nothing the oldest, else the one that has waited longest without a whole request
  // (trickling, or idle between requests). A crowd of connections never keeps a new visitor
  // out, and one address only ever crowds out its own. Refused only when every such place is a
  // live page.
  Admission Open(const std::string& address, std::int64_t now_ms);
  // The connection asks to become a live page: false when as many pages are live already.
  bool Upgrade(int id, std::int64_t now_ms);
  // Bytes of a request have come: its deadline runs from the first of them.
  void Arrived(int id, std::int64_t now_ms);
  // Bytes read from the connection: false when its request has grown over the bound.
  bool Received(int id, std::size_t bytes, std::int64_t now_ms);
  // A response went out: the next request counts from zero.
  void Responded(int id, std::int64_t now_ms);
  // A live page answered (a pong or a message).
  void Heard(int id, std::int64_t now_ms);
  void Close(int id) { open_.erase(id); }
  // The connections idle for longer than their kind may be, or past their request's deadline.
  std::vector<int> Idle(std::int64_t now_ms) const;

  bool IsOpen(int id) const { return open_.count(id) != 0; }
  std::size_t connections() const { return open_.size(); }
  std::size_t From(const std::string& address) const;
  std::size_t pages() const;
  const WebLimits& limits() const { return limits_; }

 private:
  struct Entry {
    bool page = false;
    bool heard = false;  // a byte has come
    std::size_t request_bytes = 0;
    std::int64_t last_ms = 0;
    std::int64_t request_ms = -1;  // when the request under way began; -1: none is
    std::string address;
  };
  // The connection to close for a newcomer, of all or of one address: the oldest silent one,
  // else the one that has waited longest without a whole request; 0 when each is a live page.
  int LongestWaiting(const std::string* address) const;

  WebLimits limits_;
  std::map<int, Entry> open_;
  int next_id_ = 1;
};

}  // namespace orv
