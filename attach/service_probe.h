#pragma once

// Whether this machine is a site, as a window sees it at its start, before anything of the
// network is loaded: plain POSIX rather than Qt Network.

#include <string>

namespace orv {

// True when a socket node is at path (lstat: a link to one does not count). Whether anything
// answers there does not matter: a window at a site attaches, or says why it cannot, and never
// opens the line itself.
bool SiteSocketPresent(const std::string& path);

}  // namespace orv
