#include "platform/qt/qt_message_box.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <optional>
#include <utility>

namespace orv {
namespace {

// A key held down from before the box opened (Enter still held, a stuck key, a test tool that
// died between press and release) reaches the box only as its auto-repeat, and Qt's dialog and
// buttons answer Return, Enter and Escape at any press: the box would close unseen, at the next
// repeat. Only a key pressed while the box is shown answers it.
class HeldKeysIgnored final : public QObject {
 public:
  explicit HeldKeysIgnored(QWidget& box) : box_(box) { qApp->installEventFilter(this); }
  ~HeldKeysIgnored() override { qApp->removeEventFilter(this); }
  HeldKeysIgnored(const HeldKeysIgnored&) = delete;
  HeldKeysIgnored& operator=(const HeldKeysIgnored&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != &box_ && !box_.isAncestorOf(widget))) return false;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    const std::pair<int, quint64> stroke(key.key(), key.timestamp());
    if (type == QEvent::KeyRelease) {
      last_release_ = stroke;
      return false;
    }
    // X11 repeats a held key as a release and a press of the same time; Qt marks them as a
    // repeat only when the press has been read by the time it handles the release.
    return key.isAutoRepeat() || stroke == last_release_;
  }

 private:
  QWidget& box_;
  std::optional<std::pair<int, quint64>> last_release_;
};

}  // namespace

MessageBoxFn QtMessageBox(QWidget* parent) {
  return [owner = QPointer<QWidget>(parent)](const std::string& text, const std::string& caption,
                                             MessageIcon icon) {
    QWidget* parent_now = owner ? owner.data() : QApplication::activeWindow();
    QMessageBox box(icon == MessageIcon::kStop ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    parent_now);
    const HeldKeysIgnored held_keys(box);
    box.exec();
  };
}

}  // namespace orv
