#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orv {

// One of choices, picked by the operator from a list in a dialog of its own (Qt's input dialog,
// before any window of the program is open); nothing when they cancel or there is nothing to
// pick from.
std::optional<std::string> QtChooseOne(const std::string& title, const std::string& label,
                                       const std::vector<std::string>& choices);

}  // namespace orv
