// The operator's pick of one of a few names, offscreen: what the list offers, what a pick and a
// cancel give back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QPointer>
#include <QTimer>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/qt_choice_dialog.h"

namespace orv {
namespace {

TEST(QtChoiceDialog, OffersTheChoicesAndGivesBackThePickOrNothing) {
  const std::vector<std::string> choices{"a", "b", "hall-2"};
  // What the operator does in the dialog (the text picked, or "" to cancel); what comes back.
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"b", "b"}, {"hall-2", "hall-2"}, {"", std::nullopt}};
  for (const auto& [pick, expected] : cases) {
    QStringList offered;
    QTimer::singleShot(0, [&, pick = pick] {
      const QPointer<QInputDialog> dialog =
          qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) {
        ADD_FAILURE() << "no dialog";
        return QApplication::closeAllWindows();
      }
      EXPECT_EQ(dialog->windowTitle(), "Orvandel");
      offered = dialog->comboBoxItems();
      if (pick.empty()) return dialog->reject();
      dialog->setTextValue(QString::fromStdString(pick));
      dialog->accept();
    });
    EXPECT_EQ(QtChooseOne("Orvandel", "Which controller?", choices), expected) << pick;
    EXPECT_EQ(offered, (QStringList{"a", "b", "hall-2"}));
  }
  EXPECT_EQ(QtChooseOne("Orvandel", "Which controller?", {}), std::nullopt) << "nothing to pick";
}

}  // namespace
}  // namespace orv
