#pragma once

#include <functional>
#include <string>

#include "notify/notify_rules.h"

namespace orv {

// --notify-test: a test message through each recipient of every rule (or of the one named), a
// line each of what came back, on the event loop until every answer is in. 0 when every one was
// delivered, 1 when one was not, 2 when there is no such rule.
int RunQtNotifyTest(const NotifySettings& settings, const std::string& rule,
                    const std::function<void(const std::string&)>& print);

}  // namespace orv
