#pragma once

// The built simulator as a child process, for tests that talk to it over a pseudo-terminal.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace orv::test {

using Clock = std::chrono::steady_clock;
inline constexpr std::chrono::seconds kSimDeadline{5};

inline int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(0, static_cast<int>(left.count()));
}

// The simulator with its standard output on a pipe that the test reads, and its standard input
// on a pipe that the test may write.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int out[2];
    int in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) RunChild(args, in, out);
    close(out[1]);
    close(in[0]);
    out_fd_ = out[0];
    in_fd_ = in[1];
  }
  ~SimProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (in_fd_ >= 0) close(in_fd_);
  }

  bool started() const { return pid_ > 0; }
  const std::string& output() const { return output_; }

  // Reads standard output until it holds text; false when the deadline passes first.
  bool WaitForOutput(const std::string& text) {
    const Clock::time_point deadline = Clock::now() + kSimDeadline;
    while (output_.find(text) == std::string::npos) {
      if (!ReadSome(deadline)) return false;
    }
    return true;
  }
  void Type(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(in_fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void Signal(int signal) { kill(pid_, signal); }
  // Takes whatever output is waiting, without blocking.
  void Drain() {
    while (ReadSome(Clock::now())) {
    }
  }
  // Reads standard output to its end and collects the exit status; -1 if it does not end in time.
  int WaitForExit() {
    const Clock::time_point deadline = Clock::now() + kSimDeadline;
    while (ReadSome(deadline)) {
    }
    if (!eof_) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  [[noreturn]] static void RunChild(const std::vector<std::string>& args, const int in[2],
                                    const int out[2]) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    for (const int fd : {in[0], in[1], out[0], out[1]})
      close(fd);
    std::vector<char*> argv;
    std::string program = ORV_SIM_EXECUTABLE;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  bool ReadSome(Clock::time_point deadline) {
    pollfd fd{out_fd_, POLLIN, 0};
    if (poll(&fd, 1, RemainingMs(deadline)) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(out_fd_, buffer, sizeof buffer);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int in_fd_ = -1;
  bool eof_ = false;
  bool exited_ = false;
  std::string output_;
};

}  // namespace orv::test
