#include "notify/qt/qt_notify_test.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QTimer>
#include <deque>

#include "notify/qt/qt_notify_channels.h"

namespace orv {

int RunQtNotifyTest(const NotifySettings& settings, const std::string& rule_name,
                    const std::function<void(const std::string&)>& print) {
  struct Test {
    NotifyRecipient to;
    NotifyMessage message;
  };
  std::deque<Test> tests;
  const std::string host = QHostInfo::localHostName().toStdString();
  for (const NotifyRule& rule : settings.rules) {
    if (!rule_name.empty() && rule.name != rule_name) continue;
    std::vector<NotifyRecipient> recipients = rule.to;
    for (const NotifyRecipient& r : rule.escalate_to)
      if (std::find(recipients.begin(), recipients.end(), r) == recipients.end())
        recipients.push_back(r);
    for (const NotifyRecipient& to : recipients) {
      NotifyMessage message;
      message.type = "test";
      message.rule = rule.name;
      message.text = "A test of the notification rule " + rule.name + " from " + host;
      message.since_ms = QDateTime::currentMSecsSinceEpoch();
      message.instance = settings.instance;
      tests.push_back({to, message});
    }
  }
  if (tests.empty()) {
    print(rule_name.empty() ? "no notification rule in [Notify] Rules"
                            : "no notification rule named " + rule_name + " in [Notify] Rules");
    return 2;
  }
  QtNotifyChannels channels(
      {settings.command, settings.sendmail, settings.mail_from, settings.ca_file});
  int failed = 0;
  std::size_t answered = 0;
  const std::size_t total = tests.size();
  // As many at once as the channels take, the next when one is answered.
  std::function<void()> next = [&] {
    while (!tests.empty() && channels.room() > 0) {
      const Test test = tests.front();
      tests.pop_front();
      channels.Send(test.to, test.message, [&, test](const NotifyResult& result) {
        print(test.message.rule + " to " + test.to.Text() + ": " +
              (result.ok ? "delivered" : "failed") + " (" + result.answer + ")");
        failed += result.ok ? 0 : 1;
        if (++answered == total) QCoreApplication::exit(0);
        next();
      });
    }
  };
  QTimer::singleShot(0, &channels, next);
  QCoreApplication::exec();
  return failed > 0 ? 1 : 0;
}

}  // namespace orv
