#include "app/command_line.h"

namespace orv {

ParsedOptions ParseProgramOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.options.help = true;
    } else if (arg == "--site-settings") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        parsed.error = "--site-settings needs a file";
        return parsed;
      }
      parsed.options.site_settings = std::filesystem::path(args[++i]);
    } else {
      parsed.error = "unknown option \"" + arg + "\" (see --help)";
      return parsed;
    }
  }
  return parsed;
}

std::string ProgramUsage() {
  return "Usage: orvandel [options]\n"
         "The operator panel of the public-address and voice-alarm controller.\n"
         "\n"
         "  --site-settings FILE  read the site-wide settings (the port map) from FILE instead\n"
         "                        of /etc/orvandel/orvandel.ini; FILE must belong to root and\n"
         "                        be writable by root alone\n"
         "  --help, -h            this text\n";
}

}  // namespace orv
