// The main form over a fake port: the trigger bank's clicks, renames and status replies, and the
// system lamps.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "config/configuration.h"
#include "journal/journal.h"
#include "platform/controls.h"
#include "platform/profile.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FormTest;
using test::Hex;
using Frames = std::vector<Bytes>;

TEST_F(FormTest, OperatorClicksSendTheTriggerCommandValuesFromCodeAndADisabledBankDoNot) {
  MainForm& f = Load();
  ConnectAndClear();
  Ticks(1);  // the fault image's poll: the next slot is a page's
  port_.ClearWrites();
  // Page, scroll position, row, value clicked, its trigger number and the frame sent.
  const std::tuple<int, int, int, int, int, const char*> clicks[] = {
      {0, 0, 4, 1, 5, "02 02 13 05 01 DD 03"},
      {2, 108, 11, 1, 120, "02 02 12 78 01 49 03"},
      {1, 12, 0, 0, 13, "02 02 14 0D 00 8F 03"}};
  for (const auto& [page, scroll, row, value, trigger, frame] : clicks) {
    f.VirtualDevice_ComboBox.SetListIndex(page);
    f.Trigger_VScrollBar.SetValue(scroll);
    f.link().trigger_states().States(page).Set(trigger, 1 - value);  // the click is a change
    f.trigger_bank().RefreshTriggerBank();
    EXPECT_TRUE(port_.writes().empty()) << "a value set from code sends nothing";
    f.Trigger_CheckBox[row].SetValue(value);
    EXPECT_EQ(port_.writes(), Frames{Hex(frame)});
    EXPECT_EQ(f.link().trigger_states().States(page).Get(trigger), value);
    port_.ClearWrites();
  }
  // The next slot asks for the page shown last; the rotation's next turn is that page's too.
  Ticks(22);
  EXPECT_EQ(port_.writes(), (Frames{Hex("02 00 09 A9 03"), Hex("02 00 09 A9 03")}));
  port_.ClearWrites();
  f.trigger_bank().set_ui_enabled(false);  // clicks and scrolling are dropped
  f.Trigger_CheckBox[0].SetValue(1);
  f.Trigger_VScrollBar.SetValue(5);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(f.link().trigger_states().BusTriggerState.Get(13), 0);
  EXPECT_EQ(f.trigger_bank().scroll_offset(), 12);
  f.trigger_bank().set_page(kBgmPage);  // handled, though not in the list
  f.link().trigger_states().BgmState.Set(14, 1);
  f.trigger_bank().RefreshTriggerBank();
  EXPECT_EQ(f.TriggerLabel[0].caption(), "BGM 13");
  EXPECT_EQ(f.Trigger_CheckBox[1].value(), 1);
  f.Trigger_CheckBox[4].SetValue(1);
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0][2], 23);
}

