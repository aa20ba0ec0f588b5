#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orv {

// What the program was asked to do on its command line (Qt's own options already taken out).
struct ProgramOptions {
  // A site settings file to read instead of /etc/orvandel/orvandel.ini; it must pass the same
  // checks (root's, writable by root alone).
  std::optional<std::filesystem::path> site_settings;
  bool help = false;
  // Run without a window: connect at once, keep connected, print events and link changes.
  bool headless = false;
  // With headless: this port instead of the configured one, for this run only.
  std::optional<int> port;
};

struct ParsedOptions {
  ProgramOptions options;
  std::string error;  // one line; empty when the command line was understood
};

ParsedOptions ParseProgramOptions(const std::vector<std::string>& args);

// The --help text.
std::string ProgramUsage();

}  // namespace orv
