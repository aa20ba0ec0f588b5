#pragma once

#include <cstddef>
#include <functional>

#include "notify/notify_message.h"
#include "notify/notify_rules.h"

namespace orv {

// The ways a notification leaves the program (the site's command, mail, a web hook). A channel
// never makes its caller wait: done is called once, later, on the caller's thread.
class NotifyChannels {
 public:
  using DoneFn = std::function<void(const NotifyResult&)>;

  virtual ~NotifyChannels() = default;
  // How many more deliveries it takes now; what is past it waits for the next tick.
  virtual std::size_t room() const = 0;
  virtual void Send(const NotifyRecipient& to, const NotifyMessage& message, DoneFn done) = 0;
};

}  // namespace orv
