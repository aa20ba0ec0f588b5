#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/controls.h"

namespace orv {
namespace {

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
  const auto shown = [&line] { return line.text() + " " + std::to_string(line.char_count()); };
  line.SetText("a\u20ACb");
  EXPECT_EQ(shown(), "a\u20ACb 3");
  line.AppendText("\u00FF", 2);
  EXPECT_EQ(shown(), "b\u00FF 2");
  line.AppendText("c", 5);  // more than it holds: all of it
  EXPECT_EQ(shown(), "c 1");
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
