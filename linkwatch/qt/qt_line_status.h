#pragma once

#include <QString>

#include "linkwatch/line_status.h"

class QLabel;

namespace orv {

class QtFormView;

// The serial line in the window's status bar, beside the notices: the port and the link state
// (red and bold while the controller does not answer), the line's counters in their tool tip,
// and while the link is lost the same words in the title, so the taskbar says it too.
class QtLineStatus {
 public:
  explicit QtLineStatus(QtFormView& view);
  QtLineStatus(const QtLineStatus&) = delete;
  QtLineStatus& operator=(const QtLineStatus&) = delete;

  void Show(const LineStatus& status);
  QLabel* port_label() const { return port_; }
  QLabel* state_label() const { return state_; }

 private:
  QtFormView& view_;
  QLabel* port_ = nullptr;
  QLabel* state_ = nullptr;
};

}  // namespace orv
