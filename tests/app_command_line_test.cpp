// The real program's command line where there is no display (an ssh session): every answer is
// one line and an exit status, never Qt's abort for want of a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include "tests/support/built_programs.h"

namespace {

struct ProgramRun {
  int status = -1;
  std::string output;  // standard output and standard error
};

ProgramRun RunWithoutDisplay(const std::string& args) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                              std::string(orv::test::kProgram) + "' " + args + " 2>&1";
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(CommandLine, AnswersWithoutADisplayInOneLine) {
  const struct {
    std::string args;
    int status;
    std::string output;
  } cases[] = {
      {"--bogus", 2, "orvandel: unknown option \"--bogus\" (see --help)\n"},
      {"--version", 0, "orvandel 2.16.8\n"},
      {"-v", 0, "orvandel 2.16.8\n"},
      {"", 2, "orvandel: no display: run `orvandel --headless` to run without a window\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = RunWithoutDisplay(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.output, c.output) << c.args;
  }
  const ProgramRun help = RunWithoutDisplay("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--headless"), std::string::npos);
}

}  // namespace
