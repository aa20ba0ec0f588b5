#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "panel/main_form.h"

class QWidget;

namespace orv {

// Puts a button (its text, what a click does) where the caller shows it: the history window.
using AddButtonFn = std::function<void(const std::string& text, std::function<void()> clicked)>;

// The history window's Handover: the report's window over the journal file, made when first
// asked for, and its sign-off at the window's place at the gate, recorded as the window's action.
void AddHandoverButton(const AddButtonFn& add_button, MainForm& form,
                       const std::filesystem::path& journal_file, QWidget* parent);

}  // namespace orv
