#include "sim/console.h"
#include "sim/numbers.h"

#include <array>
#include <optional>
#include <sstream>
#include <vector>

#include "link/frame.h"
#include "link/trigger_states.h"
#include "sim/describe.h"

namespace orv::sim {
namespace {

using Args = std::vector<std::string>;

struct Context {
  Controller& controller;
  const Args& args;  // the words after the command
  Millis now;
};

// Argument i as an integer in [low, high], or fallback when it is absent.
std::optional<long> IntegerArg(const Context& c, std::size_t i, long fallback, long low,
                               long high) {
  if (i >= c.args.size()) return fallback;
  const std::optional<long> value = ParseInteger(c.args[i]);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

std::optional<bool> OnOff(const std::string& word) {
  if (word == "on" || word == "1") return true;
  if (word == "off" || word == "0") return false;
  return std::nullopt;
}

std::optional<int> PageByName(const std::string& word) {
  static constexpr std::array<const char*, kPageCount> kNames{"emg", "bus", "soft", "bgm"};
  for (int page = 0; page < kPageCount; ++page) {
    if (word == kNames[static_cast<std::size_t>(page)] || word == std::to_string(page)) return page;
  }
  return std::nullopt;
}

ConsoleReply Usage(const char* usage) {
  return {std::string("usage: ") + usage};
}

ConsoleReply BadCrc(Context& c) {
  const std::optional<long> count = IntegerArg(c, 0, 1, 1, 1000);
  if (!count) return Usage("badcrc [N]");
  c.controller.shaper().BadCrcNext(static_cast<int>(*count));
  return {"the next " + std::to_string(*count) + " frame(s) carry a wrong CRC"};
}

ConsoleReply Split(Context& c) {
  const std::optional<long> pause = IntegerArg(c, 0, 200, 0, 60000);
  if (!pause) return Usage("split [MS]");
  c.controller.shaper().SplitNext(Millis{*pause});
  return {"the next frame goes out in two parts, " + std::to_string(*pause) + " ms apart"};
}

ConsoleReply Noise(Context& c) {
  const std::optional<long> count = IntegerArg(c, 0, FrameShaper::kNoiseLength, 1, 1000);
  if (!count) return Usage("noise [N]");
  c.controller.SendNoise(static_cast<int>(*count), c.now);
  return {std::to_string(*count) + " noise bytes"};
}

ConsoleReply Burst(Context& c) {
  const std::optional<long> count = IntegerArg(c, 0, 20, 1, 10000);
  if (!count) return Usage("burst [N]");
  c.controller.Burst(static_cast<int>(*count), c.now);
  return {"a burst of " + std::to_string(*count) + " report events"};
}

ConsoleReply Silence(Context& c) {
  const std::optional<double> seconds = c.args.empty() ? std::nullopt : ParseSeconds(c.args[0]);
  if (!seconds) return Usage("silence SECONDS");
  c.controller.Silence(Millis{static_cast<long>(*seconds * 1000.0)}, c.now);
  return {"silent for " + c.args[0] + " s: no answers, no reports"};
}

ConsoleReply Unknown(Context& c) {
  c.controller.SendUnknownCommand(c.now);
  return {"a frame with an unknown command"};
}

ConsoleReply LongLen(Context& c) {
  const std::optional<long> length = IntegerArg(c, 0, Controller::kDefaultLongLength, 102, 255);
  if (!length) return Usage("longlen [LEN 102..255]");
  c.controller.SendLongFrame(static_cast<int>(*length), c.now);
  return {"a frame with LEN " + std::to_string(*length)};
}

// The lamp as the window numbers it, 1 to 12.
ConsoleReply Fault(Context& c) {
  const std::optional<long> number = IntegerArg(c, 0, 0, 1, kFaultLamps);
  const std::optional<bool> on = c.args.size() == 2 ? OnOff(c.args[1]) : std::nullopt;
  if (c.args.size() != 2 || !number || !on ||
      !c.controller.SetFault(static_cast<int>(*number) - 1, *on, c.now))
    return Usage("fault LAMP(1-12) on|off");
  return {"fault " + LampName(static_cast<int>(*number) - 1) + (*on ? " on" : " off")};
}

ConsoleReply Trigger(Context& c) {
  const bool three = c.args.size() == 3;
  const std::optional<int> page = three ? PageByName(c.args[0]) : std::nullopt;
  const std::optional<long> n = three ? ParseInteger(c.args[1]) : std::nullopt;
  const std::optional<bool> on = three ? OnOff(c.args[2]) : std::nullopt;
  if (!page || !n || !on || !c.controller.SetTrigger(*page, static_cast<int>(*n), *on, c.now))
    return Usage("trigger emg|bus|soft|bgm N on|off");
  return {"trigger set"};
}

ConsoleReply Event(Context& c) {
  const std::optional<long> code = c.args.size() == 2 ? ParseInteger(c.args[0]) : std::nullopt;
  const std::optional<long> value = c.args.size() == 2 ? ParseInteger(c.args[1]) : std::nullopt;
  if (!code || !value || *code < 0 || *code > 0xFF || *value < 0 || *value > 0xFFFF)
    return Usage("event CODE(0-0xFF) VALUE(0-0xFFFF)");
  const auto kind = static_cast<std::uint8_t>(*code);
  const auto word = static_cast<std::uint16_t>(*value);
  c.controller.SendReport(kind, word, c.now);
  return {DescribeReport(kind, word)};
}

ConsoleReply Interval(Context& c) {
  const std::optional<double> seconds = c.args.empty() ? std::nullopt : ParseSeconds(c.args[0]);
  if (!seconds) return Usage("interval SECONDS (0 = no spontaneous reports)");
  c.controller.SetReportInterval(*seconds, c.now);
  return {"spontaneous reports every " + c.args[0] + " s on average"};
}

std::string PageStates(const ControllerState& state, int page) {
  const std::uint8_t command = kTriggerPages[static_cast<std::size_t>(page)].status_request;
  return DescribeSent(command, state.PageImage(page));
}

ConsoleReply State(Context& c) {
  const ControllerState& s = c.controller.state();
  const std::array<std::uint8_t, 2> image = s.FaultImage();
  std::string text = DescribeSent(cmd::kFaultImage, image) + "\n";
  text += std::string("emergency ") + (s.emergency() ? "on" : "off") +
          (s.emergency_acknowledged() ? " (acknowledged)" : "") + ", supervision " +
          (s.supervision_on() ? "on" : "off") + ", time " + std::to_string(s.supervision_time()) +
          " s";
  for (int page = 0; page < kPageCount; ++page)
    text += "\n" + PageStates(s, page);
  return {text};
}

std::string LampList() {
  std::string text = "Lamps:";
  for (int lamp = 0; lamp < kFaultLamps; ++lamp) {
    text += (lamp % 6 == 0 ? "\n  " : ", ") + LampName(lamp);
  }
  return text + "\n";
}

ConsoleReply Help(Context&) {
  return {ConsoleHelp()};
}
ConsoleReply Quit(Context&) {
  return {"bye", true};
}

struct ConsoleCommand {
  const char* name;
  ConsoleReply (*run)(Context&);
};

constexpr std::array<ConsoleCommand, 15> kCommands{{
    {"badcrc", BadCrc},
    {"split", Split},
    {"noise", Noise},
    {"burst", Burst},
    {"silence", Silence},
    {"unknown", Unknown},
    {"longlen", LongLen},
    {"fault", Fault},
    {"trigger", Trigger},
    {"event", Event},
    {"interval", Interval},
    {"state", State},
    {"help", Help},
    {"quit", Quit},
    {"exit", Quit},
}};

}  // namespace

ConsoleReply RunConsoleLine(Controller& controller, const std::string& line, Millis now) {
  std::istringstream in(line);
  std::string name;
  if (!(in >> name)) return {};
  Args args;
  for (std::string word; in >> word;)
    args.push_back(word);
  Context context{controller, args, now};
  for (const ConsoleCommand& command : kCommands) {
    if (name == command.name) return command.run(context);
  }
  return {"unknown command \"" + name + "\"; type help"};
}

std::string ConsoleHelp() {
  return "Commands on standard input:\n"
         "  badcrc [N]             the next N frames (default 1) carry a wrong CRC\n"
         "  split [MS]             the next frame goes out in two parts MS ms apart (default 200)\n"
         "  noise [N]              N random bytes between frames now (default 5)\n"
         "  burst [N]              N report events at once (default 20)\n"
         "  silence SECONDS        send nothing for that long: no answers, no reports\n"
         "  unknown                a frame with a command code the panel does not know\n"
         "  longlen [LEN]          a frame with LEN above 101 (default 120, up to 255)\n"
         "  fault LAMP on|off      set a system fault (lamp 1-12, as the window numbers them);\n"
         "                         reports 'P' and 0x21\n"
         "  trigger PAGE N on|off  PAGE emg, bus, soft or bgm; reports as a set command does\n"
         "  event CODE VALUE       send report CODE with the 16-bit VALUE (0x.. for hex)\n"
         "  interval SECONDS       mean time between spontaneous reports, 0 = none\n"
         "  state                  show faults, emergency, supervision and trigger states\n"
         "  help                   this list\n"
         "  quit                   end the simulator (so do exit, Ctrl-C and SIGTERM)\n" +
         LampList();
}

}  // namespace orv::sim
