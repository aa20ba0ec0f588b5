#include "notify/bounded_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "notify/notify_text.h"

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

// A descriptor closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// The spawn's settings, freed when they go.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings)
    pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the program; its pid, or the error number.
int Spawn(const BoundedRun& run, int input, int output, pid_t& pid) {
  SpawnSetup setup;
  if (input >= 0) {
    posix_spawn_file_actions_adddup2(&setup.actions, input, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&setup.actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&setup.actions, output, STDERR_FILENO);
  // Whatever this process holds without close-on-exec (a library's descriptor) stays here.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
  // A group of its own, to be killed as one; no signal blocked or ignored as the service has
  // them.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setflags(&setup.attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&setup.attr, 0);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  std::vector<std::string> args{run.program.string()};
  args.insert(args.end(), run.args.begin(), run.args.end());
  std::vector<std::string> env = run.env;
  const std::vector<char*> argv = Pointers(args);
  const std::vector<char*> envp = Pointers(env);
  return posix_spawn(&pid, run.program.c_str(), &setup.actions, &setup.attr, argv.data(),
                     envp.data());
}

// Whether the program has ended; it stays unreaped, so that its id is not taken by another. Gone
// already when the system reaped it (SIGCHLD ignored).
bool HasEnded(pid_t pid, bool& gone) {
  siginfo_t info{};
  const int got = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
  gone = got != 0 && errno == ECHILD;
  return gone || (got == 0 && info.si_pid == pid);
}

// Takes what the output holds now; false at its end or when nothing more can come now.
bool ReadOutput(Fd& from, std::string& kept) {
  char buffer[4096];
  const ssize_t n = read(from.get(), buffer, sizeof buffer);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) from.Reset();
  if (n <= 0) return false;
  // Read on past the bound, so that a chatty program never stops on a full pipe.
  kept.append(buffer, std::min(std::size_t(n), kKeptOutput - std::min(kKeptOutput, kept.size())));
  return true;
}

// Hands on what input is left; closes it when all is given or the program takes no more.
void WriteInput(Fd& to, std::string_view& left) {
  const ssize_t n = send(to.get(), left.data(), left.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n > 0) left.remove_prefix(std::size_t(n));
  if (left.empty() || (n < 0 && errno != EAGAIN && errno != EINTR)) to.Reset();
}

}  // namespace

BoundedRunEnd RunBounded(const BoundedRun& run) {
  BoundedRunEnd end;
  if (!run.program.is_absolute()) {
    end.why = "not an absolute path: " + OneLine(run.program.string(), 200);
    return end;
  }
  int out[2];
  // Only this end waits for nothing: the program's own writes block as on any pipe.
  if (pipe2(out, O_CLOEXEC) != 0 || fcntl(out[0], F_SETFL, O_NONBLOCK) != 0) {
    end.why = std::strerror(errno);
    return end;
  }
  Fd output(out[0]), output_child(out[1]);
  // The input goes through a socket, so that a program that ends before it read all of it is
  // a failed send, never a SIGPIPE to this process.
  Fd input, input_child;
  if (!run.input.empty()) {
    int in[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
      end.why = std::strerror(errno);
      return end;
    }
    input.Reset(in[0]);
    input_child.Reset(in[1]);
  }
  pid_t pid = -1;
  if (const int error = Spawn(run, input_child.get(), output_child.get(), pid); error != 0) {
    end.why = std::strerror(error);
    return end;
  }
  output_child.Reset();
  input_child.Reset();
  // Woken when the program ends; without pidfd (an old kernel) every 20 ms to look.
  Fd ended(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  std::string_view left = run.input;
  const auto deadline = Clock::now() + run.limit;
  end.how = BoundedRunEnd::How::kExited;
  bool gone = false;
  while (!HasEnded(pid, gone)) {
    const auto now = Clock::now();
    if (now >= deadline) {
      end.how = BoundedRunEnd::How::kKilledAtLimit;
      break;
    }
    if (run.stop && run.stop->load()) {
      end.how = BoundedRunEnd::How::kStopped;
      break;
    }
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (ended.get() < 0 || run.stop) wait = std::min(wait, std::chrono::milliseconds(20));
    pollfd fds[3] = {
        {output.get(), POLLIN, 0}, {input.get(), POLLOUT, 0}, {ended.get(), POLLIN, 0}};
    if (poll(fds, 3, static_cast<int>(wait.count())) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) ReadOutput(output, end.output);
    if (fds[1].revents != 0) WriteInput(input, left);
  }
  // The leader is not reaped yet, so its group's id is still its own: what it left running goes
  // with it. One reaped by the system may have left its id to another: nothing is sent there.
  if (!gone) kill(-pid, SIGKILL);
  while (output.get() >= 0 && ReadOutput(output, end.output)) {
  }
  int status = 0;
  pid_t reaped = -1;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reaped != pid && end.how == BoundedRunEnd::How::kExited) {
    end.how = BoundedRunEnd::How::kUnknown;
  } else if (end.how == BoundedRunEnd::How::kExited && WIFSIGNALED(status)) {
    end.how = BoundedRunEnd::How::kSignalled;
    end.code = WTERMSIG(status);
  } else if (end.how == BoundedRunEnd::How::kExited) {
    end.code = WEXITSTATUS(status);
  }
  return end;
}

std::string AnswerOf(const BoundedRunEnd& end, std::chrono::milliseconds limit) {
  const std::string said = FirstLine(end.output);
  const std::string with_said = said.empty() ? "" : ": " + said;
  switch (end.how) {
    case BoundedRunEnd::How::kNotStarted:
      return "could not start: " + end.why;
    case BoundedRunEnd::How::kExited:
      return "exit " + std::to_string(end.code) + with_said;
    case BoundedRunEnd::How::kSignalled:
      return "killed by signal " + std::to_string(end.code) + with_said;
    case BoundedRunEnd::How::kKilledAtLimit:
      return "killed after " + LimitInWords(limit) + with_said;
    case BoundedRunEnd::How::kStopped:
      return "stopped: the program is ending";
    case BoundedRunEnd::How::kUnknown:
      return "ended, how is unknown (SIGCHLD is ignored)" + with_said;
  }
  return {};
}

}  // namespace orv
