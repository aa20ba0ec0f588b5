#pragma once

#include <QWidget>

#include "platform/message_box.h"

namespace orv {

// Modal message boxes with an OK button; kStop shows the critical (stop) icon. With no parent the
// box is centred over whichever window is active when it opens, so the function can be made
// before the main window exists. A key held down from before the box opened does not close it.
MessageBoxFn QtMessageBox(QWidget* parent);

}  // namespace orv
