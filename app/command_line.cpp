#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "config/configuration.h"
#include "config/instance.h"

namespace orv {

namespace {

QString Q(const char* text) {
  return QString::fromLatin1(text);
}

// Qt's own options, taken by the application object once it exists: known here so that a
// window started with -platform or -geometry is not refused before that.
const char* const kQtValueOptions[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowtitle", "qwindowicon",        "geometry",      "title",  "display",
    "style",        "stylesheet",         "session",       "name",   "qmljsdebugger"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// --handover-report and its options; the error, or empty.
std::string HandoverOptions(const QCommandLineParser& parser, const QCommandLineOption& handover,
                            const QCommandLineOption& since, const QCommandLineOption& format,
                            const QCommandLineOption& output, const LocalToUtcFn& local_to_utc,
                            ProgramOptions& options) {
  options.handover_report = parser.isSet(handover);
  if (!options.handover_report) {
    for (const auto* own : {&since, &format, &output})
      if (parser.isSet(*own)) return "--since, --format and --output go with --handover-report";
    return {};
  }
  if (options.headless || options.site_check || options.check_settings || options.notify_test ||
      options.take_over_lock || options.journal_command != JournalCommand::kNone ||
      options.user_command != UserCommand::kNone || options.socket || options.standalone)
    return "--handover-report goes alone, or with --state-folder, --since, --format and --output";
  if (parser.isSet(since)) {
    std::string error;
    const JournalDateSpan span =
        ParseJournalDate(parser.value(since).toStdString(), local_to_utc, error);
    if (!error.empty()) return "--since: " + error;
    options.handover_since_ms = span.first_ms;
  }
  if (parser.isSet(format)) {
    options.handover_format = parser.value(format).toStdString();
    if (options.handover_format != "text" && options.handover_format != "csv" &&
        options.handover_format != "pdf")
      return "--format: \"" + options.handover_format + "\" is not text, csv or pdf";
  }
  if (parser.isSet(output))
    options.handover_output = std::filesystem::path(parser.value(output).toStdString());
  if (options.handover_format == "pdf" && !options.handover_output)
    return "--format pdf needs --output FILE";
  return {};
}

}  // namespace

ParsedOptions ParseProgramOptions(const std::vector<std::string>& args,
                                  const LocalToUtcFn& local_to_utc) {
  ParsedOptions parsed;
  ProgramOptions& options = parsed.options;
  // An option that takes a value, last on the line or given an empty one, is named by what it
  // needs.
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool missing = i + 1 >= args.size() || args[i + 1].empty();
    if (!missing) continue;
    if (arg == "--site-settings") parsed.error = "--site-settings needs a file";
    if (arg == "--kind") parsed.error = "--kind needs a kind";
    if (arg == "--text") parsed.error = "--text needs a text";
    if (arg == "--socket") parsed.error = "--socket needs a path";
    if (arg == "--state-folder") parsed.error = "--state-folder needs a folder";
    if (arg == "--instance") parsed.error = "--instance needs a name";
    if (arg == "--journal-anchor") parsed.error = "--journal-anchor needs SEQ:HEX";
    if (arg == "--users-file") parsed.error = "--users-file needs a file";
    if (arg == "--level") parsed.error = "--level needs 2 or 3";
    if (arg == "--user-add" || arg == "--user-passwd" || arg == "--user-disable")
      parsed.error = arg + " needs an operator's name";
    if (arg == "--from" || arg == "--to" || arg == "--since") parsed.error = arg + " needs a date";
    if (arg == "--format") parsed.error = "--format needs text, csv or pdf";
    if (arg == "--output") parsed.error = "--output needs a file";
    if (arg == "--port")
      parsed.error = "--port needs COM" + std::to_string(kFirstComPort) + " to COM" +
                     std::to_string(kLastComPort);
    if (!parsed.error.empty()) return parsed;
  }

  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{Q("h"), Q("help")});
  const QCommandLineOption version(QStringList{Q("v"), Q("version")});
  const QCommandLineOption site(Q("site-settings"), {}, Q("file"));
  const QCommandLineOption headless(Q("headless"));
  const QCommandLineOption port(Q("port"), {}, Q("port"));
  const QCommandLineOption export_journal(Q("journal-export"));
  const QCommandLineOption verify_journal(Q("journal-verify"));
  const QCommandLineOption from(Q("from"), {}, Q("date"));
  const QCommandLineOption to(Q("to"), {}, Q("date"));
  const QCommandLineOption kind(Q("kind"), {}, Q("kind"));
  const QCommandLineOption text(Q("text"), {}, Q("text"));
  const QCommandLineOption anchor(Q("journal-anchor"), {}, Q("anchor"));
  const QCommandLineOption standalone(Q("standalone"));
  const QCommandLineOption socket(Q("socket"), {}, Q("path"));
  const QCommandLineOption state_folder(Q("state-folder"), {}, Q("folder"));
  const QCommandLineOption instance(Q("instance"), {}, Q("name"));
  const QCommandLineOption users_file(Q("users-file"), {}, Q("file"));
  const QCommandLineOption user_add(Q("user-add"), {}, Q("name"));
  const QCommandLineOption user_passwd(Q("user-passwd"), {}, Q("name"));
  const QCommandLineOption user_disable(Q("user-disable"), {}, Q("name"));
  const QCommandLineOption user_list(Q("user-list"));
  const QCommandLineOption level(Q("level"), {}, Q("level"));
  const QCommandLineOption site_check(Q("site-check"));
  const QCommandLineOption take_over_lock(Q("take-over-lock"));
  const QCommandLineOption notify_test(Q("notify-test"));
  const QCommandLineOption check_settings(Q("check-settings"));
  parser.addOptions({help,           version,        site,         headless,     port,
                     export_journal, verify_journal, from,         to,           kind,
                     anchor,         standalone,     socket,       state_folder, users_file,
                     user_add,       user_passwd,    user_disable, user_list,    level});
  parser.addOption(site_check);
  parser.addOption(take_over_lock);
  parser.addOption(text);
  parser.addOption(notify_test);
  const QCommandLineOption verbose(Q("verbose"));
  parser.addOption(verbose);
  parser.addOption(check_settings);
  const QCommandLineOption handover(Q("handover-report"));
  const QCommandLineOption since(Q("since"), {}, Q("date"));
  const QCommandLineOption format(Q("format"), {}, Q("format"));
  const QCommandLineOption output(Q("output"), {}, Q("file"));
  parser.addOptions({handover, since, format, output});
  parser.addOption(instance);
  for (const char* name : kQtValueOptions)
    parser.addOption(QCommandLineOption(Q(name), {}, Q("value")));
  for (const char* name : kQtFlagOptions)
    parser.addOption(QCommandLineOption(Q(name)));

