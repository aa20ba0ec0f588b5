#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/controls.h"

class QWidget;

namespace orv {

// Shows the window model's text boxes in their widgets without letting a busy line flood the
// view: a box is shown at most once per tick however often its text changes, on the next turn
// of the event loop when it has been quiet, and a box outside the window's visible area is laid
// out only once it can be seen.
class QtTextMirror {
 public:
  static constexpr std::chrono::milliseconds kInterval{250};

  // widget_of: the widget of a box; window: whose visibility decides what can be seen.
  QtTextMirror(std::function<QWidget*(const Control*)> widget_of, QWidget* window);
  QtTextMirror(const QtTextMirror&) = delete;
  QtTextMirror& operator=(const QtTextMirror&) = delete;

  // The box's text changed in the model.
  void Queue(TextBox& box);
  // Shows every queued box now.
  void Flush();
  // Queues again the boxes left out while they could not be seen (the window was shown or
  // resized).
  void QueueUnseen();
  void Stop() { timer_.stop(); }
  bool pending() const { return !pending_.empty(); }

 private:
  void Schedule();
  void FlushDue();
  void Show(TextBox& box);

  std::function<QWidget*(const Control*)> widget_of_;
  QWidget* window_;
  std::vector<TextBox*> pending_;
  std::unordered_map<const TextBox*, std::chrono::steady_clock::time_point> shown_at_;
  std::unordered_set<TextBox*> unseen_;
  QTimer timer_;
};

}  // namespace orv
