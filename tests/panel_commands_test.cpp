#include <gtest/gtest.h>

#include <string>

#include "panel/operator_commands.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;
using test::Hex;

struct KeyCase {
  const char* button;
  const char* frame;
};

class OperatorKeys : public FormTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(OperatorKeys, ClickWritesExactlyItsFrameAndNothingElse) {
  Load();
  ConnectAndClear();
  const auto step = form().link().scheduler().poll_step();
  auto* button = dynamic_cast<PushButton*>(form().FindControl(GetParam().button));
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->enabled());
  button->PerformClick();
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0], Hex(GetParam().frame));
  EXPECT_EQ(form().link().scheduler().poll_step(), step) << "no poll state is touched";
}

INSTANTIATE_TEST_SUITE_P(CommandTable, OperatorKeys,
                         ::testing::Values(KeyCase{"EMG_CB", "02 01 16 01 99 03"},
                                           KeyCase{"EMGAck_CB", "02 01 16 02 7B 03"},
                                           KeyCase{"EMGReset_CB", "02 01 16 03 25 03"},
                                           KeyCase{"FaultAck_CB", "02 01 16 04 A6 03"},
                                           KeyCase{"FaultReset_CB", "02 01 16 05 F8 03"},
                                           KeyCase{"EMGMessage_CB", "02 01 16 06 1A 03"},
                                           KeyCase{"IMPC_CB", "02 00 18 6A 03"},
                                           KeyCase{"Clear_CommandButton", "02 00 07 B6 03"}),
                         [](const auto& info) { return std::string(info.param.button); });

TEST_F(FormTest, SupervisionFramesForTimesAndStates) {
  Load();
  ConnectAndClear();
  auto& commands = form().commands();
  commands.SupervisionTimeSetting(10);
  commands.SupervisionTimeSetting(90);
  commands.SupervisionSetting(1);
  commands.SupervisionSetting(0);
  EXPECT_EQ(port_.writes(),
            (std::vector<Bytes>{Hex("02 01 10 0A 13 03"), Hex("02 01 10 5A C8 03"),
                                Hex("02 01 11 01 F7 03"), Hex("02 01 11 00 A9 03")}));
}

TEST_F(FormTest, SupervisionClickWhileConnectedSendsTimeThenState) {
  Load();
  ConnectAndClear();
  form().Timer_CB.SetListIndex(2);  // "30"
  form().SupervisionCheck.SetValue(1);
  EXPECT_FALSE(form().Timer_CB.enabled());
  form().SupervisionCheck.SetValue(0);
  EXPECT_TRUE(form().Timer_CB.enabled());
  EXPECT_EQ(port_.writes(),
            (std::vector<Bytes>{Hex("02 01 10 1E EF 03"), Hex("02 01 11 01 F7 03"),
                                Hex("02 01 10 1E EF 03"), Hex("02 01 11 00 A9 03")}));
}

TEST_F(FormTest, SupervisionClickedWhileDisconnectedGoesOutAtTheNextConnect) {
  Load();
  form().Timer_CB.SetText("40");
  form().SupervisionCheck.SetValue(1);
  EXPECT_TRUE(form().commands().supervision_enabled());
  EXPECT_FALSE(form().Timer_CB.enabled());
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
  form().ConnectCB.PerformClick();
  EXPECT_EQ(port_.writes(),
            (std::vector<Bytes>{Hex("02 01 10 28 8C 03"), Hex("02 01 11 01 F7 03")}));
}

TEST_F(FormTest, ClearAllTriggerSendsNothingAndReenablesTheTriggerBank) {
  Load();
  ConnectAndClear();
  form().shared().TriggerUiEnabled = false;
  form().Transmission_CommandButton.PerformClick();
  EXPECT_TRUE(form().shared().TriggerUiEnabled);
  EXPECT_TRUE(port_.writes().empty());
}

TEST_F(FormTest, TestClickWhileDisconnectedSendsNothing) {
  Load();
  form().Clear_CommandButton.PerformClick();
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
}

struct TimeCase {
  const char* text;
  int byte;
};

class SupervisionTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(SupervisionTime, LeadingNumberRoundedHalfToEvenAndHeldToAByte) {
  EXPECT_EQ(SupervisionTimeByte(GetParam().text), GetParam().byte) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, SupervisionTime,
                         ::testing::Values(TimeCase{"25", 25}, TimeCase{"12.5", 12},
                                           TimeCase{"13.5", 14}, TimeCase{"abc", 0},
                                           TimeCase{"", 0}, TimeCase{"300", 255},
                                           TimeCase{"  40s", 40}, TimeCase{"-7", 0},
                                           TimeCase{"254.6", 255}, TimeCase{"0.5", 0},
                                           TimeCase{"1.5", 2}, TimeCase{".", 0},
                                           TimeCase{"99999999999999999999", 255}));

}  // namespace
}  // namespace orv
