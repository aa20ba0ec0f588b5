// The hub's places and its answers later: one user's windows are bounded below the service's, so
// that one user holding all they may still leaves places for the others; a log in is answered
// when its PIN check ends.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "tests/fake_window.h"

namespace orv {
namespace {

using test::FakeWindow;

// times windows of user attach, taken (refusal empty) or refused with that text; times -1: the
// user's oldest window goes.
struct ShareStep {
  std::string user;
  int times;
  std::string refusal;
};

const char* const kOpbAtShare = "user opb has 8 windows attached, the most one user may";

TEST(AttachHubShares, OneUserHoldsAtMostTheirShareAndTheOthersStillAttach) {
  const struct {
    const char* name;
    AttachLimits limits;
    std::vector<ShareStep> steps;
  } cases[] = {
      {"the service's own share; a window gone frees its place for its user",
       AttachLimits{},
       {{"opb", 8, ""},
        {"opb", 1, kOpbAtShare},
        {"opb", -1, ""},
        {"opb", 1, ""},
        {"opb", 1, kOpbAtShare}}},
      {"the share is the limits' own",
       AttachLimits{.max_clients = 32, .max_clients_per_user = 2},
       {{"opa", 2, ""},
        {"opb", 2, ""},
        {"opb", 1, "user opb has 2 windows attached, the most one user may"}}},
      {"a full service turns away a user with room in their share",
       AttachLimits{.max_clients = 4, .max_clients_per_user = 3},
       {{"opb", 3, ""},
        {"opa", 1, ""},
        {"carol", 1, "the service has 4 windows attached, as many as it takes"},
        {"opb", 1, "user opb has 3 windows attached, the most one user may"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AttachHub hub(c.limits, [](const ActionRequest&, const std::string&) { return "done"; });
    std::list<FakeWindow> windows;  // stable addresses: the hub holds each window's writer
    std::map<std::string, std::vector<int>> attached;
    std::size_t expected = 0;
    for (const ShareStep& step : c.steps) {
      if (step.times < 0) {
        hub.Detach(attached[step.user].front());
        attached[step.user].erase(attached[step.user].begin());
        --expected;
      }
      for (int i = 0; i < step.times; ++i) {
        SCOPED_TRACE(step.user + " window " + std::to_string(i + 1));
        FakeWindow& window = windows.emplace_back();
        const int id = hub.Attach(step.user, window.Write(), window.Queued());
        PanelState state = EmptyPanelState();
        ServerMessage message;
        std::string error;
        ASSERT_EQ(window.messages.size(), 1U);
        ASSERT_TRUE(ParseServerMessage(window.messages[0], state, message, error)) << error;
        EXPECT_EQ(id != 0, step.refusal.empty());
        EXPECT_EQ(message.type, step.refusal.empty() ? ServerMessageType::kSnapshot
                                                     : ServerMessageType::kRefused);
        EXPECT_EQ(message.text, step.refusal);
        if (id != 0) attached[step.user].push_back(id);
        expected += id != 0;
      }
    }
    EXPECT_EQ(hub.clients(), expected);
  }
}

// Meanwhile the window is served, and a window gone by then gets nothing.
TEST(AttachHub, ALogInIsAnsweredLaterToTheWindowStillThere) {
  std::vector<std::string> performed;
  AttachHub hub(AttachLimits{}, [&](const ActionRequest& action, const std::string& user) {
    performed.push_back(user + " " + std::to_string(action.key));
    return std::string(kResultDone);
  });
  std::vector<std::function<void(const std::string&)>> waiting;
  hub.AnswerLater([&](const ActionRequest& action, const std::string& user,
                      std::function<void(const std::string&)> answer) {
    if (action.kind != ActionKind::kLogIn) return false;
    EXPECT_EQ(std::tuple(user, action.name, action.pin), std::tuple("alice", "alice", "1234"));
    waiting.push_back(std::move(answer));
    return true;
  });
  FakeWindow stays, leaves;
  const int id = hub.Attach("alice", stays.Write(), stays.Queued());
  const int gone = hub.Attach("alice", leaves.Write(), leaves.Queued());
  const std::string log_in =
      R"({"action":"log-in","id":4,"operator":"alice","pin":"1234","type":"action"})"
      "\n";
  ASSERT_TRUE(hub.Received(id, log_in + R"({"action":"key","id":5,"key":2,"type":"action"})"
                                        "\n"));
  ASSERT_TRUE(hub.Received(gone, log_in));
  ASSERT_EQ(waiting.size(), 2U);
  EXPECT_EQ(performed, std::vector<std::string>{"alice 2"});
  EXPECT_EQ(stays.messages.back(), R"({"id":5,"result":"done","type":"result"})"
                                   "\n");
  hub.Detach(gone);
  const std::size_t sent_to_gone = leaves.messages.size();
  waiting[0]("logged in: alice, level 2");
  waiting[1]("logged in: alice, level 2");
  EXPECT_EQ(stays.messages.back(),
            R"({"id":4,"result":"logged in: alice, level 2","type":"result"})"
            "\n");
  EXPECT_EQ(leaves.messages.size(), sent_to_gone);
}

}  // namespace
}  // namespace orv
