#pragma once

#include <functional>
#include <string>

namespace orv {

enum class MessageIcon { kNone, kStop };

// A modal message box with an OK button; returns when the operator has dismissed it.
using MessageBoxFn =
    std::function<void(const std::string& text, const std::string& caption, MessageIcon icon)>;

}  // namespace orv
