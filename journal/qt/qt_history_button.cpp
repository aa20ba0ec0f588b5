#include "journal/qt/qt_history_button.h"

#include <QKeySequence>
#include <QObject>
#include <QPushButton>
#include <QShortcut>
#include <utility>

#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_notice_bar.h"

namespace orv {

QPushButton* AddHistoryButton(QtFormView& view, const std::string& caption,
                              std::function<void()> open) {
  auto* button = new QPushButton(QString::fromStdString(caption), view.notice_bar());
  button->setObjectName(QStringLiteral("HistoryButton"));
  button->setToolTip(
      QObject::tr("The journal: every event, operator action and connection "
                  "(Ctrl+H)"));
  // The designed controls keep the keyboard focus to themselves.
  button->setFocusPolicy(Qt::NoFocus);
  view.notice_bar()->addPermanentWidget(button);
  QObject::connect(button, &QPushButton::clicked, button, open);
  auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+H")), &view);
  QObject::connect(shortcut, &QShortcut::activated, button, std::move(open));
  return button;
}

}  // namespace orv
