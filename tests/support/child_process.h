#pragma once

// A program of the build (or of the system) as a child process: its standard input on a pipe from
// the test, its standard output (and, when asked, its standard error) on pipes to it. Every wait
// has a deadline; the destructor kills what still runs. POSIX only, no test framework, so that
// tests and benchmarks alike can use it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace orv::test {

struct ChildOptions {
  // The whole environment of the child; empty: the test's own.
  std::vector<std::string> env;
  // Standard error to error_output() rather than to the test's own.
  bool capture_stderr = false;
};

class ChildProcess {
 public:
  ChildProcess(std::string executable, std::vector<std::string> args, ChildOptions options = {}) {
    args.insert(args.begin(), std::move(executable));
    const auto pointers = [](std::vector<std::string>& strings) {
      std::vector<char*> p;
      for (std::string& s : strings)
        p.push_back(s.data());
      p.push_back(nullptr);
      return p;
    };
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(options.env);
    int in[2], out[2], err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
        (options.capture_stderr && pipe2(err, O_CLOEXEC) != 0) || (pid_ = fork()) < 0) {
      return;
    }
    if (pid_ == 0) {
      const bool wired = dup2(in[0], STDIN_FILENO) == STDIN_FILENO &&
                         dup2(out[1], STDOUT_FILENO) == STDOUT_FILENO &&
                         (err[1] < 0 || dup2(err[1], STDERR_FILENO) == STDERR_FILENO);
      if (wired && options.env.empty()) execv(argv[0], argv.data());
      if (wired && !options.env.empty()) execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (err[1] >= 0) close(err[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    for (const int fd : {in_fd_, out_fd_, err_fd_})
      if (fd >= 0) close(fd);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }
  const std::string& error_output() const { return error_output_; }

  // Reads standard output until it holds text; false when the deadline passes first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds within = kDeadline) {
    for (const auto deadline = Clock::now() + within; output_.find(text) == std::string::npos;)
      if (!ReadSome(deadline)) return false;
    return true;
  }
  // One line on standard input.
  bool Type(const std::string& line) {
    const std::string text = line + "\n";
    return write(in_fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void Signal(int signal) {
    if (pid_ > 0 && !exited_) kill(pid_, signal);
  }
  // Takes whatever output is waiting, without blocking.
  void Drain() {
    while (ReadSome(Clock::now())) {
    }
  }
  // Reads the output to its end and returns the exit status (128 + N for signal N); -1 if the
  // child does not end in time.
  int WaitForExit(std::chrono::milliseconds within = kDeadline) {
    const auto deadline = Clock::now() + within;
    while ((out_fd_ >= 0 || err_fd_ >= 0) && Clock::now() < deadline)
      ReadSome(deadline);
    int status = 0;
    if (out_fd_ >= 0 || err_fd_ >= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // SIGTERM, then the exit status.
  int Stop() {
    Signal(SIGTERM);
    return WaitForExit();
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kDeadline{5000};

  // Reads what the pipes hold, waiting until the deadline for something; false when nothing came.
  // A pipe is closed at its end.
  bool ReadSome(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if ((out_fd_ < 0 && err_fd_ < 0) || poll(fds, 2, int(std::max<long>(0, left.count()))) <= 0)
      return false;
    bool got = false;
    for (const pollfd& ready : fds) {
      if (ready.fd < 0 || ready.revents == 0) continue;
      const bool out = ready.fd == out_fd_;
      char buffer[4096];
      const ssize_t n = read(ready.fd, buffer, sizeof buffer);
      if (n > 0) (out ? output_ : error_output_).append(buffer, std::size_t(n));
      if (n <= 0) close(std::exchange(out ? out_fd_ : err_fd_, -1));
      got = got || n > 0;
    }
    return got;
  }

  pid_t pid_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  bool exited_ = false;
  std::string output_;
  std::string error_output_;
};

}  // namespace orv::test
