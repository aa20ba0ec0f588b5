#pragma once

// Whether a service holds the line: asked by every window at its start, before anything of the
// network is loaded, so plain POSIX rather than Qt Network.

#include <string>

namespace orv {

// True when a service listens at the local socket path now: a local socket answers at once or
// not at all.
bool ServiceAnswers(const std::string& path);

}  // namespace orv
