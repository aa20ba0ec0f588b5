#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv {

// One of choices, picked by the operator from a list in a dialog of its own (Qt's input dialog,
// before any window of the program is open); nothing when they cancel or there is nothing to
// pick from.
std::optional<std::string> QtChooseOne(const std::string& title, const std::string& label,
                                       const std::vector<std::string>& choices);

// QtChooseOne with its title and label, to be handed the choices later.
std::function<std::optional<std::string>(const std::vector<std::string>&)> QtChooser(
    std::string title, std::string label);

}  // namespace orv
