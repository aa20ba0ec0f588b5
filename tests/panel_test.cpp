#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "link/frame.h"
#include "panel/received_display.h"
#include "platform/controls.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

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
    f.link().trigger_states().States(page).Set(trigger,
                                               1 - value);  // so that the click is a change
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
  f.TriggerLabel[1].PerformDblClick();
  f.TriggerNameText[1].SetText("");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
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
    EXPECT_TRUE(f.TriggerNameText[11].visible());
    EXPECT_EQ(f.focus.focused(), &f.TriggerNameText[11]);
    f.TriggerNameText[11].SetText(std::string("Last\r\n") + key);
    f.focus.MoveFocus(&f.Trigger_PictureBox);  // Validate commits, LostFocus only hides
    EXPECT_FALSE(f.TriggerNameText[11].visible());
    EXPECT_EQ(f.TriggerLabel[11].caption(), std::string("Last  ") + key);
    EXPECT_EQ(ReadProfileString(section, key, "?", 128, IniPath()), std::string("Last  ") + key);
  }
  fs::remove(IniPath());
  fs::create_directories(IniPath());  // unwritable: the name stays in memory and on screen
  f.TriggerLabel[0].PerformDblClick();
  f.TriggerNameText[0].SetText("Stairs");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
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
  port_.Deliver(EncodeFrame(6, Hex("02 00")));  // two in one tick: the last one
  port_.Deliver(EncodeFrame(0xA0, Hex("50 00 01")));
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

TEST(ReceivedDisplay, EachByteHasItsTextInEachFormat) {
  // Byte, mode (1 Char, 2 Hex, 3 Dec), its text; 0x80 is the euro sign.
  const std::tuple<std::uint8_t, std::uint8_t, const char*> cases[] = {
      {0x0A, 2, "0AH "}, {0xA0, 2, "A0H "}, {7, 3, "007 "},        {255, 3, "255 "},
      {0x2B, 1, "+"},    {0x02, 1, "\x02"}, {0xFF, 1, "\xC3\xBF"}, {0x80, 1, "\xE2\x82\xAC"},
      {0x81, 1, "."},    {0x8D, 1, "."},    {0x8F, 1, "."},        {0x90, 1, "."},
      {0x9D, 1, "."},    {0x41, 0, ""},     {0x41, 9, ""}};
  for (const auto& [byte, mode, text] : cases)
    EXPECT_EQ(FormatReceivedByte(byte, mode), text) << int{byte} << " " << int{mode};
}

// The box keeps its newest 65,536 characters as shown, however many bytes of UTF-8 each takes,
// whether they come in one chunk or in many, into an empty box or one that holds a little. (That
// a box drops whole characters is the text box's test.)
TEST(ReceivedDataDisplay, KeepsTheNewestCharactersWholeInEveryMode) {
  constexpr std::size_t kMax = ReceivedDataDisplay::kMaxTextLength;
  struct Case {
    std::uint8_t mode;   // 1 Char, 2 Hex, 3 Dec
    std::uint8_t byte;   // every received byte
    std::size_t chunk;   // bytes per chunk
    const char* before;  // the box's text before
    std::string shown;   // the text of one byte
  };
  const Case cases[] = {
      {1, 0xFF, 100000, "xyz", "\u00FF"},   // two bytes a character, the chunk alone over the bound
      {1, 0x80, 1000, "\u20AC", "\u20AC"},  // three, in many
      {2, 0x2B, 777, "", "2BH "},           // four characters a byte, in many
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int{c.mode} << ", byte " << int{c.byte}
                                    << ", chunks of " << c.chunk);
    TextBox box("Receiver_Text");
    box.SetText(c.before);
    ReceivedDataDisplay display;
    display.set_display_mode(c.mode);
    for (std::size_t sent = 0; sent < 100000; sent += c.chunk)
      display.AppendReceivedBytes(box, Bytes(std::min(c.chunk, 100000 - sent), c.byte));
    const std::string& text = box.text();
    EXPECT_EQ(box.char_count(), kMax);
    EXPECT_EQ(Utf8Length(text), kMax);
    // The four characters of a Hex or Dec byte divide 65,536: whole byte texts at both ends.
    EXPECT_EQ(text.size(), kMax / Utf8Length(c.shown) * c.shown.size());
    EXPECT_EQ(text.substr(0, c.shown.size()), c.shown);
    EXPECT_EQ(text.substr(text.size() - c.shown.size()), c.shown);
    EXPECT_EQ(box.sel_start(), static_cast<int>(text.size())) << "the caret follows the newest";
  }
}

// The option buttons pick the format, and every chunk the port brings runs on in its own.
TEST_F(FormTest, ChunksRunOnInTheFormatTheOptionButtonsPick) {
  MainForm& f = Load();
  port_.Open();
  f.DisplayType_OptionButton[1].SetValue(true);
  port_.Deliver(Hex("02 01 06 00 2B 03"));
  f.DisplayType_OptionButton[2].SetValue(true);
  port_.Deliver(Hex("02 01"));
  f.DisplayType_OptionButton[0].SetValue(true);
  port_.Deliver(Hex("41 81"));
  EXPECT_EQ(f.Receiver_Text.text(), "02H 01H 06H 00H 2BH 03H 002 001 A.");
}

