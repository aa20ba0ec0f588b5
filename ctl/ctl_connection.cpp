#include "ctl/ctl_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace orv {

CtlConnection::~CtlConnection() {
  if (fd_ >= 0) close(fd_);
}

bool CtlConnection::Connect(const std::string& path, std::string& error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    error = "the socket's path is too long";
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool CtlConnection::Send(std::string_view line, std::string& error) {
  while (!line.empty()) {
    const ssize_t n = send(fd_, line.data(), line.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = std::string("the service's socket: ") + std::strerror(errno);
      return false;
    }
    line.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool CtlConnection::Next(PanelState& state, ServerMessage& message, int timeout_ms,
                         std::string& error) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string line;
  while (!reader_.Next(line)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd_, POLLIN, 0};
    const int polled = left > 0 ? poll(&ready, 1, static_cast<int>(left)) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      error = "no word from the service for " + std::to_string(timeout_ms / 1000) + " s";
      return false;
    }
    char buffer[65536];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n == 0 ? "the service closed the connection"
                     : std::string("the service's socket: ") + std::strerror(errno);
      return false;
    }
    if (!reader_.Append(std::string_view(buffer, static_cast<std::size_t>(n)))) {
      error = "a line from the service over its bound";
      return false;
    }
  }
  return ParseServerMessage(line, state, message, error);
}

}  // namespace orv
