#include <gtest/gtest.h>

#include <string>

#include "link/frame.h"
#include "platform/profile.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;
using test::Hex;

struct ScrollCase {
  int page;
  int scroll;
  const char* first_label;
  const char* last_label;
};

class TriggerBankScroll : public FormTest, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(TriggerBankScroll, RowsShowTheTriggersAtTheScrollPosition) {
  MainForm& f = Load();
  f.VirtualDevice_ComboBox.SetListIndex(GetParam().page);
  f.Trigger_VScrollBar.SetValue(GetParam().scroll);
  EXPECT_EQ(f.shared().TriggerScrollOffset, f.Trigger_VScrollBar.value());
  EXPECT_EQ(f.TriggerLabel[0].caption(), GetParam().first_label);
  EXPECT_EQ(f.TriggerLabel[11].caption(), GetParam().last_label);
  EXPECT_EQ(f.focus.focused(), &f.Trigger_PictureBox);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, TriggerBankScroll,
    ::testing::Values(ScrollCase{0, 48, "EMG Trigger 49", "EMG Trigger 60"},
                      ScrollCase{0, 99, "EMG Trigger 49", "EMG Trigger 60"},  // held at max
                      ScrollCase{1, 1, "BUS Trigger 2", "BUS Trigger 13"},
                      ScrollCase{2, 108, "Soft Trigger 109", "Soft Trigger 120"},
                      ScrollCase{2, 12, "Soft Trigger 13", "Soft Trigger 24"}));

TEST_F(FormTest, PageChangeResetsScrollAndMakesTheNextSlotAskForThePage) {
  MainForm& f = Load();
  ConnectAndClear();
  Ticks(1);  // command 6
  f.Trigger_VScrollBar.SetValue(30);
  f.VirtualDevice_ComboBox.SetListIndex(2);
  EXPECT_EQ(f.shared().TriggerBankPage, 2);
  EXPECT_EQ(f.Trigger_VScrollBar.value(), 0);
  EXPECT_EQ(f.Trigger_VScrollBar.max(), 108);
  EXPECT_EQ(f.shared().TriggerScrollOffset, 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Soft Trigger 1");
  port_.ClearWrites();
  Ticks(11);
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0], Hex("02 00 07 B6 03"));
}

TEST_F(FormTest, PageChangeWhileDisconnectedStillSetsThePollStep) {
  MainForm& f = Load();
  f.VirtualDevice_ComboBox.SetListIndex(1);
  EXPECT_EQ(f.link().scheduler().poll_step(), 3);
  EXPECT_TRUE(port_.writes().empty());
}

struct ClickCase {
  int page;
  int scroll;
  int row;
  int value;
  const char* frame;
  int trigger;
};

class TriggerBankClick : public FormTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(TriggerBankClick, OperatorClickSetsTheStateAndSendsTheCommandAtOnce) {
  const ClickCase& c = GetParam();
  MainForm& f = Load();
  ConnectAndClear();
  f.VirtualDevice_ComboBox.SetListIndex(c.page);
  f.Trigger_VScrollBar.SetValue(c.scroll);
  // Start from the opposite state so the operator's click is a change.
  f.shared().States(c.page).Set(c.trigger, static_cast<std::int16_t>(1 - c.value));
  f.trigger_bank().RefreshTriggerBank();
  port_.ClearWrites();
  f.Trigger_CheckBox[c.row].SetValue(c.value);
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0], Hex(c.frame));
  EXPECT_EQ(f.shared().States(c.page).Get(c.trigger), c.value);
  EXPECT_TRUE(f.shared().TriggerUiEnabled);
}

INSTANTIATE_TEST_SUITE_P(Frames, TriggerBankClick,
                         ::testing::Values(ClickCase{0, 0, 4, 1, "02 02 13 05 01 DD 03", 5},
                                           ClickCase{1, 12, 0, 0, "02 02 14 0D 00 8F 03", 13},
                                           ClickCase{2, 108, 11, 1, "02 02 12 78 01 49 03", 120}));

