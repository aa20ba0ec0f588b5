// The Handover as the program composes it over the window model: the button opens the report's
// window, and a sign-off with both PINs right is one operator record of the window's journal,
// naming both operators and the SHA-256 of the text the window showed.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <functional>
#include <string>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "app/handover_window.h"
#include "handover/handover_render.h"
#include "handover/qt/qt_handover_dialog.h"
#include "tests/form_fixture.h"
#include "tests/support/journal_fixture.h"

namespace orv {
namespace {

class HandoverWindowTest : public test::FormTest {};

TEST_F(HandoverWindowTest, ASignOffIsTheWindowsRecordWithTheReportsHash) {
  AccessGate gate(UsersFile{AccessMode::kOn,
                            {Operator{"alice", AccessLevel::kLevel1, *HashPin("1234"), false},
                             Operator{"bob", AccessLevel::kLevel2, *HashPin("5678"), false}}});
  gate_ = &gate;
  MainForm& form = Load();
  Ticks(1);
  QWidget parent;
  std::function<void()> clicked;
  AddHandoverButton(
      [&](const std::string& text, std::function<void()> click) {
        EXPECT_EQ(text, "Handover");
        clicked = std::move(click);
      },
      form, JournalPath(), &parent);
  ASSERT_TRUE(clicked);
  clicked();
  auto* dialog = parent.findChild<QtHandoverDialog*>();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->has_report(); }, 10000));
  const std::string sha256 = HandoverSha256(dialog->report_text());

  const auto type = [&](const char* name, const char* text) {
    dialog->findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QString::fromLatin1(text));
  };
  type("OutgoingName", "alice");
  type("OutgoingPin", "1234");
  type("IncomingName", "bob");
  type("IncomingPin", "5678");
  QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("SignOffButton")),
                    Qt::LeftButton);
  Ticks(1);
  int signed_off = 0;
  for (const JournalRow& row : test::JournalRows(JournalPath())) {
    if (!row.entry.text.starts_with("Handover signed")) continue;
    ++signed_off;
    EXPECT_EQ(row.entry.kind, JournalKind::kOperator);
    EXPECT_EQ(row.entry.text, "Handover signed: alice to bob, report SHA-256 " + sha256);
  }
  EXPECT_EQ(signed_off, 1);
  EXPECT_EQ(gate.OperatorName(MainForm::kWindowOrigin), "");  // nobody logged in by it
}

}  // namespace
}  // namespace orv
