// The service's lines as journald reads them: each with its priority on the journal's stream,
// as ever on anything else, and which stream is the journal's.
#include "platform/log_lines.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>

namespace orv {
namespace {

TEST(LogLines, ToTheJournalEachLineStartsWithItsPriorityElsewhereTheTextAlone) {
  // Text, priority, to the journal; the output.
  const std::tuple<std::string, LogPriority, bool, std::string> cases[] = {
      {"2026-12-08T10:00:00+00:00 link Connected", LogPriority::kInfo, true,
       "<6>2026-12-08T10:00:00+00:00 link Connected\n"},
      {"orvandel.notice: lost", LogPriority::kWarning, true, "<4>orvandel.notice: lost\n"},
      {"not started", LogPriority::kError, true, "<3>not started\n"},
      {"detail", LogPriority::kDebug, true, "<7>detail\n"},
      // Every line of a message, or journald would take the second at the stream's default.
      {"first\nsecond", LogPriority::kWarning, true, "<4>first\n<4>second\n"},
      {"ends in a newline\n", LogPriority::kError, true, "<3>ends in a newline\n"},
      {"", LogPriority::kInfo, true, "<6>\n"},
      {"on a terminal", LogPriority::kError, false, "on a terminal\n"},
      {"two\nlines\n", LogPriority::kWarning, false, "two\nlines\n"},
  };
  for (const auto& [text, priority, journal, expected] : cases)
    EXPECT_EQ(LogLine(text, priority, journal), expected) << text;
}

TEST(LogLines, TheJournalsStreamIsTheOneItsVariableNamesExactly) {
  // JOURNAL_STREAM as set; whether it names device 2049, inode 123456.
  const std::pair<const char*, bool> cases[] = {
      {"2049:123456", true},
      {"2049:123457", false},
      {"2048:123456", false},
      {"2049:", false},
      {":123456", false},
      {"2049", false},
      {"", false},
      {"2049:123456x", false},
      {"0x801:123456", false},
      {"-2049:123456", false},
      {"2049:123456:1", false},
  };
  for (const auto& [variable, names] : cases)
    EXPECT_EQ(JournalStreamNames(variable, 2049, 123456), names) << variable;
}

TEST(LogLines, ADescriptorIsTheJournalsStreamOnlyWhereTheEnvironmentSaysSo) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  struct stat status {};
  ASSERT_EQ(fstat(pipe_ends[1], &status), 0);
  const std::string named = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  unsetenv("JOURNAL_STREAM");
  const bool unset = IsJournalStream(pipe_ends[1]);
  setenv("JOURNAL_STREAM", named.c_str(), 1);
  const bool set = IsJournalStream(pipe_ends[1]);
  const bool other = IsJournalStream(STDIN_FILENO);
  unsetenv("JOURNAL_STREAM");
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  EXPECT_EQ(std::tuple(unset, set, other), std::tuple(false, true, false));
}

}  // namespace
}  // namespace orv
