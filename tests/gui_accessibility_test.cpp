// The window for assistive technology: every control has a name that says what it is, and Tab
// goes through the window as it reads: trigger bank, keys, connection, settings, events log.
#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>

#include "platform/qt/qt_form_view.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

class GuiAccessibility : public test::FormTest {};

// Where a control stands in the window's reading order; -1 for what Tab never reaches.
int ReadingGroup(const std::string& name) {
  const std::pair<const char*, int> groups[] = {{"VirtualDevice_ComboBox", 0},
                                                {"Trigger_", 0},
                                                {"TriggerNameText", 0},
                                                {"EMG", 1},
                                                {"FaultAck_CB", 1},
                                                {"FaultReset_CB", 1},
                                                {"ConnectCB", 2},
                                                {"ComPort_CB", 3},
                                                {"BaudRate_CB", 3},
                                                {"SupervisionCheck", 3},
                                                {"Timer_CB", 3},
                                                {"EventsLogTextBox", 4},
                                                {"NoDisplayCheck", 4},
                                                {"Receiver_Text", 4}};
  for (const auto& [prefix, group] : groups) {
    if (name.rfind(prefix, 0) == 0) return group;
  }
  return -1;
}

TEST_F(GuiAccessibility, EveryControlIsNamedAndTabFollowsTheWindow) {
  Load();
  ConnectAndClear();  // the keys take part once connected
  QtFormView view(form().MainFormWindow, form().controls(), form().focus, [] {});
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

  for (Control* control : form().controls()) {
    QWidget* widget = view.WidgetOf(control);
    // A line is decoration: nothing to say.
    if (widget == nullptr || !widget->isVisible() || control->kind() == ControlKind::kLine)
      continue;
    EXPECT_FALSE(widget->accessibleName().isEmpty()) << control->QualifiedName();
  }
  EXPECT_EQ(view.WidgetOf(&form().Shape1[6])->accessibleName(), "Fault lamp Mains");

  // The focus chain from the first control: the reading groups never go back.
  int last_group = 0;
  int reached = 0;
  QWidget* first = view.WidgetOf(&form().VirtualDevice_ComboBox);
  for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled()) continue;
    const Control* control = view.ControlOf(w);
    if (control == nullptr) continue;
    const int group = ReadingGroup(control->QualifiedName());
    ASSERT_GE(group, last_group) << control->QualifiedName();
    last_group = group;
    ++reached;
  }
  EXPECT_EQ(last_group, 4);
  EXPECT_GE(reached, 10);
}

}  // namespace
}  // namespace orv
