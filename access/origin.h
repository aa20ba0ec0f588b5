#pragma once

// Where an operator acts from, and the clock of log-ins.

#include <chrono>
#include <string>

namespace orv {

// Each origin has its own log-in.
// kShell: orvandelctl at the local socket, with a log-in of its own, apart from the same user's
// attached windows.
enum class OriginKind { kWindow, kWeb, kLocalSocket, kShell };
struct Origin {
  OriginKind kind = OriginKind::kWindow;
  std::string detail;  // the web peer's address, the local socket's Unix user

  auto operator<=>(const Origin&) const = default;
};

using AccessClock = std::chrono::steady_clock;

}  // namespace orv
