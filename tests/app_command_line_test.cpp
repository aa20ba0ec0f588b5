// The program's command line: each option reaches its field, and what is not understood is
// refused with one line of reason. (The journal commands' options are the journal command's test.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/command_line.h"

namespace orv {
namespace {

TEST(ProgramOptions, EachOptionReachesItsFieldAndWhatIsNotUnderstoodHasAOneLineReason) {
  // The service's start step goes with its state folder alone.
  const std::string alone =
      "--take-over-lock goes with --state-folder or --instance alone: the service's start step";
  // Arguments; the error, or the site file, help, headless, the port (0: none), the operator
  // command with its name, level and users file, then "take" and the state folder when given.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "||||0|0  0 "},
      {{"--site-settings", "/srv/site.ini"}, "|/srv/site.ini|||0|0  0 "},
      {{"-h"}, "||help||0|0  0 "},
      {{"--help", "--site-settings", "a"}, "|a|help||0|0  0 "},
      {{"--headless"}, "|||headless|0|0  0 "},
      {{"--headless", "--port", "COM3"}, "|||headless|3|0  0 "},
      {{"--port", "COM10", "--headless"}, "|||headless|10|0  0 "},
      {{"--site-settings"}, "--site-settings needs a file"},
      {{"--site-settings", ""}, "--site-settings needs a file"},
      {{"--connect"}, "unknown option \"--connect\" (see --help)"},
      {{"COM1"}, "unknown option \"COM1\" (see --help)"},
      {{"--headless", "--port", "COM11"}, "--port needs COM1 to COM10, not \"COM11\""},
      {{"--headless", "--port", "COM01"}, "--port needs COM1 to COM10, not \"COM01\""},
      {{"--headless", "--port", "com1"}, "--port needs COM1 to COM10, not \"com1\""},
      {{"--headless", "--port"}, "--port needs COM1 to COM10"},
      {{"--port", "COM2"}, "--port is for --headless; the window chooses its port in the window"},
      {{"--user-add", "alice", "--level", "3"}, "||||0|1 alice 3 "},
      {{"--user-passwd", "bob", "--users-file", "/srv/users"}, "||||0|2 bob 0 /srv/users"},
      {{"--user-disable", "bob"}, "||||0|3 bob 0 "},
      {{"--user-list"}, "||||0|4  0 "},
      {{"--users-file", "/srv/users"}, "||||0|0  0 /srv/users"},
      {{"--user-add"}, "--user-add needs an operator's name"},
      {{"--user-add", "alice"},
       "--user-add needs --level 2 or 3, and --level goes with --user-add"},
      {{"--user-passwd", "a", "--level", "2"},
       "--user-add needs --level 2 or 3, and --level goes with --user-add"},
      {{"--user-add", "alice", "--level", "1"}, "--level needs 2 or 3, not \"1\""},
      {{"--user-list", "--user-disable", "a"},
       "--user-add, --user-passwd, --user-disable and --user-list cannot be combined"},
      {{"--user-list", "--headless"},
       "the operator commands cannot be combined with --headless or the journal commands"},
      {{"--take-over-lock", "--state-folder", "/var/lib/orvandel"},
       "||||0|0  0  take /var/lib/orvandel"},
      {{"--take-over-lock"}, alone},
      {{"--take-over-lock", "--state-folder", "/s", "--headless"}, alone},
      {{"--take-over-lock", "--state-folder", "/s", "--journal-verify"}, alone},
      {{"--take-over-lock", "--state-folder", "/s", "--user-list"}, alone},
      {{"--notify-test"}, "||||0|0  0  notify "},
      {{"--notify-test", "night"}, "||||0|0  0  notify night"},
      {{"night", "--notify-test"}, "||||0|0  0  notify night"},
      {{"--notify-test", "a", "b"}, "unknown option \"a\" (see --help)"},
      {{"--headless", "--verbose"}, "|||headless|0|0  0  verbose"},
      {{"--notify-test", "--headless"},
       "--notify-test goes alone, or with --site-settings, --state-folder or --instance"},
      {{"--check-settings"}, "||||0|0  0  check "},
      {{"--check-settings", "/srv/a.ini"}, "||||0|0  0  check /srv/a.ini"},
      {{"--check-settings", "--site-settings", "/s"}, "|/s|||0|0  0  check "},
      {{"--check-settings", "a", "b"}, "unknown option \"a\" (see --help)"},
      {{"--check-settings", "--headless"},
       "--check-settings goes alone, or with --site-settings, --state-folder or --instance"},
  };
  for (const auto& [args, expected] : cases) {
    const ParsedOptions parsed = ParseProgramOptions(args);
    const ProgramOptions& o = parsed.options;
    EXPECT_EQ(parsed.error.empty()
                  ? "|" + o.site_settings.value_or("").string() + "|" + (o.help ? "help" : "") +
                        "|" + (o.headless ? "headless" : "") + "|" +
                        std::to_string(o.port.value_or(0)) + "|" +
                        std::to_string(static_cast<int>(o.user_command)) + " " + o.user_name + " " +
                        std::to_string(o.user_level) + " " + o.users_file.value_or("").string() +
                        (o.take_over_lock ? " take" : "") +
                        (o.notify_test ? " notify " + o.notify_rule : "") +
                        (o.verbose ? " verbose" : "") +
                        (o.check_settings ? " check " + o.check_file.value_or("").string() : "") +
                        (o.state_folder ? " " + o.state_folder->string() : "")
                  : parsed.error,
              expected)
        << testing::PrintToString(args);
  }
  for (const char* option :
       {"--site-settings FILE", "--headless", "--port COMn", "--journal-export", "--from DATE",
        "--to DATE", "--kind KIND", "--journal-verify", "--take-over-lock", "--notify-test [RULE]",
        "--verbose", "--check-settings [FILE]"})
    EXPECT_NE(ProgramUsage().find(option), std::string::npos) << option;
}

// --instance takes a name the folders can take, and goes where it names what it would name; the
// name's own rule is the config room's test.
TEST(ProgramOptions, InstanceTakesANameAndGoesWhereItNamesTheFilesItself) {
  const std::string names_itself =
      "--instance names the folder and the socket itself: not with --state-folder or --socket";
  // Arguments; the error, or the instance's name with the start step's and the window's flags.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--instance", "b"}, "b"},
      {{"--headless", "--instance", "hall-2_east"}, "hall-2_east headless"},
      {{"--take-over-lock", "--instance", "b"}, "b take"},
      {{"--journal-export", "--instance", "b"}, "b"},
      {{"--check-settings", "--instance", "b"}, "b"},
      {{"--notify-test", "--instance", "b", "--site-settings", "/s.ini"}, "b"},
      {{"--instance"}, "--instance needs a name"},
      {{"--instance", ""}, "--instance needs a name"},
      {{"--instance", "B"},
       "--instance \"B\" cannot name an instance: it may have only lowercase letters, digits, '-' "
       "and '_'"},
      {{"--instance", "data"},
       "--instance \"data\" cannot name an instance: the plain service's files use that name"},
      {{"--instance", "b", "--state-folder", "/s"}, names_itself},
      {{"--instance", "b", "--socket", "/s.sock"}, names_itself},
      {{"--instance", "b", "--standalone"},
       "--standalone is for the window, without --socket or --instance"},
      {{"--instance", "b", "--site-check"},
       "--site-check goes alone: it looks at the site as installed"},
      {{"--instance", "b", "--user-list"},
       "the operators are the site's, the same for every instance: the operator commands go "
       "without --instance"},
  };
  for (const auto& [args, expected] : cases) {
    const ParsedOptions parsed = ParseProgramOptions(args);
    const ProgramOptions& o = parsed.options;
    EXPECT_EQ(parsed.error.empty() ? o.instance.value_or("-") + (o.headless ? " headless" : "") +
                                         (o.take_over_lock ? " take" : "")
                                   : parsed.error,
              expected)
        << testing::PrintToString(args);
  }
  EXPECT_NE(ProgramUsage().find("--instance NAME"), std::string::npos);
}

// Set but empty is no display: the program would abort in Qt instead of saying what to do.
TEST(ProgramOptions, ADisplayIsOneNamedInTheEnvironmentNotOneMerelySet) {
  // DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM (nullptr: unset); whether there is a display.
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {nullptr, nullptr, nullptr, false}, {"", "", "", false},
      {":0", nullptr, nullptr, true},     {"", "wayland-0", nullptr, true},
      {nullptr, "", "offscreen", true},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    const auto& [display, wayland, platform, has] = cases[row];
    EXPECT_EQ(HasDisplay(display, wayland, platform), has) << "row " << row;
  }
}

}  // namespace
}  // namespace orv
