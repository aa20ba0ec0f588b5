#include "platform/qt/qt_text_mirror.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <algorithm>

#include "platform/qt/qt_text.h"

namespace orv {
namespace {

// The cursor position in the shown text for a position in the control's text.
int ShownPosition(const std::string& text, int position, bool multi_line) {
  const auto end = static_cast<std::size_t>(std::clamp(position, 0, static_cast<int>(text.size())));
  return static_cast<int>(ShownText(std::string_view(text).substr(0, end), multi_line).size());
}

}  // namespace

QtTextMirror::QtTextMirror(std::function<QWidget*(const Control*)> widget_of, QWidget* window)
    : widget_of_(std::move(widget_of)), window_(window) {
  timer_.setSingleShot(true);
  timer_.setInterval(0);
  QObject::connect(&timer_, &QTimer::timeout, window_, [this] { FlushDue(); });
}

void QtTextMirror::Queue(TextBox& box) {
  if (std::find(pending_.begin(), pending_.end(), &box) != pending_.end()) return;
  pending_.push_back(&box);
  Schedule();
}

// The next turn of the event loop for a box that has been quiet for a tick, else the end of its
// tick.
void QtTextMirror::Schedule() {
  if (pending_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  auto due = std::chrono::steady_clock::time_point::max();
  for (const TextBox* box : pending_) {
    const auto shown = shown_at_.find(box);
    due = std::min(due, shown == shown_at_.end() ? now : shown->second + kInterval);
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(due - now, now - now));
  if (timer_.isActive() && timer_.remainingTimeAsDuration() <= wait) return;
  timer_.start(wait);
}

void QtTextMirror::FlushDue() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<TextBox*> due;
  std::erase_if(pending_, [&](TextBox* box) {
    const auto shown = shown_at_.find(box);
    if (shown != shown_at_.end() && now - shown->second < kInterval) return false;
    due.push_back(box);
    return true;
  });
  for (TextBox* box : due)
    Show(*box);
  Schedule();
}

void QtTextMirror::Flush() {
  timer_.stop();
  std::vector<TextBox*> boxes;
  boxes.swap(pending_);
  for (TextBox* box : boxes)
    Show(*box);
}

void QtTextMirror::Show(TextBox& box) {
  QWidget* widget = widget_of_(&box);
  // A shown box that lies outside the window's visible area (the received text, below it) is
  // laid out only once it can be seen: a line edit lays out all of its text at every change.
  // Hidden editors are kept up to date: they show at a double click, text and all.
  if (window_->isVisible() && widget->isVisible() && widget->visibleRegion().isEmpty()) {
    unseen_.insert(&box);
    return;
  }
  unseen_.erase(&box);
  shown_at_[&box] = std::chrono::steady_clock::now();
  const QSignalBlocker blocker(widget);
  const QString shown = ShownText(box.text(), box.multi_line());
  const int position = ShownPosition(box.text(), box.sel_start(), box.multi_line());
  if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
    if (edit->toPlainText() != shown) edit->setPlainText(shown);
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(std::min<int>(position, shown.size()));
    edit->setTextCursor(cursor);
    edit->ensureCursorVisible();
  } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    // Equal texts mean the operator's own typing came back: the cursor stays where it is.
    if (line->text() != shown) {
      line->setText(shown);
      line->setCursorPosition(position);
    }
  }
}

void QtTextMirror::QueueUnseen() {
  const std::vector<TextBox*> boxes(unseen_.begin(), unseen_.end());
  for (TextBox* box : boxes)
    Queue(*box);
}

}  // namespace orv
