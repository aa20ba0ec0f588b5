// What a window's action asks of the gate at the service: each kind its own action and level, so
// that no action goes through at a level below its own.
#include <gtest/gtest.h>

#include <optional>

#include "access/access_gate.h"
#include "attach/attach_protocol.h"
#include "attach/panel_source.h"

namespace orv {
namespace {

TEST(PanelActionsGate, EachKindOfActionIsGatedAsItsOwnActionAtItsLevel) {
  struct Case {
    ActionKind kind;
    int key;
    std::optional<Action> gated;  // none: log in and out, which the gate answers itself
    int level;
  };
  const Case cases[] = {
      {ActionKind::kKey, 1, Action::kEmg, 2},
      {ActionKind::kKey, 2, Action::kEmgAck, 2},
      {ActionKind::kKey, 3, Action::kEmgReset, 2},
      {ActionKind::kKey, 4, Action::kFaultAck, 2},
      {ActionKind::kKey, 5, Action::kFaultReset, 2},
      {ActionKind::kKey, 6, Action::kEmgMessage, 2},
      {ActionKind::kImpedanceCheck, 0, Action::kImpedanceCheck, 2},
      {ActionKind::kTrigger, 0, Action::kTriggerSwitching, 2},
      {ActionKind::kSupervision, 0, Action::kSupervisionOnOff, 2},
      {ActionKind::kRename, 0, Action::kTriggerRenaming, 3},
      {ActionKind::kConnect, 0, Action::kConnection, 3},
      {ActionKind::kDisconnect, 0, Action::kConnection, 3},
      {ActionKind::kPort, 0, Action::kPortAndBaudRate, 3},
      {ActionKind::kBaud, 0, Action::kPortAndBaudRate, 3},
      {ActionKind::kSilence, 0, Action::kSilence, 1},
      {ActionKind::kLampTest, 0, Action::kLampTest, 1},
      {ActionKind::kLogIn, 0, std::nullopt, 1},
      {ActionKind::kLogOut, 0, std::nullopt, 1},
  };
  for (const Case& c : cases) {
    ActionRequest request;
    request.kind = c.kind;
    request.key = c.key;
    const std::optional<Action> gated = GatedAction(request);
    SCOPED_TRACE(static_cast<int>(c.kind) * 10 + c.key);
    ASSERT_EQ(gated, c.gated);
    if (gated) EXPECT_EQ(LevelNumber(RequiredLevel(*gated)), c.level);
  }
}

}  // namespace
}  // namespace orv
