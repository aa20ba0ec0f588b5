#pragma once

// The main window's way into the journal's history, in the window from its first paint on; the
// history window itself (with Qt's printing) comes only when asked for.

#include <functional>
#include <string>

class QPushButton;

namespace orv {

class QtFormView;

// A history button captioned caption (the action's name) in the main window's status bar
// (outside the designed control area) and Ctrl+H, both calling open.
QPushButton* AddHistoryButton(QtFormView& view, const std::string& caption,
                              std::function<void()> open);

}  // namespace orv
