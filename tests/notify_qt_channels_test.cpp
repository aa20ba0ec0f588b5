#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

#include "notify/qt/qt_notify_channels.h"
#include "notify_fixtures.h"
#include "notify_qt_hook_server.h"
#include "support/wait_for.h"
#include "temp_folder.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::kFault;
using test::ReadBytes;
using test::Script;
using test::TempFolder;
using test::WriteBytes;

// What came back for one Send, and whether done kept its promise: once, later, on the loop.
struct Outcome {
  std::optional<NotifyResult> result;
  int calls = 0;
  bool inside_send = false;
  bool on_the_loop = true;
  bool sending = false;  // while Send runs
};

// Through the rules' interface, as the notifications' feed sends.
std::shared_ptr<Outcome> Send(NotifyChannels& channels, NotifyChannel channel,
                              const std::string& target) {
  auto outcome = std::make_shared<Outcome>();
  outcome->sending = true;
  channels.Send({channel, target}, kFault, [outcome](const NotifyResult& result) {
    outcome->inside_send = outcome->inside_send || outcome->sending;
    outcome->on_the_loop =
        outcome->on_the_loop && QThread::currentThread() == QCoreApplication::instance()->thread();
    ++outcome->calls;
    outcome->result = result;
  });
  outcome->sending = false;
  return outcome;
}

void ExpectOnceOnTheLoop(const std::shared_ptr<Outcome>& outcome) {
  ASSERT_TRUE(test::WaitFor([&] { return outcome->calls > 0; }, 5000ms));
  QCoreApplication::processEvents();
  EXPECT_EQ(outcome->calls, 1);
  EXPECT_FALSE(outcome->inside_send);
  EXPECT_TRUE(outcome->on_the_loop);
}

// One delivery through each channel, from Send to done.
TEST(NotifyQtChannels, EachChannelDeliversThroughSend) {
  TempFolder folder;
  const auto seen = folder.path() / "seen";
  test::HookServer server;
  QtNotifyChannels channels(
      {.command = Script(folder, "command",
                         "#!/bin/sh\necho \"$ORV_TEXT\" > " + seen.string() + ".command\n"),
       .sendmail = Script(folder, "sendmail",
                          "#!/bin/sh\necho \"$*\" > " + seen.string() + ".argv\ncat > " +
                              seen.string() + ".mail\n"),
       .mail_from = "panel@example.org",
       .ca_file = {},
       .limit = 10s});
  struct Case {
    NotifyChannel channel;
    std::string target;
    std::string answer;
  };
  const Case cases[] = {
      {NotifyChannel::kCommand, {}, "exit 0"},
      {NotifyChannel::kMail, "ops@example.org", "exit 0"},
      {NotifyChannel::kWebHook, server.Url("http", "/hook").toStdString(), "HTTP 200"}};
  for (const Case& c : cases) {
    const auto outcome = Send(channels, c.channel, c.target);
    ExpectOnceOnTheLoop(outcome);
    ASSERT_TRUE(outcome->result);
    EXPECT_TRUE(outcome->result->ok) << outcome->result->answer;
    EXPECT_EQ(outcome->result->answer, c.answer);
  }
  EXPECT_EQ(channels.in_flight(), 0u);
  EXPECT_EQ(ReadBytes(seen.string() + ".command"), "Fault 3: mains failure\n");
  EXPECT_EQ(ReadBytes(seen.string() + ".argv"), "-oi -f panel@example.org -- ops@example.org\n");
  EXPECT_NE(ReadBytes(seen.string() + ".mail").find("\nTo: ops@example.org\n"), std::string::npos);
  EXPECT_EQ(server.requests.size(), 1);
}

// Sixteen hanging deliveries are the most: the next is refused at once (later, on the loop),
// the loop goes on meanwhile, and ending the channels ends the hanging commands.
TEST(NotifyQtChannels, SixteenInFlightAreTheMostAndNoneHoldsTheLoop) {
  TempFolder folder;
  const auto started = folder.path() / "started";
  auto channels = std::make_unique<QtNotifyChannels>(NotifyChannelSettings{
      .command =
          Script(folder, "command", "#!/bin/sh\necho >> " + started.string() + "\nsleep 30\n"),
      .sendmail = {},
      .mail_from = {},
      .ca_file = {},
      .limit = 60s});
  test::HookServer silent;
  silent.silent = true;
  std::vector<std::shared_ptr<Outcome>> hanging;
  for (int i = 0; i < 12; ++i)
    hanging.push_back(Send(*channels, NotifyChannel::kCommand, {}));
  for (int i = 0; i < 4; ++i)
    hanging.push_back(
        Send(*channels, NotifyChannel::kWebHook, silent.Url("http", "/").toStdString()));
  EXPECT_EQ(channels->in_flight(), 16u);
  const auto refused =
      Send(*channels, NotifyChannel::kWebHook, silent.Url("http", "/").toStdString());
  ExpectOnceOnTheLoop(refused);
  ASSERT_TRUE(refused->result);
  EXPECT_FALSE(refused->result->ok);
  EXPECT_EQ(refused->result->answer, "refused: 16 notifications in flight");
  EXPECT_EQ(channels->in_flight(), 16u);
  // The pool's commands have started, the hooks are posted, and the loop still ticks.
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
  tick.start(10ms);
  EXPECT_TRUE(test::WaitFor(
      [&] { return silent.requests.size() == 4 && ReadBytes(started).size() >= 4 && ticks >= 10; },
      5000ms));
  EXPECT_EQ(ReadBytes(started).size(), 4u);  // a pool of four
  for (const auto& outcome : hanging)
    EXPECT_EQ(outcome->calls, 0);
  // Ending them does not wait for the commands' limit.
  const auto start = std::chrono::steady_clock::now();
  channels.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  // Nor does it answer for them: whoever sent them is gone with it.
  QCoreApplication::processEvents();
  for (const auto& outcome : hanging)
    EXPECT_EQ(outcome->calls, 0);
}

}  // namespace
}  // namespace orv
