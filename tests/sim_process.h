#pragma once

// The built simulator as a child process, its standard input and output on pipes to the test.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace orv::test {

class SimProcess {
 public:
  // The simulator, or another program of the build given as executable.
  explicit SimProcess(std::vector<std::string> args, std::string executable = ORV_SIM_EXECUTABLE) {
    int out[2], in[2];
    args.insert(args.begin(), std::move(executable));
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0 || (pid_ = fork()) < 0) return;
    if (pid_ == 0 && dup2(in[0], STDIN_FILENO) == 0 && dup2(out[1], STDOUT_FILENO) == 1)
      execv(argv[0], argv.data());
    if (pid_ == 0) _exit(127);
    close(out[1]);
    close(in[0]);
    out_fd_ = out[0];
    in_fd_ = in[1];
  }
  ~SimProcess() {
    if (pid_ > 0 && !exited_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    close(out_fd_);
    close(in_fd_);
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }
  // Reads standard output until it holds text; false when the deadline passes first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds within = kDeadline) {
    for (const auto deadline = Clock::now() + within; output_.find(text) == std::string::npos;)
      if (!ReadSome(deadline)) return false;
    return true;
  }
  void Type(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(in_fd_, text.data(), text.size()), ssize_t(text.size()));
  }
  void Signal(int signal) {
    if (pid_ > 0 && !exited_) kill(pid_, signal);
  }
  // Takes whatever output is waiting, without blocking.
  void Drain() {
    while (ReadSome(Clock::now())) {
    }
  }
  // Reads standard output to its end and returns the exit status; -1 if it does not end in time.
  int WaitForExit() {
    for (const auto deadline = Clock::now() + kDeadline; ReadSome(deadline);) {
    }
    int status = 0;
    if (!eof_ || waitpid(pid_, &status, 0) != pid_) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kDeadline{5000};

  bool ReadSome(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fd{out_fd_, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = poll(&fd, 1, int(std::max<long>(0, left.count()))) > 0
                          ? read(out_fd_, buffer, sizeof buffer)
                          : 0;
    eof_ = eof_ || (fd.revents != 0 && n <= 0);
    if (n > 0) output_.append(buffer, std::size_t(n));
    return n > 0;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int in_fd_ = -1;
  bool eof_ = false;
  bool exited_ = false;
  std::string output_;
};

}  // namespace orv::test
