#pragma once

// What the log-in dialog says, from the one table of operator actions: why it opened and which
// action needs which level.

#include <string>
#include <string_view>

#include "access/operator_actions.h"

namespace orv {

// Why the dialog opened for a refused action: "EMG Reset needs level 2: log in as an operator of
// level 2 or 3."
std::string LogInReason(Action refused);

// The actions beyond level 1, a line per level in the table's order:
// "Level 2: EMG, EMG ACK, ...\nLevel 3: Connection/Disconnection, ...".
std::string LevelsNeeded();

// True for the words of a refusal for want of a level, however it was said ("EMG Reset refused:
// level 2 needed", "The service did not do it: refused: level 3 needed"): a log-in settles it.
bool SaysLevelRefusal(std::string_view text);

}  // namespace orv