TEST_F(FormTest, ValuesSetFromCodeSendNothing) {
  MainForm& f = Load();
  ConnectAndClear();
  port_.Deliver(EncodeFrame(8, Bytes{0x3F, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}));
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[11].value(), 1);
  EXPECT_EQ(port_.writes().size(), 1u) << "only the tick's poll";
  f.decoder().ShowEmgTriggerStates();
  EXPECT_EQ(port_.writes().size(), 1u);
}

TEST_F(FormTest, ClicksWhileTheBankIsDisabledAreDropped) {
  MainForm& f = Load();
  ConnectAndClear();
  f.shared().TriggerUiEnabled = false;
  f.Trigger_CheckBox[0].SetValue(1);
  f.Trigger_VScrollBar.SetValue(5);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(f.shared().EmgTriggerState.Get(1), 0);
  EXPECT_EQ(f.shared().TriggerScrollOffset, 0);
}

TEST_F(FormTest, RenameWritesTheKeyOfTheShownTriggerAndReadsBackAtNextStart) {
  MainForm& f = Load();
  f.VirtualDevice_ComboBox.SetListIndex(2);
  f.Trigger_VScrollBar.SetValue(100);
  f.TriggerLabel[2].PerformDblClick();
  EXPECT_TRUE(f.TriggerNameText[2].visible());
  EXPECT_EQ(f.focus.focused(), &f.TriggerNameText[2]);
  EXPECT_EQ(f.TriggerNameText[2].text(), "Soft Trigger 103");
  f.TriggerNameText[2].SetText("Lobby\r\nEast");
  f.focus.MoveFocus(&f.Trigger_PictureBox);  // Validate commits, LostFocus only hides
  EXPECT_FALSE(f.TriggerNameText[2].visible());
  EXPECT_EQ(f.TriggerLabel[2].caption(), "Lobby  East");
  EXPECT_EQ(ReadProfileString("VTrgName", "VTRG 103", "?", 128, IniPath()), "Lobby  East");

  form_.reset();
  MainForm& again = Load();
  EXPECT_EQ(again.config().SoftTriggerNames[102], "Lobby  East");
}

TEST_F(FormTest, AnEmptyNameIsKeptAndAnUntouchedEditorWritesNothing) {
  MainForm& f = Load();
  f.TriggerLabel[0].PerformDblClick();
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  EXPECT_FALSE(f.TriggerNameText[0].visible());

  f.TriggerLabel[1].PerformDblClick();
  f.TriggerNameText[1].SetText("");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_EQ(f.TriggerLabel[1].caption(), "");
  EXPECT_EQ(ReadProfileString("ETrgName", "ETRG 2", "?", 128, IniPath()), "");
}

TEST_F(FormTest, RedrawWhileAnEditorIsOpenDropsTheTypedText) {
  MainForm& f = Load();
  ConnectAndClear();
  f.TriggerLabel[3].PerformDblClick();
  f.TriggerNameText[3].SetText("half typed");
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  Ticks(1);
  EXPECT_TRUE(f.TriggerNameText[3].visible());
  EXPECT_EQ(f.TriggerNameText[3].text(), "EMG Trigger 4");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_FALSE(f.TriggerNameText[3].visible());
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

TEST_F(FormTest, UnwritableConfigurationKeepsTheNameInMemoryAndOnScreen) {
  MainForm& f = Load();
  std::filesystem::create_directories(IniPath());  // a folder where the file must be
  f.TriggerLabel[0].PerformDblClick();
  f.TriggerNameText[0].SetText("Stairs");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Stairs");
  EXPECT_EQ(f.config().EmgTriggerNames[0], "Stairs");
  EXPECT_TRUE(std::filesystem::is_directory(IniPath()));
}

TEST_F(FormTest, BgmPageIsHandledButNotListed) {
  MainForm& f = Load();
  EXPECT_EQ(f.VirtualDevice_ComboBox.items().size(), 3u);
  f.shared().TriggerBankPage = kBgmPage;
  f.shared().BgmState.Set(2, 1);
  f.trigger_bank().RefreshTriggerBank();
  EXPECT_EQ(f.TriggerLabel[0].caption(), "BGM 1");
  EXPECT_EQ(f.Trigger_CheckBox[1].value(), 1);
  ConnectAndClear();
  f.Trigger_CheckBox[4].SetValue(1);
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0][2], 23);
}

}  // namespace
}  // namespace orv
