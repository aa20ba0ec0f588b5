#include "app/command_line.h"

#include "config/configuration.h"

namespace orv {

ParsedOptions ParseProgramOptions(const std::vector<std::string>& args,
                                  const LocalToUtcFn& local_to_utc) {
  ParsedOptions parsed;
  ProgramOptions& options = parsed.options;
  bool filtered = false;  // --from, --to or --kind seen
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takes_value =
        arg == "--site-settings" || arg == "--from" || arg == "--to" || arg == "--kind" ||
        arg == "--journal-anchor";
    if (takes_value && (i + 1 >= args.size() || args[i + 1].empty())) {
      parsed.error = arg + (arg == "--site-settings" ? " needs a file"
                            : arg == "--kind"        ? " needs a kind"
                            : arg == "--journal-anchor" ? " needs SEQ:HEX"
                                                     : " needs a date");
      return parsed;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--site-settings") {
      options.site_settings = std::filesystem::path(args[++i]);
    } else if (arg == "--journal-export" || arg == "--journal-verify") {
      const JournalCommand command =
          arg == "--journal-export" ? JournalCommand::kExport : JournalCommand::kVerify;
      if (options.journal_command != JournalCommand::kNone && options.journal_command != command) {
        parsed.error = "--journal-export and --journal-verify cannot be combined";
        return parsed;
      }
      options.journal_command = command;
    } else if (arg == "--from" || arg == "--to") {
      std::string error;
      const JournalDateSpan span = ParseJournalDate(args[++i], local_to_utc, error);
      if (!error.empty()) {
        parsed.error = arg + ": " + error;
        return parsed;
      }
      // Each bound takes in the whole day, minute or second it names.
      if (arg == "--from") {
        options.journal_filter.from_utc_ms = span.first_ms;
      } else {
        options.journal_filter.to_utc_ms = span.last_ms;
      }
      filtered = true;
    } else if (arg == "--kind") {
      JournalKind kind{};
      if (!ParseJournalKind(args[++i], kind)) {
        parsed.error = "--kind: \"" + args[i] + "\" is not event, operator, link or program";
        return parsed;
      }
      options.journal_filter.kind = kind;
      filtered = true;
    } else if (arg == "--journal-anchor") {
      JournalAnchor anchor;
      if (!ParseJournalAnchor(args[++i], anchor)) {
        parsed.error = "--journal-anchor needs SEQ:HEX (a record's number, a colon and its chain "
                       "value as 64 hex digits), not \"" + args[i] + "\"";
        return parsed;
      }
      options.journal_anchor = anchor;
    } else if (arg == "--headless") {
      options.headless = true;
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
      options.port = number;
    } else {
      parsed.error = "unknown option \"" + arg + "\" (see --help)";
      return parsed;
    }
  }
  if (options.port && !options.headless) {
    parsed.error = "--port is for --headless; the window chooses its port in the window";
  } else if (options.headless && options.journal_command != JournalCommand::kNone) {
    parsed.error = "--headless and the journal commands cannot be combined";
  } else if (filtered && options.journal_command != JournalCommand::kExport) {
    parsed.error = "--from, --to and --kind go with --journal-export";
  } else if (options.journal_anchor && options.journal_command != JournalCommand::kVerify) {
    parsed.error = "--journal-anchor goes with --journal-verify";
  }
  return parsed;
}

bool AsksForJournalCommand(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--journal-export" || arg == "--journal-verify") return true;
  }
  return false;
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
         "                        print every event and link change; SIGTERM or SIGINT stop it\n"
         "  --port COMn           with --headless: use COMn for this run instead of the\n"
         "                        configured port (the configuration is not changed)\n"
         "  --journal-export      write the journal (DATA/Journal.sqlite in the program's\n"
         "                        folder) to standard output as CSV (RFC 4180, UTF-8),\n"
         "                        oldest record first, and exit; no window opens. Columns:\n"
         "                        seq, time (ISO 8601 with the UTC offset), kind, text,\n"
         "                        user, host, raw frame\n"
         "    --from DATE         only records from DATE on\n"
         "    --to DATE           only records up to the end of DATE\n"
         "                        DATE is local time: 2026-12-07 (the whole day),\n"
         "                        \"2026-12-07 14:03\" (the minute) or 2026-12-07T14:03:22\n"
         "    --kind KIND         only records of KIND: event, operator, link or program\n"
         "  --journal-verify      check the journal's hash chain from its first record, and\n"
         "                        its end against the newest head anchored in the system\n"
         "                        journal, and exit: 0 with the count of good records, 1\n"
         "                        naming the first record that fails or what the anchor shows\n"
         "    --journal-anchor SEQ:HEX\n"
         "                        compare with this head instead (journalctl shows the\n"
         "                        anchors: MESSAGE_ID=" +
         std::string(kJournalAnchorMessageId) +
         ")\n"
         "  --help, -h            this text\n"
         "\n"
         "A command line that is not understood is answered with one line on standard error\n"
         "and exit status 2.\n";
}

}  // namespace orv
