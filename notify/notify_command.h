#pragma once

// The site's own command for a notification, run as the service's user without a shell, with the
// notification's facts and nothing else in its environment.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "notify/notify_message.h"

namespace orv {

// The command's whole environment: a fixed PATH, LANG=C.UTF-8 and the facts (ORV_NOTIFY_TYPE,
// ORV_RULE, ORV_CONDITION, ORV_TEXT, ORV_SEQ, ORV_SINCE in ISO 8601 UTC, ORV_SINCE_MS,
// ORV_STEP).
std::vector<std::string> NotifyCommandEnvironment(const NotifyMessage& msg);

// Runs program (an absolute path, no arguments) and waits for it, at most limit: then its process
// group is killed (and when it ends, whatever it left running in its group). ok when it exits 0;
// stop, when set and true, ends it early (a shutdown). Blocking.
NotifyResult RunNotifyCommand(const std::filesystem::path& program, const NotifyMessage& msg,
                              std::chrono::milliseconds limit = std::chrono::seconds(10),
                              const std::atomic<bool>* stop = nullptr);

}  // namespace orv
