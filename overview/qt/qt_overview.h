#pragma once

#include <functional>
#include <string>

#include "overview/overview_settings.h"

namespace orv {

// The site's overview on Qt's event loop: a broker client that follows the services' retained
// state into the book, and the web server that serves the page and the book. Until SIGTERM or
// SIGINT; the exit status. What it has to say goes to print, a line each.
int RunQtOverview(const OverviewSettings& settings, const std::string& host_name,
                  const std::function<void(const std::string&)>& print);

}  // namespace orv
