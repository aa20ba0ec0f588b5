#pragma once

// The one object the notifications leave through: the site's command and mail run on a pool of
// its own, the web hook through Qt Network; the event loop never waits for any of them, and at
// most kMaxInFlight are under way at once.

#include <QObject>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "notify/notify_channels.h"
#include "notify/notify_message.h"
#include "notify/notify_rules.h"
#include "notify/qt/qt_web_hook.h"

namespace orv {

struct NotifyChannelSettings {
  std::filesystem::path command;  // the site's command; empty: none
  std::filesystem::path sendmail = "/usr/sbin/sendmail";
  std::string mail_from;  // empty: the MTA's own sender
  std::string ca_file;    // for the web hooks; empty: the system's CAs
  std::chrono::milliseconds limit{10000};
};

class QtNotifyChannels : public QObject, public NotifyChannels {
  Q_OBJECT
 public:
  static constexpr std::size_t kMaxInFlight = 16;

  explicit QtNotifyChannels(NotifyChannelSettings settings, QObject* parent = nullptr);
  // Ends the commands and mails still running (their group killed) and waits for that, without
  // calling their done.
  ~QtNotifyChannels() override;

  // Sends msg through channel to target (command: unused; mail: the address; web hook: the URL);
  // done is called exactly once, later, on this object's thread, never inside Send.
  void Send(NotifyChannel channel, const std::string& target, const NotifyMessage& msg,
            std::function<void(NotifyResult)> done);

  // The same to a rule's recipient.
  void Send(const NotifyRecipient& to, const NotifyMessage& message, DoneFn done) override;

  // Deliveries sent whose done has not been called yet.
  std::size_t in_flight() const { return in_flight_; }
  std::size_t room() const override { return kMaxInFlight - std::min(in_flight_, kMaxInFlight); }

 private:
  void Finish(const std::function<void(NotifyResult)>& done, const NotifyResult& result);

  const NotifyChannelSettings settings_;
  std::atomic<bool> stopping_{false};
  QThreadPool workers_;
  QtWebHook web_hook_;
  std::size_t in_flight_ = 0;
};

}  // namespace orv
