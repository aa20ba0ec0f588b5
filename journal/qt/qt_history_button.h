#pragma once

// The main window's way into the journal's history, in the window from its first paint on; the
// history window itself (with Qt's printing) comes only when asked for.

#include <functional>

class QPushButton;

namespace orv {

class QtFormView;

// A "History" button in the main window's status bar (outside the designed control area) and
// Ctrl+H, both calling open.
QPushButton* AddHistoryButton(QtFormView& view, std::function<void()> open);

}  // namespace orv
