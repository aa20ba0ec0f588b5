#pragma once

#include <QStatusBar>
#include <QString>

#include "platform/notice_log.h"
#include "platform/signal.h"

class QLabel;

namespace orv {

class ElidedLabel;

// The window's status bar: the newest notice with its level's icon (errors also in red), and
// the notices the log still holds, newest first with their time, in its tool tip and, whole and
// wrapped, in a list that a click on the notice opens (the window's width cuts a long one).
// Notices never open a box of their own. What else a capability shows there goes beside the notice
// (AddToPane) or at the bar's right end (addPermanentWidget).
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

  // A widget after the notice, in the notice's own sunken pane.
  void AddToPane(QWidget* widget);
  // Opens the list of the log's notices under the pointer, as a click on the notice does; the
  // list is a popup that any click elsewhere closes. Null before Follow.
  QWidget* ShowList();
  static constexpr int kIconSize = 16;
  // The widest line of the tool tip, in pixels.
  static constexpr int kToolTipWidth = 720;
  // The list's width and its most lines, in pixels.
  static constexpr int kListWidth = 560;
  static constexpr int kListHeight = 320;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowLog(const NoticeLog& log);
  void ShowToolTip(const NoticeLog& log);

  QLabel* icon_ = nullptr;
  ElidedLabel* text_ = nullptr;
  QWidget* pane_ = nullptr;
  const NoticeLog* log_ = nullptr;
  Connection connection_;
};

}  // namespace orv