  QStringList list{Q("orvandel")};
  for (const std::string& arg : args)
    list << QString::fromLocal8Bit(arg.data(), static_cast<qsizetype>(arg.size()));
  if (!parser.parse(list)) {
    const QStringList unknown = parser.unknownOptionNames();
    const std::string name = unknown.isEmpty() ? std::string() : unknown.front().toStdString();
    // The option as it was typed, with its dashes.
    std::string typed = name.size() == 1 ? "-" + name : "--" + name;
    for (const std::string& arg : args) {
      if (arg == "-" + name || arg == "--" + name || arg.starts_with("--" + name + "="))
        typed = arg;
    }
    parsed.error = unknown.isEmpty() ? parser.errorText().toStdString()
                                     : "unknown option \"" + typed + "\" (see --help)";
    return parsed;
  }
  options.notify_test = parser.isSet(notify_test);
  options.check_settings = parser.isSet(check_settings);
  // The one word that may stand alone: the rule to test, or the file to check.
  if (options.notify_test && parser.positionalArguments().size() == 1)
    options.notify_rule = parser.positionalArguments().front().toStdString();
  else if (options.check_settings && parser.positionalArguments().size() == 1)
    options.check_file = std::filesystem::path(parser.positionalArguments().front().toStdString());
  else if (!parser.positionalArguments().isEmpty()) {
    parsed.error = "unknown option \"" + parser.positionalArguments().front().toStdString() +
                   "\" (see --help)";
    return parsed;
  }
  options.help = parser.isSet(help);
  options.version = parser.isSet(version);
  options.site_check = parser.isSet(site_check);
  options.take_over_lock = parser.isSet(take_over_lock);
  options.headless = parser.isSet(headless);
  options.standalone = parser.isSet(standalone);
  options.verbose = parser.isSet(verbose);
  if (parser.isSet(socket)) options.socket = parser.value(socket).toStdString();
  if (parser.isSet(state_folder))
    options.state_folder = std::filesystem::path(parser.value(state_folder).toStdString());
  if (parser.isSet(instance)) {
    options.instance = parser.value(instance).toStdString();
    if (!InstanceNameProblem(*options.instance).empty()) {
      parsed.error = InstanceNameRefusal(*options.instance);
      return parsed;
    }
  }
  if (parser.isSet(site))
    options.site_settings = std::filesystem::path(parser.value(site).toStdString());
  if (parser.isSet(users_file))
    options.users_file = std::filesystem::path(parser.value(users_file).toStdString());
  int user_commands = 0;
  for (const auto& [option, command] :
       {std::pair{&user_add, UserCommand::kAdd}, std::pair{&user_passwd, UserCommand::kPasswd},
        std::pair{&user_disable, UserCommand::kDisable},
        std::pair{&user_list, UserCommand::kList}}) {
    if (!parser.isSet(*option)) continue;
    ++user_commands;
    options.user_command = command;
    if (command != UserCommand::kList) options.user_name = parser.value(*option).toStdString();
  }
  if (user_commands > 1) {
    parsed.error = "--user-add, --user-passwd, --user-disable and --user-list cannot be combined";
    return parsed;
  }
  if (parser.isSet(level) != (options.user_command == UserCommand::kAdd)) {
    parsed.error = "--user-add needs --level 2 or 3, and --level goes with --user-add";
    return parsed;
  }
  if (parser.isSet(level)) {
    const QString value = parser.value(level);
    if (value != Q("2") && value != Q("3")) {
      parsed.error = "--level needs 2 or 3, not \"" + value.toStdString() + "\"";
      return parsed;
    }
    options.user_level = value.toInt();
  }
  if (options.user_command != UserCommand::kNone &&
      (options.headless || parser.isSet(export_journal) || parser.isSet(verify_journal))) {
    parsed.error =
        "the operator commands cannot be combined with --headless or the journal "
        "commands";
    return parsed;
  }
  if (parser.isSet(export_journal) && parser.isSet(verify_journal)) {
    parsed.error = "--journal-export and --journal-verify cannot be combined";
    return parsed;
  }
  if (parser.isSet(export_journal)) options.journal_command = JournalCommand::kExport;
  if (parser.isSet(verify_journal)) options.journal_command = JournalCommand::kVerify;
  // Each bound takes in the whole day, minute or second it names.
  for (const auto* bound : {&from, &to}) {
    if (!parser.isSet(*bound)) continue;
    const std::string name = bound == &from ? "--from" : "--to";
    std::string error;
    const JournalDateSpan span =
        ParseJournalDate(parser.value(*bound).toStdString(), local_to_utc, error);
    if (!error.empty()) {
      parsed.error = name + ": " + error;
      return parsed;
    }
    if (bound == &from) {
      options.journal_filter.from_utc_ms = span.first_ms;
    } else {
      options.journal_filter.to_utc_ms = span.last_ms;
    }
  }
  if (parser.isSet(kind)) {
    const std::string value = parser.value(kind).toStdString();
    JournalKind k{};
    if (!ParseJournalKind(value, k)) {
      parsed.error = "--kind: \"" + value + "\" is not event, operator, link or program";
      return parsed;
    }
    options.journal_filter.kind = k;
  }
  if (parser.isSet(text)) options.journal_filter.text = parser.value(text).toStdString();
  if (parser.isSet(anchor)) {
    const std::string value = parser.value(anchor).toStdString();
    JournalAnchor head;
    if (!ParseJournalAnchor(value, head)) {
      parsed.error =
          "--journal-anchor needs SEQ:HEX (a record's number, a colon and its chain value as 64 "
          "hex digits), not \"" +
          value + "\"";
      return parsed;
    }
    options.journal_anchor = head;
  }
  if (parser.isSet(port)) {
    const std::string value = parser.value(port).toStdString();
    int number = 0;
    const bool com = value.size() >= 4 && value.size() <= 5 && value.compare(0, 3, "COM") == 0 &&
                     value.find_first_not_of("0123456789", 3) == std::string::npos &&
                     value[3] != '0';
    if (com) number = std::stoi(value.substr(3));
    if (!com || number < kFirstComPort || number > kLastComPort) {
      parsed.error = "--port needs COM" + std::to_string(kFirstComPort) + " to COM" +
                     std::to_string(kLastComPort) + ", not \"" + value + "\"";
      return parsed;
    }
    options.port = number;
  }
  if (const std::string error =
          HandoverOptions(parser, handover, since, format, output, local_to_utc, options);
      !error.empty()) {
    parsed.error = error;
    return parsed;
  }
  const bool filtered =
      parser.isSet(from) || parser.isSet(to) || parser.isSet(kind) || parser.isSet(text);
  if (options.instance && (options.state_folder || options.socket)) {
    parsed.error =
        "--instance names the folder and the socket itself: not with --state-folder or "
        "--socket";
  } else if (options.instance && options.user_command != UserCommand::kNone) {
    parsed.error =
        "the operators are the site's, the same for every instance: the operator "
        "commands go without --instance";
  } else if (options.site_check &&
             (options.headless || options.standalone || options.socket || options.state_folder ||
              options.instance || options.journal_command != JournalCommand::kNone ||
              options.user_command != UserCommand::kNone)) {
    parsed.error = "--site-check goes alone: it looks at the site as installed";
  } else if (options.take_over_lock &&
             ((!options.state_folder && !options.instance) || options.headless ||
              options.standalone || options.socket || options.site_check ||
              options.journal_command != JournalCommand::kNone ||
              options.user_command != UserCommand::kNone)) {
    parsed.error =
        "--take-over-lock goes with --state-folder or --instance alone: the service's start step";
  } else if (options.notify_test &&
             (options.headless || options.standalone || options.socket || options.site_check ||
              options.journal_command != JournalCommand::kNone ||
              options.user_command != UserCommand::kNone)) {
    parsed.error =
        "--notify-test goes alone, or with --site-settings, --state-folder or --instance";
  } else if (options.check_settings &&
             (options.headless || options.standalone || options.socket || options.site_check ||
              options.notify_test || options.take_over_lock ||
              options.journal_command != JournalCommand::kNone ||
              options.user_command != UserCommand::kNone)) {
    parsed.error =
        "--check-settings goes alone, or with --site-settings, --state-folder or --instance";
  } else if (options.port && !options.headless) {
    parsed.error = "--port is for --headless; the window chooses its port in the window";
  } else if (options.standalone && (options.headless || options.socket || options.instance)) {
    parsed.error = "--standalone is for the window, without --socket or --instance";
  } else if (options.headless && options.journal_command != JournalCommand::kNone) {
    parsed.error = "--headless and the journal commands cannot be combined";
  } else if (filtered && options.journal_command != JournalCommand::kExport) {
    parsed.error = "--from, --to, --kind and --text go with --journal-export";
  } else if (options.journal_anchor && options.journal_command != JournalCommand::kVerify) {
    parsed.error = "--journal-anchor goes with --journal-verify";
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
         "                        print every event and link change; SIGTERM or SIGINT stop it\n"
         "  --port COMn           with --headless: use COMn for this run instead of the\n"
         "                        configured port (the configuration is not changed)\n"
         "  --socket PATH         the service's socket for windows (/run/orvandel/panel.sock\n"
         "                        by default): a window attaches to the service there, and\n"
         "                        --headless listens there for windows (by default only\n"
         "                        where /run/orvandel exists)\n"
         "  --state-folder DIR    keep SYSINI and DATA in DIR instead of beside the program\n"
         "                        (the service of a site: /var/lib/orvandel)\n"
         "  --instance NAME       one controller of several at a site (orvandel@NAME): the\n"
         "                        service keeps SYSINI and DATA in /var/lib/orvandel/NAME,\n"
         "                        reads /etc/orvandel/NAME.ini before orvandel.ini and\n"
         "                        listens at /run/orvandel/NAME/panel.sock, where a window\n"
         "                        attaches; the journal commands, --check-settings,\n"
         "                        --notify-test and --take-over-lock take its files. NAME:\n"
         "                        lowercase letters, digits, - and _, at most 32\n"
         "  --standalone          open the port from this window even where a service\n"
         "                        answers at the socket (a window attaches by default)\n"
         "  --journal-export      write the journal (DATA/Journal.sqlite of --state-folder,\n"
         "                        else at a site the service's in /var/lib/orvandel, else\n"
         "                        the program folder's) to standard output as CSV (RFC\n"
         "                        4180, UTF-8), oldest record first, and exit; no window\n"
         "                        opens; a journal this user may not read is said so (run\n"
         "                        it as root), exit status 1. Columns:\n"
         "                        seq, time (ISO 8601 with the UTC offset), kind, text,\n"
         "                        user, host, raw frame, detail (the names)\n"
         "    --from DATE         only records from DATE on\n"
         "    --to DATE           only records up to the end of DATE\n"
         "                        DATE is local time: 2026-12-07 (the whole day),\n"
         "                        \"2026-12-07 14:03\" (the minute) or 2026-12-07T14:03:22\n"
         "    --kind KIND         only records of KIND: event, operator, link or program\n"
         "    --text TEXT         only records with TEXT in their text, detail or user, in\n"
         "                        either case (three characters or more use the index)\n"
         "  --journal-verify      check the journal's hash chain from its first record, and\n"
         "                        its end against the newest head anchored in the system\n"
         "                        journal, and exit: 0 with the count of good records, 1\n"
         "                        naming the first record that fails or what the anchor shows,\n"
         "                        3 when this user may not read the system journal's anchors\n"
         "                        (run it as root or a member of systemd-journal)\n"
         "    --journal-anchor SEQ:HEX\n"
         "                        compare with this head instead (journalctl shows the\n"
         "                        anchors: MESSAGE_ID=" +
         std::string(kJournalAnchorMessageId) +
         ")\n"
         "  --handover-report     the shift handover report from the journal, since the\n"
         "                        last sign-off (or the last 24 h): conditions standing,\n"
         "                        acknowledged and cleared, shelves ending within 8 h,\n"
         "                        refused actions, link losses, log-ins; read only\n"
         "    --since DATE        from DATE instead (as --from takes it)\n"
         "    --format FORMAT     text (the default), csv or pdf (pdf needs --output)\n"
         "    --output FILE       write to FILE instead of standard output\n"
         "  --users-file FILE     the operators and their access levels from FILE instead of\n"
         "                        /etc/orvandel/users; FILE must belong to root and be\n"
         "                        writable by root alone. Without the file access levels\n"
         "                        are off and every action is allowed\n"
         "  --user-add NAME --level N\n"
         "                        add operator NAME at access level N (2 or 3); the PIN, at\n"
         "                        least 4 digits, is asked twice at the terminal or read as\n"
         "                        one line from standard input. Root only, as are:\n"
         "  --user-passwd NAME    give operator NAME a new PIN\n"
         "  --user-disable NAME   keep operator NAME from logging in\n"
         "  --user-list           list the operators, their levels and who is disabled\n"
         "  --notify-test [RULE]  send a test through each recipient of every notification\n"
         "                        rule of the site's settings (or of RULE alone) and say,\n"
         "                        one line each, what came back; exit 0 when every one was\n"
         "                        delivered, 1 when one failed, 2 without such a rule\n"
         "  --check-settings [FILE]\n"
         "                        print every site setting with where it came from (file and\n"
         "                        line, or default) and each wrong value with its file, line\n"
         "                        and what it may be; FILE instead of the site's settings;\n"
         "                        exit 0 when nothing is wrong, 1 otherwise\n"
         "  --site-check          say, one line each, what an installer must fix at this site\n"
         "                        (the accounts and groups, the modes and owners of\n"
         "                        /var/lib/orvandel and /etc/orvandel, the service's port,\n"
         "                        the units' state), and exit: 0 when nothing, 1 otherwise;\n"
         "                        run it as root to see everything\n"
         "  --take-over-lock      with --state-folder DIR, as root before the service starts\n"
         "                        (its unit does it): judge the lock of the device the\n"
         "                        service asked about in DIR, remove it if its process does\n"
         "                        not have the device open, and leave a note for the service\n"
         "  --verbose             let the libraries' own messages through too (Qt, its\n"
         "                        plugins, the sound server), on the terminal and in the\n"
         "                        service's log; without it only the program's own come\n"
         "  --version, -v         the program's name and version\n"
         "  --help, -h            this text\n"
         "\n"
         "A command line that is not understood is answered with one line on standard error\n"
         "and exit status 2; so is a window asked for where there is no display.\n";
}

std::string ProgramVersion() {
  return std::string("orvandel ") + ORV_VERSION;
}

bool HasDisplay(const char* display, const char* wayland_display, const char* qt_platform) {
  auto named = [](const char* value) { return value != nullptr && *value != '\0'; };
  return named(display) || named(wayland_display) || named(qt_platform);
}

}  // namespace orv
