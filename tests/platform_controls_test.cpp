#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/controls.h"

namespace orv {
namespace {

// Counts events and property notifications of one control.
struct Counter {
  int click = 0, change = 0, observed = 0;
  void Attach(Control& c) {
    c.Click = [this] { ++click; };
    c.Change = [this] { ++change; };
    c.SetObserver([this](Control&) { ++observed; });
  }
};

TEST(Controls, CheckBoxRaisesClickOnlyWhenTheValueChanges) {
  CheckBox box("Box");
  Counter n;
  n.Attach(box);
  box.SetValue(0);
  EXPECT_EQ(n.click, 0);
  box.SetValue(1);
  box.SetValue(1);
  EXPECT_EQ(n.click, 1);
  box.SetValue(2);
  box.SetValue(0);
  EXPECT_EQ(n.click, 3);
  EXPECT_EQ(n.observed, 3);
}

TEST(Controls, ComboBoxSelectionRaisesClickEveryTimeAndTextFollows) {
  ComboBox list("List", ComboBox::Style::kDropDownList);
  Counter n;
  n.Attach(list);
  list.AddItem("COM1");
  list.AddItem("COM2");
  list.SetListIndex(1);
  list.SetListIndex(1);
  EXPECT_EQ(n.click, 2);
  EXPECT_EQ(list.text(), "COM2");
  list.SetListIndex(5);  // no such item: ignored
  EXPECT_EQ(n.click, 2);
  EXPECT_EQ(list.list_index(), 1);
}

TEST(Controls, EditableComboTextRaisesChangeWhenDifferent) {
  ComboBox combo("Combo", ComboBox::Style::kEditable);
  Counter n;
  n.Attach(combo);
  combo.AddItem("10");
  combo.SetText("12.5");
  combo.SetText("12.5");
  EXPECT_EQ(n.change, 1);
  EXPECT_EQ(combo.list_index(), -1);
  combo.SetText("10");
  EXPECT_EQ(combo.list_index(), 0);
  EXPECT_EQ(n.click, 0);
}

TEST(Controls, TextBoxRaisesChangeWhenDifferentAndKeepsItsMaximumLength) {
  TextBox box("Log", -1, true, 5);
  Counter n;
  n.Attach(box);
  box.SetText("abc");
  box.SetText("abc");
  EXPECT_EQ(n.change, 1);
  box.SetText("abcdefgh");
  EXPECT_EQ(box.text(), "abcde");
  box.AppendText("");
  EXPECT_EQ(n.change, 2);
  box.SetSelStart(99);
  EXPECT_EQ(box.sel_start(), 5);
}

TEST(Controls, ScrollBarClampsAndRaisesChangeOnce) {
  VScrollBar bar("Bar");
  Counter n;
  n.Attach(bar);
  bar.SetMax(48);
  bar.SetValue(60);
  EXPECT_EQ(bar.value(), 48);
  bar.SetValue(48);
  EXPECT_EQ(n.change, 1);
  bar.SetMax(10);  // pulls the value down with it
  EXPECT_EQ(bar.value(), 10);
  EXPECT_EQ(n.change, 2);
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
  options[0].SetValue(true);
  options[2].SetValue(true);
  options[2].SetValue(true);
  EXPECT_EQ(clicks, (std::vector<int>{0, 2}));
  EXPECT_FALSE(options[0].value());
  EXPECT_TRUE(options[2].value());
  EXPECT_EQ(options[1].QualifiedName(), "Opt_1");
}

TEST(Controls, FocusMoveRaisesValidateLostFocusThenGotFocus) {
  TextBox editor("Editor");
  PictureBox picture("Picture");
  std::vector<std::string> events;
  editor.Validate = [&] { events.push_back("validate"); };
  editor.LostFocus = [&] { events.push_back("lost"); };
  picture.GotFocus = [&] { events.push_back("got"); };
  FocusTracker focus;
  focus.MoveFocus(&editor);
  focus.MoveFocus(&picture);
  focus.MoveFocus(&picture);
  EXPECT_EQ(events, (std::vector<std::string>{"validate", "lost", "got"}));
  EXPECT_EQ(focus.focused(), &picture);
}

TEST(Controls, FocusObserverHearsWhereTheFocusEndedUp) {
  VScrollBar bar("Bar");
  PictureBox picture("Picture");
  TextBox editor("Editor");
  FocusTracker focus;
  // The scroll bar hands the focus on as soon as it gets it.
  bar.GotFocus = [&] { focus.MoveFocus(&picture); };
  std::vector<Control*> heard;
  focus.SetObserver([&](Control* c) { heard.push_back(c); });
  focus.MoveFocus(&editor);
  focus.MoveFocus(&editor);  // no move, nothing to tell
  focus.MoveFocus(&bar);
  EXPECT_EQ(focus.focused(), &picture);
  // The inner move reports the picture box, and so does the outer one once it completes.
  EXPECT_EQ(heard, (std::vector<Control*>{&editor, &picture, &picture}));
  focus.MoveFocus(nullptr);
  EXPECT_EQ(heard.back(), nullptr);
}

}  // namespace
}  // namespace orv
