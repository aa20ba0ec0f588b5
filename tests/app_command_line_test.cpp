// The real program's command line where there is no display (an ssh session): every answer is
// one line and an exit status, never Qt's abort for want of a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

#include "tests/support/built_programs.h"

namespace {

// The exit status, and standard output and standard error together.
std::pair<int, std::string> RunWithoutDisplay(const std::string& args) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                              std::string(orv::test::kProgram) + "' " + args + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, output};
  char buffer[4096];
  while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    output.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
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
  for (const auto& c : cases)
    EXPECT_EQ(RunWithoutDisplay(c.args), std::pair(c.status, c.output)) << c.args;
  const auto [status, help] = RunWithoutDisplay("--help");
  EXPECT_EQ(status, 0);
  EXPECT_NE(help.find("--headless"), std::string::npos);
}

}  // namespace
