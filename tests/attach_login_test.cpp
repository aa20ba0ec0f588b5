// A window's log in at the hub is answered when its PIN check ends, not when its line is read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "tests/fake_window.h"

namespace orv {
namespace {

using test::FakeWindow;

// A log in is answered when its PIN check ends, on a later turn of the loop; meanwhile the window
// is served, and a window gone by then gets nothing.
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