// The last row at the last scroll position of each page: the page's names are shown from there
// and the key of its last trigger is written.
TEST_F(FormTest, RenameWritesTheKeyOfTheShownTrigger) {
  MainForm& f = Load();
  f.TriggerLabel[0].PerformDblClick();
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_FALSE(fs::exists(IniPath())) << "an untouched editor writes nothing";
  Rename(1, "");
  EXPECT_EQ(f.TriggerLabel[1].caption(), "");
  EXPECT_EQ(ReadProfileString("ETrgName", "ETRG 2", "?", 128, IniPath()), "");
  // Page, its last scroll position, the first row's name, the section and key of the last row.
  const std::tuple<int, int, const char*, const char*, const char*> cases[] = {
      {0, 48, "EMG Trigger 49", "ETrgName", "ETRG 60"},
      {1, 48, "BUS Trigger 49", "BTrgName", "BTRG 60"},
      {2, 108, "Soft Trigger 109", "VTrgName", "VTRG 120"}};
  for (const auto& [page, scroll, first, section, key] : cases) {
    f.focus.MoveFocus(&f.VirtualDevice_ComboBox);  // where a click on the list leaves it
    f.VirtualDevice_ComboBox.SetListIndex(page);
    f.Trigger_VScrollBar.SetValue(scroll + 1);  // held at the last position
    ASSERT_EQ(f.Trigger_VScrollBar.value(), scroll) << key;
    EXPECT_EQ(f.TriggerLabel[0].caption(), first);
    EXPECT_EQ(f.focus.focused(), &f.Trigger_PictureBox);
    f.TriggerLabel[11].PerformDblClick();
    f.TriggerNameText[11].SetText(std::string("Last\r\n") + key);
    f.focus.MoveFocus(&f.Trigger_PictureBox);  // Validate commits, LostFocus only hides
    EXPECT_EQ(f.TriggerLabel[11].caption(), std::string("Last  ") + key);
    EXPECT_EQ(ReadProfileString(section, key, "?", 128, IniPath()), std::string("Last  ") + key);
  }
  fs::remove(IniPath());
  fs::create_directories(IniPath());  // unwritable: the name stays in memory and on screen
  Rename(0, "Stairs");
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Stairs");
  EXPECT_EQ(f.config().SoftTriggerNames[108], "Stairs");
  f.VirtualDevice_ComboBox.SetListIndex(2);  // the same page again still starts over
  EXPECT_EQ(f.Trigger_VScrollBar.value(), 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Soft Trigger 1");
}

// Whichever message came last decides all twelve system lamps, and no zone lamp. (Which bit
// lights which lamp is the link's test.)
TEST_F(FormTest, TheLastFaultImageOrPanelStatusDecidesEverySystemLampAndNoZoneLamp) {
  MainForm& f = Load();
  port_.Open();
  f.Shape1[13].SetFillStyle(Shape::kSolid);
  // Command, payload, lamps 0..11 after it.
  const std::tuple<std::uint8_t, const char*, const char*> cases[] = {
      {6, "FF 0F", "111111111111"},       {0xA0, "50 00 01", "000000010000"},
      {6, "01 00", "100000000000"},       {0xA0, "50 7F FF", "111111111111"},
      {0xA0, "50 80 00", "000000000000"}, {6, "00 08", "000000000001"}};
  for (const auto& [command, payload, lit] : cases) {
    port_.Deliver(EncodeFrame(command, Hex(payload)));
    Ticks(1);
    EXPECT_EQ(Lamps(), std::string(lit) + "010000000000") << payload;
  }
  Image("02 00");  // two in one tick: the last one
  Report("50 00 01");
  Ticks(1);
  EXPECT_EQ(Lamps().substr(0, 12), "000000010000");
}

TEST_F(FormTest, StatusRepliesFillTheirTablesOnlyTheShownPageIsRedrawnEvenUnderAnEditor) {
  MainForm& f = Load();
  ConnectAndClear();
  f.TriggerLabel[3].PerformDblClick();
  f.TriggerNameText[3].SetText("half typed");
  port_.Deliver(EncodeFrame(8, Hex("21 00 00 00 00 00 00 00 00 20")));  // six bits a byte
  port_.Deliver(EncodeFrame(7, Hex("00 01 00 00 00 00 00 00 00 00 00 00 00 00 80")));  // eight
  Ticks(1);
  for (int n = 1; n <= 120; ++n) {
    EXPECT_EQ(f.link().trigger_states().EmgTriggerState.Get(n), int{n == 1 || n == 6 || n == 60})
        << n;
    EXPECT_EQ(f.link().trigger_states().SoftTriggerState.Get(n), int{n == 9 || n == 120}) << n;
  }
  EXPECT_TRUE(f.TriggerNameText[3].visible());
  EXPECT_EQ(f.TriggerNameText[3].text(), "EMG Trigger 4") << "the redraw drops typed text";
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_FALSE(fs::exists(IniPath()));
  f.TriggerLabel[0].SetCaption("marker");  // a redraw would put the name back
  port_.Deliver(EncodeFrame(9, Hex("01 00 00 00 00 00 00 00 00 00")));
  port_.Deliver(EncodeFrame(10, Hex("02 00 00 00 00 00 00 00 00 00")));
  Ticks(1);
  EXPECT_EQ(f.link().trigger_states().BusTriggerState.Get(1), 1);
  EXPECT_EQ(f.link().trigger_states().BgmState.Get(2), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "marker");
  f.VirtualDevice_ComboBox.SetListIndex(1);
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "BUS Trigger 1");
  port_.Deliver(EncodeFrame(8, Hex("C0 00 00 00 00 00 00 00 00 00")));
  Ticks(1);
  for (int n = 1; n <= 60; ++n)
    EXPECT_EQ(f.link().trigger_states().EmgTriggerState.Get(n), 0) << n;
}

}  // namespace
}  // namespace orv
