#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "attach/attach_hub.h"

namespace orv::test {

// A window as the hub sees it: what it was sent, and how much its socket holds unsent (nothing
// while it reads).
struct FakeWindow {
  std::vector<std::string> messages;
  std::size_t unsent = 0;
  bool reading = true;
  AttachHub::WriteFn Write() {
    return [this](const std::string& bytes) {
      messages.push_back(bytes);
      if (!reading) unsent += bytes.size();
    };
  }
  AttachHub::QueuedFn Queued() {
    return [this] { return unsent; };
  }
};

}  // namespace orv::test
