#include "platform/qt/qt_choice_dialog.h"

#include <QInputDialog>
#include <QStringList>
#include <utility>

namespace orv {

std::optional<std::string> QtChooseOne(const std::string& title, const std::string& label,
                                       const std::vector<std::string>& choices) {
  if (choices.empty()) return std::nullopt;
  QStringList items;
  for (const std::string& choice : choices)
    items << QString::fromStdString(choice);
  QInputDialog dialog;
  dialog.setObjectName(QStringLiteral("ChoiceDialog"));
  dialog.setWindowTitle(QString::fromStdString(title));
  dialog.setLabelText(QString::fromStdString(label));
  dialog.setComboBoxItems(items);
  dialog.setComboBoxEditable(false);
  // A list shows every choice at once: a handful of controllers, each a click.
  dialog.setOption(QInputDialog::UseListViewForComboBoxItems);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QString chosen = dialog.textValue();
  // Only what was offered: the list cannot be typed into, and this holds it.
  if (!items.contains(chosen)) return std::nullopt;
  return chosen.toStdString();
}

std::function<std::optional<std::string>(const std::vector<std::string>&)> QtChooser(
    std::string title, std::string label) {
  return [title = std::move(title), label = std::move(label)](const auto& choices) {
    return QtChooseOne(title, label, choices);
  };
}

}  // namespace orv
