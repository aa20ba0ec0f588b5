// Fair shares of the hub's places: one user's windows are bounded below the service's, so that
// one user holding all they may still leaves places for the others.
#include <gtest/gtest.h>

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "attach/attach_hub.h"
#include "attach/attach_protocol.h"
#include "tests/fake_window.h"

namespace orv {
namespace {

using test::FakeWindow;

// One step: times windows of user attach, taken (refusal empty) or refused with that text; or,
// with detach set, the user's oldest window goes.
struct ShareStep {
  std::string user;
  int times = 1;
  std::string refusal;
  bool detach = false;
};

ShareStep Taken(const char* user, int times = 1) {
  return {user, times, "", false};
}
ShareStep Refused(const char* user, const char* why) {
  return {user, 1, why, false};
}
ShareStep Gone(const char* user) {
  return {user, 1, "", true};
}

struct ShareCase {
  const char* name;
  AttachLimits limits;
  std::vector<ShareStep> steps;
};

AttachLimits Limits(std::size_t clients, std::size_t per_user) {
  AttachLimits limits;
  limits.max_clients = clients;
  limits.max_clients_per_user = per_user;
  return limits;
}

const char* const kOpbAtShare = "user opb has 8 windows attached, the most one user may";

TEST(AttachHubShares, OneUserHoldsAtMostTheirShareAndTheOthersStillAttach) {
  const ShareCase cases[] = {
      {"the service's own bounds",
       AttachLimits{},
       {Taken("opb", 8), Refused("opb", kOpbAtShare), Taken("opa", 8),
        Refused("opa", "user opa has 8 windows attached, the most one user may")}},
      {"a window gone frees its place for its user",
       AttachLimits{},
       {Taken("opb", 8), Refused("opb", kOpbAtShare), Gone("opb"), Taken("opb"),
        Refused("opb", kOpbAtShare)}},
      {"the share is the limits' own",
       Limits(32, 2),
       {Taken("opa", 2), Taken("opb", 2),
        Refused("opb", "user opb has 2 windows attached, the most one user may")}},
      {"a full service turns away a user with room in their share",
       Limits(4, 3),
       {Taken("opb", 3), Taken("opa"),
        Refused("carol", "the service has 4 windows attached, as many as it takes"),
        Refused("opb", "user opb has 3 windows attached, the most one user may")}},
  };
  for (const ShareCase& c : cases) {
    SCOPED_TRACE(c.name);
    AttachHub hub(c.limits, [](const ActionRequest&, const std::string&) { return "done"; });
    // Stable addresses: the hub holds each window's writer.
    std::list<FakeWindow> windows;
    std::map<std::string, std::vector<int>> attached;
    std::size_t expected = 0;
    for (const ShareStep& step : c.steps) {
      if (step.detach) {
        hub.Detach(attached[step.user].front());
        attached[step.user].erase(attached[step.user].begin());
        --expected;
        continue;
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
        if (step.refusal.empty()) {
          EXPECT_NE(id, 0);
          EXPECT_EQ(message.type, ServerMessageType::kSnapshot);
          attached[step.user].push_back(id);
          ++expected;
        } else {
          EXPECT_EQ(id, 0);
          EXPECT_EQ(message.type, ServerMessageType::kRefused);
          EXPECT_EQ(message.text, step.refusal);
        }
      }
    }
    EXPECT_EQ(hub.clients(), expected);
  }
}

}  // namespace
}  // namespace orv
