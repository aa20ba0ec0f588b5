#include "sim/options.h"
#include "sim/numbers.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <array>

#include "sim/console.h"

namespace orv::sim {
namespace {

constexpr std::array<int, 10> kBauds{300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

std::optional<long> ParseCount(const std::string& text, long low, long high) {
  const std::optional<long> value = ParseInteger(text, 10);
  if (value && *value >= low && *value <= high) return value;
  return std::nullopt;
}

// Sets an integer option; false when the text is not a count in range.
bool SetCount(int& target, const std::string& text, long high = 1000000) {
  const std::optional<long> value = ParseCount(text, 0, high);
  if (value) target = static_cast<int>(*value);
  return value.has_value();
}

struct OptionRule {
  const char* name;
  bool takes_value;
  bool (*apply)(SimOptions&, const std::string&);
};

constexpr std::array<OptionRule, 18> kOptions{{
    {"--link", true,
     [](SimOptions& o, const std::string& v) {
       o.link_path = v;
       return !v.empty();
     }},
    {"--device", true,
     [](SimOptions& o, const std::string& v) {
       o.device_path = v;
       return !v.empty();
     }},
    {"--settings", true,
     [](SimOptions& o, const std::string& v) {
       const std::optional<LineSettings> line = ParseLineSettings(v);
       if (line) o.line = *line;
       return line.has_value();
     }},
    {"--seed", true,
     [](SimOptions& o, const std::string& v) {
       const std::optional<long> seed = ParseCount(v, 0, 0xFFFFFFFFL);
       if (seed) o.controller.seed = static_cast<std::uint32_t>(*seed);
       return seed.has_value();
     }},
    {"--report-interval", true,
     [](SimOptions& o, const std::string& v) {
       const std::optional<double> seconds = ParseSeconds(v);
       if (seconds) o.controller.report_interval_s = *seconds;
       return seconds.has_value();
     }},
    {"--quiet-reports", false,
     [](SimOptions& o, const std::string&) {
       o.controller.report_interval_s = 0;
       return true;
     }},
    {"--burst", true,
     [](SimOptions& o, const std::string& v) { return SetCount(o.start_burst, v); }},
    {"--reply-delay", true,
     [](SimOptions& o, const std::string& v) {
       return SetCount(o.controller.reply_delay_ms, v, 60000);
     }},
    {"--ack-commands", false,
     [](SimOptions& o, const std::string&) {
       o.controller.ack_commands = true;
       return true;
     }},
    {"--bad-crc-every", true,
     [](SimOptions& o, const std::string& v) {
       return SetCount(o.controller.line_faults.bad_crc_every, v);
     }},
    {"--split-every", true,
     [](SimOptions& o, const std::string& v) {
       return SetCount(o.controller.line_faults.split_every, v);
     }},
    {"--split-pause", true,
     [](SimOptions& o, const std::string& v) {
       return SetCount(o.controller.line_faults.split_pause_ms, v, 60000);
     }},
    {"--noise-every", true,
     [](SimOptions& o, const std::string& v) {
       return SetCount(o.controller.line_faults.noise_every, v);
     }},
    {"--no-answer-every", true,
     [](SimOptions& o, const std::string& v) { return SetCount(o.controller.no_answer_every, v); }},
    {"--unknown-every", true,
     [](SimOptions& o, const std::string& v) { return SetCount(o.controller.unknown_every, v); }},
    {"--long-len-every", true,
     [](SimOptions& o, const std::string& v) { return SetCount(o.controller.long_len_every, v); }},
    {"--help", false,
     [](SimOptions& o, const std::string&) {
       o.help = true;
       return true;
     }},
    {"-h", false,
     [](SimOptions& o, const std::string&) {
       o.help = true;
       return true;
     }},
}};

std::string CheckPorts(const SimOptions& options) {
  if (options.help) return "";
  if (options.link_path.empty() == options.device_path.empty())
    return "give exactly one of --link PATH and --device PATH";
  return "";
}

// The platform reader takes any settings text a port may carry; the simulator's termios line
// has only the standard rates and no mark, space or 1.5 stop bits.
std::string CheckLine(const LineSettings& line) {
  if (line.parity == Parity::kMark || line.parity == Parity::kSpace)
    return "--settings: mark and space parity are not supported, use N, E or O";
  if (line.stop_bits == StopBits::kOneAndHalf)
    return "--settings: 1.5 stop bits are not supported, use 1 or 2";
  if (std::find(kBauds.begin(), kBauds.end(), line.baud_rate) != kBauds.end()) return "";
  std::string rates;
  for (const int baud : kBauds)
    rates += (rates.empty() ? "" : ", ") + std::to_string(baud);
  return "--settings: baud rate " + std::to_string(line.baud_rate) + " is not one of " + rates;
}

}  // namespace

int BitsPerCharacter(const LineSettings& line) {
  return 1 + line.data_bits + (line.parity == Parity::kNone ? 0 : 1) +
         (line.stop_bits == StopBits::kTwo ? 2 : 1);
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  // Qt's parser takes the command line apart; the rules above say what each value means.
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  std::vector<QCommandLineOption> options;
  for (const OptionRule& rule : kOptions) {
    const QString name = QString::fromLatin1(rule.name).remove(QRegularExpression("^-+"));
    options.emplace_back(name, QString(), rule.takes_value ? QStringLiteral("value") : QString());
    parser.addOption(options.back());
  }
  QStringList list{QStringLiteral("orvandel-sim")};
  for (const std::string& arg : args)
    list << QString::fromStdString(arg);
  if (!parser.parse(list)) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
      return {parsed.options, "unknown option " + unknown.front().toStdString()};
    // A value missing: name the option as it was typed.
    for (const OptionRule& rule : kOptions) {
      if (!args.empty() && args.back() == rule.name && rule.takes_value)
        return {parsed.options, std::string(rule.name) + " needs a value"};
    }
    return {parsed.options, parser.errorText().toStdString()};
  }
  if (!parser.positionalArguments().isEmpty())
    return {parsed.options, "unknown option " + parser.positionalArguments().front().toStdString()};
  for (std::size_t i = 0; i < kOptions.size(); ++i) {
    if (!parser.isSet(options[i])) continue;
    const OptionRule& rule = kOptions[i];
    // The last of an option given twice counts, as it always did.
    const std::string value = rule.takes_value ? parser.value(options[i]).toStdString() : "";
    if (!rule.apply(parsed.options, value))
      return {parsed.options, "bad value for " + std::string(rule.name) + ": " + value};
  }
  parsed.error = CheckPorts(parsed.options);
  if (parsed.error.empty() && !parsed.options.help) parsed.error = CheckLine(parsed.options.line);
  return parsed;
}

std::string HelpText() {
  return "Usage: orvandel-sim (--link PATH | --device PATH) [options]\n"
         "A simulated controller for trying the Orvandel panel program out.\n"
         "\n"
         "Line:\n"
         "  --link PATH             open a pseudo-terminal and publish its slave side at PATH\n"
         "                          (a symbolic link, removed on exit)\n"
         "  --device PATH           use this serial device instead\n"
         "  --settings B,P,D,S      line settings (default 9600,N,8,1; baud 300 to 115200, a\n"
         "                          standard rate; parity N, E or O; data bits 5-8; stop bits\n"
         "                          1 or 2); everything sent is paced at this rate, one byte\n"
         "                          per start+data+parity+stop bit times\n"
         "\n"
         "Reports:\n"
         "  --seed N                seed of the random generator (default 1); the same seed and\n"
         "                          the same traffic give the same run\n"
         "  --report-interval S     mean seconds between spontaneous reports (default 2; each\n"
         "                          interval is drawn between half and 1.5 times it), 0 = none\n"
         "  --quiet-reports         the same as --report-interval 0\n"
         "  --burst N               send N report events right after start\n"
         "\n"
         "Answers:\n"
         "  --reply-delay MS        quiet line time before each answer (default 0)\n"
         "  --ack-commands          answer each set, key, supervision and impedance command\n"
         "                          with an empty frame of the same code (off by default)\n"
         "\n"
         "Misbehaviour (N counts the frames sent, or the status requests where said;\n"
         "0 = never, the default):\n"
         "  --bad-crc-every N       every Nth frame sent carries a wrong CRC\n"
         "  --split-every N         every Nth frame sent goes out in two parts with a pause\n"
         "  --split-pause MS        the pause inside a split frame (default 200)\n"
         "  --noise-every N         five random bytes go out before every Nth frame\n"
         "  --no-answer-every N     every Nth status request is left unanswered\n"
         "  --unknown-every N       a frame with an unknown command after the answer to\n"
         "                          every Nth status request\n"
         "  --long-len-every N      a frame with LEN 120 (above 101) after the answer to\n"
         "                          every Nth status request\n"
         "  --help, -h              this text\n"
         "\n"
         "What the controller does with the panel's commands:\n"
         "  6, 7, 8, 9, 10          answers with the fault image or the page's trigger states\n"
         "  18, 19, 20, 23          sets the trigger; the next status reply shows it; EMG and\n"
         "                          business triggers report 0x30+unit (EMG bits 0-5, business\n"
         "                          bits 6-11 of the unit), BGM channels 0x40+unit (bits 0-5);\n"
         "                          soft triggers report nothing\n"
         "  22 key 1 EMG            report 0x11, emergency on\n"
         "  22 key 2 EMG Ack        report 0x12\n"
         "  22 key 3 EMG Reset      report 0x13, emergency off\n"
         "  22 key 4 Fault Ack      report 0x22\n"
         "  22 key 5 Fault Reset    report 0x23, all faults cleared, then 'P' and 0x21\n"
         "  22 key 6 EMG Message    report 0x16 (EMG PTT); the emergency state is unchanged\n"
         "  16, 17                  supervision time and on/off are stored; with supervision\n"
         "                          on, no frame from the panel for that many seconds raises\n"
         "                          the RCP fault, and the next frame clears it\n"
         "  24 impedance check      2 s later a 'P' report and a 0x21 fault event with the\n"
         "                          faults as they are then\n"
         "Spontaneous reports: faults coming and going ('P' then 0x21 with the panel status\n"
         "word), triggers of units 0-9 (0x30-0x39 or 0x60-0x69), BGM channels (0x40-0x49 or\n"
         "0x80-0x89), alerts 0x14 and alarms 0x15.\n"
         "\n"
         "Each frame sent (TX) and received (RX) is printed as one line: time, direction, bytes\n"
         "and meaning.\n"
         "\n" +
         ConsoleHelp();
}

}  // namespace orv::sim
