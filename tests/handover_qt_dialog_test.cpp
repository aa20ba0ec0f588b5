// The handover's window on the offscreen platform: the history window's button opens it, the
// report comes from the journal off the loop, and Sign off hands both operators and the hash of
// the text shown to the sign-off, keeping no PIN in the window.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>
#include <optional>
#include <string>

#include "handover/handover_render.h"
#include "handover/qt/qt_handover_dialog.h"
#include "journal/journal.h"
#include "journal/qt/qt_history_window.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

TEST(HandoverDialog, TheHistoryWindowsButtonAndTheSignOff) {
  test::TempFolder folder;
  Journal journal(folder.path(), nullptr);
  journal.Append(journal.Make(JournalKind::kEvent, "12/07 14:03 Event = ALARM"));
  ASSERT_TRUE(journal.Commit());

  QtHistoryWindow history(journal.file());
  int opened = 0;
  history.AddButton(QStringLiteral("Handover"), [&] { ++opened; });
  QPushButton* button = nullptr;
  for (QPushButton* b : history.findChildren<QPushButton*>())
    if (b->text() == QStringLiteral("Handover")) button = b;
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(opened, 1);

  struct Asked {
    SignOffParty outgoing, incoming;
    std::string sha256;
  };
  std::optional<Asked> asked;
  QtHandoverDialog dialog(journal.file(),
                          [&](const SignOffParty& outgoing, const SignOffParty& incoming,
                              const std::string& sha256, auto done) {
                            asked = Asked{outgoing, incoming, sha256};
                            done(SignOffOutcome{true, "Handover signed: alice to bob"});
                          });
  dialog.Refresh();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.has_report(); }, 10000));
  EXPECT_NE(dialog.findChild<QTextBrowser*>(QStringLiteral("HandoverReport"))
                ->toPlainText()
                .indexOf(QStringLiteral("ALARM")),
            -1);

  const auto type = [&](const char* name, const char* text) {
    dialog.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QString::fromLatin1(text));
  };
  type("OutgoingName", " alice ");
  type("OutgoingPin", "1234");
  type("IncomingName", "bob");
  type("IncomingPin", "5678");
  QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("SignOffButton")),
                    Qt::LeftButton);
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->outgoing.name, "alice");
  EXPECT_EQ(asked->outgoing.pin, "1234");
  EXPECT_EQ(asked->incoming.name, "bob");
  EXPECT_EQ(asked->incoming.pin, "5678");
  EXPECT_EQ(asked->sha256, HandoverSha256(dialog.report_text()));
  EXPECT_TRUE(dialog.findChild<QLineEdit*>(QStringLiteral("OutgoingPin"))->text().isEmpty());
  EXPECT_TRUE(dialog.findChild<QLineEdit*>(QStringLiteral("IncomingPin"))->text().isEmpty());
  EXPECT_EQ(dialog.status_text(), QStringLiteral("Handover signed: alice to bob"));
  EXPECT_FALSE(dialog.findChild<QPushButton*>(QStringLiteral("SignOffButton"))->isEnabled());
}

// A journal that cannot be read is said in the window's status line; there is nothing to sign.
TEST(HandoverDialog, AJournalThatCannotBeReadIsSaid) {
  test::TempFolder folder;
  bool asked = false;
  QtHandoverDialog dialog(
      folder.path() / "no" / "Journal.sqlite",
      [&](const SignOffParty&, const SignOffParty&, const std::string&, auto) { asked = true; });
  dialog.Refresh();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return dialog.status_text().startsWith(QStringLiteral("The journal cannot be read")); },
      10000));
  EXPECT_FALSE(dialog.has_report());
  EXPECT_FALSE(dialog.findChild<QPushButton*>(QStringLiteral("SignOffButton"))->isEnabled());
  EXPECT_FALSE(asked);
}

}  // namespace
}  // namespace orv
