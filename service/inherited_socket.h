#pragma once

#include <string>

namespace orv {

// The listening socket systemd hands the service when a socket unit starts it (orvandel.socket):
// its descriptor, or -1 when none was handed. A handed socket that cannot be used (more than one,
// or not a listening Unix stream socket) is -1 with the reason in problem; the service must not
// then make one of its own, whose owner and mode would not be the unit's.
int InheritedListeningSocket(std::string& problem);

}  // namespace orv
