#pragma once

#include <QStatusBar>
#include <QString>

#include "platform/line_status.h"
#include "platform/notice_log.h"
#include "platform/signal.h"

class QLabel;

namespace orv {

class ElidedLabel;

// The window's status bar: the newest notice with its level's icon (errors also in red), and
// the notices the log still holds, newest first with their time, in its tool tip. Notices never
// open a box of their own. At its right end, the serial line: the port and the link state (red
// while the controller does not answer), with the line's counters in their tool tip.
class QtNoticeBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit QtNoticeBar(QWidget* parent = nullptr);
  QtNoticeBar(const QtNoticeBar&) = delete;
  QtNoticeBar& operator=(const QtNoticeBar&) = delete;

  // Shows the log from now on, starting with what it holds already. Destroying either the bar or
  // the log ends it.
  void Follow(NoticeLog& log);

  // The newest notice's whole text, however much of it fits.
  QString text() const;
  QLabel* icon_label() const { return icon_; }
  QLabel* text_label() const;

  void ShowLineStatus(const LineStatus& status);
  QLabel* line_port_label() const { return line_port_; }
  QLabel* line_state_label() const { return line_state_; }
  static constexpr int kIconSize = 16;
  // The widest line of the tool tip, in pixels.
  static constexpr int kToolTipWidth = 720;

 private:
  void ShowLog(const NoticeLog& log);

  QLabel* icon_ = nullptr;
  ElidedLabel* text_ = nullptr;
  QLabel* line_port_ = nullptr;
  QLabel* line_state_ = nullptr;
  Connection connection_;
};

}  // namespace orv
