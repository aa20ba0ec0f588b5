#pragma once

// A program run for a notification: started without a shell in a process group of its own, given
// only the environment it is handed, nothing of this process's descriptors but its standard
// input and output, its output kept to a bound, and the whole group killed when it outlasts its
// limit. The run ends when the program does (not when its output closes); what it left running in
// its group is killed then too. Blocking: the channels run it on a worker thread.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace orv {

struct BoundedRun {
  std::filesystem::path program;  // absolute
  std::vector<std::string> args;  // after the program's own name
  std::vector<std::string> env;   // the whole environment, NAME=value
  std::string input;              // standard input; /dev/null when empty
  std::chrono::milliseconds limit{10000};
  // When set and true, the run ends as at its limit (a shutdown does not wait for it).
  const std::atomic<bool>* stop = nullptr;
};

struct BoundedRunEnd {
  // kUnknown: someone else reaped it (SIGCHLD ignored), so how it ended cannot be known.
  enum class How { kNotStarted, kExited, kSignalled, kKilledAtLimit, kStopped, kUnknown };
  How how = How::kNotStarted;
  int code = 0;        // the exit status, or the signal
  std::string why;     // why it did not start
  std::string output;  // the first kKeptOutput bytes of standard output and error together
};

inline constexpr std::size_t kKeptOutput = 2048;

BoundedRunEnd RunBounded(const BoundedRun& run);

// The end in one line: "exit 3: its first line", "killed by signal 9", "killed after 10 s",
// "could not start: No such file or directory".
std::string AnswerOf(const BoundedRunEnd& end, std::chrono::milliseconds limit);

}  // namespace orv
