#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace orv {

namespace signal_detail {
struct SlotState {
  bool connected = true;
};
}  // namespace signal_detail

// A subscription to a Signal. Destroying it (or calling Disconnect) ends the subscription at
// once, even in the middle of a delivery; it may outlive the signal.
class Connection {
 public:
  Connection() = default;
  explicit Connection(std::weak_ptr<signal_detail::SlotState> slot) : slot_(std::move(slot)) {}
  Connection(Connection&&) noexcept = default;
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      Disconnect();
      slot_ = std::move(other.slot_);
    }
    return *this;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { Disconnect(); }

  void Disconnect() {
    if (const auto slot = slot_.lock()) slot->connected = false;
    slot_.reset();
  }
  bool connected() const {
    const auto slot = slot_.lock();
    return slot && slot->connected;
  }

 private:
  std::weak_ptr<signal_detail::SlotState> slot_;
};

// Connections that end together with their owner.
using Connections = std::vector<Connection>;

// One event with any number of listeners, called in the order they connected, on the caller's
// thread. A listener may connect or disconnect listeners (itself included) while it is called:
// one that disconnects is not called again, one that connects is first called by the next
// delivery. Delivering again from inside a listener is allowed.
template <typename... Args>
class Signal {
 public:
  using Listener = std::function<void(Args...)>;

  Signal() = default;
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  [[nodiscard]] Connection Connect(Listener listener) {
    Compact();
    auto slot = std::make_shared<Slot>();
    slot->listener = std::move(listener);
    core_->entries.push_back(slot);
    return Connection(std::weak_ptr<signal_detail::SlotState>(slot));
  }

  void operator()(Args... args) const {
    // Held for the whole delivery: a listener may destroy the signal's owner.
    const std::shared_ptr<Core> core = core_;
    ++core->depth;
    const std::size_t count = core->entries.size();
    // No entry is removed while a delivery is in progress, and the core is held: plain pointers
    // stay valid even if the vector grows.
    for (std::size_t i = 0; i < count; ++i) {
      Slot* const slot = core->entries[i].get();
      if (slot->connected) slot->listener(args...);
    }
    --core->depth;
  }

  bool empty() const {
    for (const auto& slot : core_->entries) {
      if (slot->connected) return false;
    }
    return true;
  }

 private:
  struct Slot : signal_detail::SlotState {
    Listener listener;
  };
  struct Core {
    std::vector<std::shared_ptr<Slot>> entries;
    int depth = 0;
  };

  // Forgets ended subscriptions, but never under a delivery in progress.
  void Compact() {
    if (core_->depth > 0) return;
    std::erase_if(core_->entries, [](const auto& slot) { return !slot->connected; });
  }

  std::shared_ptr<Core> core_ = std::make_shared<Core>();
};

}  // namespace orv
