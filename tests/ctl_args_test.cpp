// orvandelctl's command line: what each command takes, and every misuse refused with a word
// (a script's typo must not silently act or silently ask for nothing).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ctl/ctl_args.h"

namespace orv {
namespace {

CtlOptions Expect(CtlCommand command) {
  CtlOptions o;
  o.command = command;
  o.socket = "/run/orvandel/panel.sock";
  return o;
}

// The socket named on the command line (--socket, --instance).
CtlOptions Expect(CtlCommand command, std::string socket, std::string instance = {}) {
  CtlOptions o = Expect(command);
  o.socket = std::move(socket);
  o.socket_named = true;
  o.instance = std::move(instance);
  return o;
}

TEST(CtlArgs, EachCommandTakesItsOwnOperandsAndOptions) {
  const auto with = [](CtlOptions o, auto set) {
    set(o);
    return o;
  };
  const struct {
    std::vector<std::string> args;
    CtlOptions expected;
  } cases[] = {
      {{"status"}, Expect(CtlCommand::kStatus)},
      {{"--socket", "/tmp/p.sock", "status", "--json"},
       with(Expect(CtlCommand::kStatus, "/tmp/p.sock"), [](CtlOptions& o) { o.json = true; })},
      {{"watch", "-s", "/x"}, Expect(CtlCommand::kWatch, "/x")},
      {{"events", "--since", "2026-12-07 14:03", "--json"},
       with(Expect(CtlCommand::kEvents),
            [](CtlOptions& o) { o.since = "2026-12-07 14:03", o.json = true; })},
      {{"silence"}, Expect(CtlCommand::kSilence)},
      {{"ack", "fault-4"},
       with(Expect(CtlCommand::kAcknowledge), [](CtlOptions& o) { o.condition = "fault-4"; })},
      {{"ack", "--comment", "-- seen", "alarm-2"},
       with(Expect(CtlCommand::kAcknowledge),
            [](CtlOptions& o) { o.condition = "alarm-2", o.text = "-- seen"; })},
      {{"shelve", "fault-4", "--minutes", "1440", "--reason", "works"},
       with(Expect(CtlCommand::kShelve),
            [](CtlOptions& o) { o.condition = "fault-4", o.minutes = 1440, o.text = "works"; })},
      {{"key", "Fault-ACK"}, with(Expect(CtlCommand::kKey), [](CtlOptions& o) { o.key = 4; })},
      {{"key", "emg_message"}, with(Expect(CtlCommand::kKey), [](CtlOptions& o) { o.key = 6; })},
      {{"key", "EMG Reset"}, with(Expect(CtlCommand::kKey), [](CtlOptions& o) { o.key = 3; })},
      {{"key", "emg"}, with(Expect(CtlCommand::kKey), [](CtlOptions& o) { o.key = 1; })},
      {{"login", "alice"},
       with(Expect(CtlCommand::kLogIn), [](CtlOptions& o) { o.name = "alice"; })},
      {{"logout"}, Expect(CtlCommand::kLogOut)},
      {{"--instance", "b", "status"},
       Expect(CtlCommand::kStatus, "/run/orvandel/b/panel.sock", "b")},
      {{"watch", "-i", "hall-2"},
       Expect(CtlCommand::kWatch, "/run/orvandel/hall-2/panel.sock", "hall-2")},
      {{"status", "--help", "--frobnicate"}, Expect(CtlCommand::kHelp)},
  };
  for (const auto& c : cases) {
    std::string error;
    const CtlOptions got = ParseCtlArguments(c.args, error);
    EXPECT_EQ(error, "") << c.args[0];
    EXPECT_TRUE(got == c.expected) << c.args[0] << " " << got.socket << " " << got.key << " "
                                   << got.condition << "|" << got.text << "|" << got.minutes;
  }
}

TEST(CtlArgs, MisusesAreRefusedWithWhy) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{}, "no command given"},
      {{"stauts"}, "unknown command stauts"},
      {{"status", "now"}, "status takes no operand"},
      {{"ack"}, "ack takes one operand"},
      {{"key", "fault-ack", "emg"}, "key takes one operand"},
      {{"--frobnicate", "status"}, "unknown option --frobnicate"},
      {{"status", "--socket"}, "--socket needs a value"},
      {{"--socket", "", "status"}, "--socket needs a path"},
      {{"status", "--instance"}, "--instance needs a value"},
      {{"--instance", "", "status"}, "--instance \"\" cannot name an instance: it is empty"},
      {{"--instance", "../b", "status"},
       "--instance \"../b\" cannot name an instance: it may have only lowercase letters, digits, "
       "'-' and '_'"},
      {{"--instance", "b", "--socket", "/x", "status"},
       "--socket and --instance cannot be combined"},
      {{"--socket", "/x", "--instance", "b", "status"},
       "--socket and --instance cannot be combined"},
      {{"silence", "--json"}, "--json is for status, watch and events"},
      {{"events"}, "events needs --since, and only events takes it"},
      {{"status", "--since", "2026-12-07"}, "events needs --since, and only events takes it"},
      {{"shelve", "fault-4", "--minutes", "30"},
       "shelve needs --minutes and --reason, and only shelve takes them"},
      {{"ack", "fault-4", "--reason", "x"},
       "shelve needs --minutes and --reason, and only shelve takes them"},
      {{"silence", "--comment", "x"}, "only ack takes --comment"},
      {{"shelve", "f", "--minutes", "0", "--reason", "r"},
       "--minutes takes a whole number from 1 to 1440"},
      {{"shelve", "f", "--minutes", "1441", "--reason", "r"},
       "--minutes takes a whole number from 1 to 1440"},
      {{"shelve", "f", "--minutes", "30s", "--reason", "r"},
       "--minutes takes a whole number from 1 to 1440"},
      // Lamp test is an action of the table, but not a key.
      {{"key", "lamp-test"}, "no key lamp-test"},
      {{"key", "fault-ack-"}, "no key fault-ack-"},
      {{"login", "al ice"}, "no operator name: al ice"},
  };
  for (const auto& c : cases) {
    std::string error;
    ParseCtlArguments(c.args, error);
    EXPECT_EQ(error, c.error) << (c.args.empty() ? "" : c.args[0]);
  }
}

}  // namespace
}  // namespace orv
