#pragma once

#include <QString>
#include <memory>

#include "platform/notice.h"

class QSystemTrayIcon;

namespace orv {

// Desktop notifications through the system tray, where the desktop has one. Where it has none
// (a kiosk, a virtual X server, the offscreen platform) nothing is shown and nothing fails: the
// status bar and the window title carry the same news on their own.
class QtTrayNotice {
 public:
  explicit QtTrayNotice(QString title);
  ~QtTrayNotice();
  QtTrayNotice(const QtTrayNotice&) = delete;
  QtTrayNotice& operator=(const QtTrayNotice&) = delete;

  // Shows the notice; false where there is no system tray.
  bool Show(const Notice& notice);

 private:
  QString title_;
  // Made at the first notice, so that a program that never needs it shows no tray icon.
  std::unique_ptr<QSystemTrayIcon> tray_;
};

}  // namespace orv
