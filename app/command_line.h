#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal_query.h"

namespace orv {

// What the program is asked to do instead of opening its window.
enum class JournalCommand {
  kNone,
  kExport,  // --journal-export: the journal as CSV on standard output
  kVerify,  // --journal-verify: walk the chain
};

// Operator management asked for instead of the window (root only).
enum class UserCommand {
  kNone,
  kAdd,      // --user-add NAME --level N
  kPasswd,   // --user-passwd NAME
  kDisable,  // --user-disable NAME
  kList,     // --user-list
};

// What the program was asked to do on its command line (Qt's own options already taken out).
struct ProgramOptions {
  // A site settings file to read instead of /etc/orvandel/orvandel.ini; it must pass the same
  // checks (root's, writable by root alone).
  std::optional<std::filesystem::path> site_settings;
  bool help = false;
  bool version = false;
  // --site-check: report what an installer must fix at this site, and exit.
  bool site_check = false;
  // --notify-test [RULE]: a test through each recipient of every rule (or of RULE), and exit.
  bool notify_test = false;
  std::string notify_rule;
  // --check-settings [FILE]: every site setting with where it came from, the wrong ones refused
  // with file and line; FILE instead of the site's settings.
  bool check_settings = false;
  std::optional<std::filesystem::path> check_file;
  // --take-over-lock, with --state-folder: the service's start step as root (site/lock_step.h).
  bool take_over_lock = false;
  // Run without a window: connect at once, keep connected, print events and link changes.
  bool headless = false;
  // With headless: this port instead of the configured one, for this run only.
  std::optional<int> port;
  // The window opens the port itself even where a service answers.
  bool standalone = false;
  // SYSINI and DATA in this folder instead of beside the program (the service of a site).
  std::optional<std::filesystem::path> state_folder;
  // --instance NAME: one controller of several at a site (config/instance.h): the service's
  // folder, settings and socket, the socket a window attaches to.
  std::optional<std::string> instance;
  // --verbose: the libraries' own messages too (Qt, its plugins, the sound server).
  bool verbose = false;
  // The service's socket for windows: the window attaches there, the service listens there.
  std::optional<std::string> socket;
  JournalCommand journal_command = JournalCommand::kNone;
  // --from, --to and --kind of an export.
  JournalFilter journal_filter;
  // --journal-anchor of a verify: the head to compare with instead of the system journal's.
  std::optional<JournalAnchor> journal_anchor;
  // The operators and their levels from this file instead of /etc/orvandel/users, with the same
  // checks.
  std::optional<std::filesystem::path> users_file;
  UserCommand user_command = UserCommand::kNone;
  // --handover-report [--since TIME] [--format text|csv|pdf] [--output FILE].
  bool handover_report = false;
  std::optional<std::int64_t> handover_since_ms;
  std::string handover_format = "text";
  std::optional<std::filesystem::path> handover_output;
  std::string user_name;  // the operator of --user-add, --user-passwd, --user-disable
  int user_level = 0;     // --level of --user-add
};

struct ParsedOptions {
  ProgramOptions options;
  std::string error;  // one line; empty when the command line was understood
};

// Dates in --from and --to are local time, converted through local_to_utc.
ParsedOptions ParseProgramOptions(const std::vector<std::string>& args,
                                  const LocalToUtcFn& local_to_utc = SystemLocalToUtc);

// The --help text.
std::string ProgramUsage();
// The --version line: "orvandel 2.16.8".
std::string ProgramVersion();

// Said, with exit status 2, when the window is asked for where there is no display.
inline constexpr const char* kNoDisplay =
    "no display: run `orvandel --headless` to run without a window";
// True when a window could be shown: a display (X11 or Wayland) is named, or Qt is told which
// platform to use.
bool HasDisplay(const char* display, const char* wayland_display, const char* qt_platform);

}  // namespace orv