// Counts a control's events and property notifications.
struct Counter {
  int click = 0, change = 0, observed = 0;
  explicit Counter(Control& c) {
    c.Click = [this] { ++click; };
    c.Change = [this] { ++change; };
    c.SetObserver([this](Control&) { ++observed; });
  }
};

TEST(Controls, CheckBoxClicksOnlyOnChangeComboBoxOnEverySelectionEditableComboChanges) {
  CheckBox box("Box");
  Counter b(box);
  for (const int value : {0, 1, 1, 2, 0})
    box.SetValue(value);
  EXPECT_EQ(b.click, 3);
  EXPECT_EQ(b.observed, 3);
  ComboBox list("List", ComboBox::Style::kDropDownList);
  Counter l(list);
  list.AddItem("COM1");
  list.AddItem("COM2");
  for (const int index : {1, 1, 5})  // 5: no such item, ignored
    list.SetListIndex(index);
  EXPECT_EQ(l.click, 2);
  EXPECT_EQ(list.text(), "COM2");
  EXPECT_EQ(list.list_index(), 1);
  ComboBox combo("Combo", ComboBox::Style::kEditable);
  Counter c(combo);
  combo.AddItem("10");
  combo.SetText("12.5");
  combo.SetText("12.5");
  EXPECT_EQ(c.change, 1);
  EXPECT_EQ(combo.list_index(), -1);
  combo.SetText("10");
  EXPECT_EQ(combo.list_index(), 0);
  EXPECT_EQ(c.click, 0);
}

TEST(Controls, TextBoxAndScrollBarChangeOnlyOnChangesAndKeepTheirBounds) {
  TextBox box("Log", -1, true, 5);
  Counter t(box);
  box.SetText("abc");
  box.SetText("abc");
  EXPECT_EQ(t.change, 1);
  box.SetText("abcdefgh");
  EXPECT_EQ(box.text(), "abcde");
  box.AppendText("");
  EXPECT_EQ(t.change, 2);
  box.SetSelStart(99);
  EXPECT_EQ(box.sel_start(), 5);
  EXPECT_EQ(box.char_count(), 5u);
  // Counted and dropped by characters, not bytes.
  TextBox line("Line");
  line.SetText("a\u20ACb");
  EXPECT_EQ(line.char_count(), 3u);
  line.AppendText("\u00FF", 2);
  EXPECT_EQ(line.text(), "b\u00FF");
  EXPECT_EQ(line.char_count(), 2u);
  line.AppendText("c", 5);  // more than it holds: all of it
  EXPECT_EQ(line.text(), "c");
  EXPECT_EQ(line.char_count(), 1u);
  VScrollBar bar("Bar");
  Counter s(bar);
  bar.SetMax(48);
  bar.SetValue(60);
  bar.SetValue(48);
  EXPECT_EQ(bar.value(), 48);
  EXPECT_EQ(s.change, 1);
  bar.SetMax(10);  // pulls the value down with it
  EXPECT_EQ(bar.value(), 10);
  EXPECT_EQ(s.change, 2);
  bar.SetValue(-3);
  EXPECT_EQ(bar.value(), 0);
}

TEST(Controls, OptionButtonsOfOneGroupExcludeEachOther) {
  ControlArray<OptionButton> options("Opt", 3);
  std::vector<int> clicks;
  options.Bind(&Control::Click, [&](int i) { clicks.push_back(i); });
  std::vector<OptionButton*> group{&options[0], &options[1], &options[2]};
  for (auto* o : group)
    o->SetGroup(group);
  for (const int i : {0, 2, 2})
    options[i].SetValue(true);
  EXPECT_EQ(clicks, (std::vector<int>{0, 2}));
  EXPECT_FALSE(options[0].value());
  EXPECT_TRUE(options[2].value());
}

TEST(Controls, FocusMovesRaiseValidateLostFocusGotFocusAndTellWhereTheFocusEnded) {
  TextBox editor("Editor");
  PictureBox picture("Picture");
  VScrollBar bar("Bar");
  FocusTracker focus;
  std::vector<std::string> events;
  editor.Validate = [&] { events.push_back("validate"); };
  editor.LostFocus = [&] { events.push_back("lost"); };
  picture.GotFocus = [&] { events.push_back("got"); };
  bar.GotFocus = [&] { focus.MoveFocus(&picture); };  // hands the focus on at once
  focus.SetObserver([&](Control* c) { events.push_back(c ? "at " + c->name() : "at none"); });
  for (Control* c : std::initializer_list<Control*>{&editor, &editor, &bar, nullptr})
    focus.MoveFocus(c);  // the second move to the editor is none: nothing to tell
  // The inner move to the picture box reports it, and so does the outer one once it completes.
  EXPECT_EQ(events, (std::vector<std::string>{"at Editor", "validate", "lost", "got", "at Picture",
                                              "at Picture", "at none"}));
}

}  // namespace
}  // namespace orv
