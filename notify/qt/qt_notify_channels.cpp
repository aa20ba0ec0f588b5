#include "notify/qt/qt_notify_channels.h"

#include <utility>

#include "notify/notify_command.h"
#include "notify/notify_mail.h"

namespace orv {

QtNotifyChannels::QtNotifyChannels(NotifyChannelSettings settings, QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      web_hook_({.ca_file = settings_.ca_file, .limit = settings_.limit}) {
  // A few at once: each mostly waits on its program.
  workers_.setMaxThreadCount(4);
}

QtNotifyChannels::~QtNotifyChannels() {
  stopping_ = true;
  workers_.clear();
  workers_.waitForDone();
}

void QtNotifyChannels::Finish(const std::function<void(NotifyResult)>& done,
                              const NotifyResult& result) {
  --in_flight_;
  done(result);
}

void QtNotifyChannels::Send(NotifyChannel channel, const std::string& target,
                            const NotifyMessage& msg, std::function<void(NotifyResult)> done) {
  const auto answer_later = [this, &done](NotifyResult result) {
    QMetaObject::invokeMethod(
        this, [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
  };
  if (in_flight_ >= kMaxInFlight)
    return answer_later(
        {false, "refused: " + std::to_string(kMaxInFlight) + " notifications in flight"});
  if (channel == NotifyChannel::kCommand && settings_.command.empty())
    return answer_later({false, "refused: no command is set"});
  ++in_flight_;
  if (channel == NotifyChannel::kWebHook) {
    web_hook_.Post(target, msg,
                   [this, done = std::move(done)](NotifyResult result) { Finish(done, result); });
    return;
  }
  workers_.start([this, channel, target, msg, done = std::move(done)] {
    const NotifyResult result =
        channel == NotifyChannel::kCommand
            ? RunNotifyCommand(settings_.command, msg, settings_.limit, &stopping_)
            : SendNotifyMail(settings_.sendmail, settings_.mail_from, target, msg, settings_.limit,
                             &stopping_);
    QMetaObject::invokeMethod(
        this, [this, done, result] { Finish(done, result); }, Qt::QueuedConnection);
  });
}

void QtNotifyChannels::Send(const NotifyRecipient& to, const NotifyMessage& message, DoneFn done) {
  Send(to.channel, to.target, message,
       [done = std::move(done)](NotifyResult result) { done(result); });
}

}  // namespace orv
