#pragma once

#include <filesystem>

#include "app/module_capabilities.h"
#include "panel/main_form.h"

class QWidget;

namespace orv {

// The history window's Handover: the report's window over the journal file, made when first
// asked for, and its sign-off at the window's place at the gate, recorded as the window's action.
void AddHandoverButton(HistoryView& history, MainForm& form,
                       const std::filesystem::path& journal_file, QWidget* parent);

}  // namespace orv
