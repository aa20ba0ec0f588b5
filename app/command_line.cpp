#include "app/command_line.h"

#include "config/configuration.h"

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
    } else if (arg == "--headless") {
      parsed.options.headless = true;
    } else if (arg == "--port") {
      const std::string value = i + 1 < args.size() ? args[++i] : "";
      int number = 0;
      const bool com = value.size() >= 4 && value.size() <= 5 && value.compare(0, 3, "COM") == 0 &&
                       value.find_first_not_of("0123456789", 3) == std::string::npos &&
                       value[3] != '0';
      if (com) number = std::stoi(value.substr(3));
      if (!com || number < kFirstComPort || number > kLastComPort) {
        parsed.error = "--port needs COM" + std::to_string(kFirstComPort) + " to COM" +
                       std::to_string(kLastComPort) +
                       (value.empty() ? std::string() : ", not \"" + value + "\"");
        return parsed;
      }
      parsed.options.port = number;
    } else {
      parsed.error = "unknown option \"" + arg + "\" (see --help)";
      return parsed;
    }
  }
  if (parsed.options.port && !parsed.options.headless) {
    parsed.error = "--port is for --headless; the window chooses its port in the window";
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
         "  --headless            run without a window (no display needed): connect to the\n"
         "                        configured port at once, keep connected (a failed or lost\n"
         "                        port is tried again after 5 s, then up to every 60 s), and\n"
         "                        print every event and link change; SIGTERM or SIGINT stops\n"
         "  --port COMn           with --headless: use COMn for this run instead of the\n"
         "                        configured port (the configuration is not changed)\n"
         "  --help, -h            this text\n";
}

}  // namespace orv
