// orvandel-sim: a simulated controller on a pseudo-terminal or serial device. One thread: poll()
// over the line and standard input, a 100 ms tick, and paced writes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/receiver.h"
#include "sim/console.h"
#include "sim/controller.h"
#include "sim/describe.h"
#include "sim/options.h"
#include "sim/pacer.h"
#include "sim/serial_line.h"

namespace orv::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr Nanos kTickPeriod = std::chrono::milliseconds{100};

std::string WallClock() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms.count()));
  return text;
}

void Print(const std::string& line) {
  std::cout << line << std::endl;
}

void Note(const std::string& text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (end > start) Print("# " + text.substr(start, end - start));
    start = end + 1;
  }
}

// The termination signals are blocked and looked for after every poll(), so no handler and no
// global flag is needed.
sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

bool TerminationPending() {
  const sigset_t wanted = TerminationSignals();
  sigset_t pending;
  sigpending(&pending);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigismember(&wanted, signal) && sigismember(&pending, signal)) return true;
  }
  return false;
}

class Shell {
 public:
  Shell(const SimOptions& options, SerialLine& line);
  int Run();

 private:
  Nanos Now() const { return SteadyClock::now() - origin_; }
  Millis NowMillis() const { return std::chrono::duration_cast<Millis>(now_); }
  int PollTimeoutMs() const;
  void OnFrame(const ReceivedFrame& frame);
  void ReadLine();
  void ReadConsole();
  void RunConsoleLines();
  void TickIfDue();
  void QueueOutput();
  void WriteDue();

  SerialLine& line_;
  Controller controller_;
  Receiver receiver_;
  Connection frame_connection_;
  Pacer pacer_;
  SteadyClock::time_point origin_ = SteadyClock::now();
  Nanos now_{0};
  Nanos next_tick_{0};
  std::string console_text_;
  bool console_open_ = true;
  bool line_overflowing_ = false;
  bool quit_ = false;
  int exit_code_ = 0;
};

Shell::Shell(const SimOptions& options, SerialLine& line)
    : line_(line),
      controller_(options.controller, Random::Seeded(options.controller.seed)),
      pacer_(Pacer::ByteTime(options.line.baud_rate, BitsPerCharacter(options.line))) {
  frame_connection_ =
      receiver_.frame_received().Connect([this](const ReceivedFrame& frame) { OnFrame(frame); });
  controller_.Burst(options.start_burst, NowMillis());
}

int Shell::Run() {
  while (!quit_) {
    std::array<pollfd, 2> fds{{{line_.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}}};
    const nfds_t count = console_open_ ? 2 : 1;
    if (poll(fds.data(), count, PollTimeoutMs()) < 0 && errno != EINTR) break;
    now_ = Now();
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) ReadLine();
    // A closed or missing standard input ends reading it, not the run.
    if (count > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) ReadConsole();
    TickIfDue();
    QueueOutput();
    WriteDue();
    if (TerminationPending()) quit_ = true;
  }
  return exit_code_;
}

int Shell::PollTimeoutMs() const {
  Nanos until = next_tick_;
  if (const auto due = pacer_.NextDue()) until = std::min(until, *due);
  const Nanos wait = std::max(Nanos{0}, until - Now());
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void Shell::OnFrame(const ReceivedFrame& frame) {
  const std::size_t length = std::min<std::size_t>(frame.length, frame.payload.size());
  const std::span<const std::uint8_t> data = frame.payload.first(length);
  const std::uint8_t command = frame.command;
  Print(LogLine(WallClock(), "RX", EncodeFrame(command, data), DescribeRequest(command, data)));
  controller_.HandleFrame(command, data, NowMillis());
}

void Shell::ReadLine() {
  std::array<std::uint8_t, 512> buffer{};
  const ssize_t n = read(line_.fd(), buffer.data(), buffer.size());
  if (n > 0) {
    receiver_.OnComm(Bytes(buffer.begin(), buffer.begin() + n));
    receiver_.AssembleRxFrames();
  } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
    Note(std::string("line read failed: ") + std::strerror(errno));
    exit_code_ = 1;
    quit_ = true;
  }
}

void Shell::ReadConsole() {
  std::array<char, 512> buffer{};
  const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
  if (n <= 0) {
    console_open_ = false;  // end of input: keep simulating, stop reading
    return;
  }
  console_text_.append(buffer.data(), static_cast<std::size_t>(n));
  RunConsoleLines();
}

void Shell::RunConsoleLines() {
  std::size_t end;
  while (!quit_ && (end = console_text_.find('\n')) != std::string::npos) {
    const std::string text = console_text_.substr(0, end);
    console_text_.erase(0, end + 1);
    const ConsoleReply reply = RunConsoleLine(controller_, text, NowMillis());
    Note(reply.text);
    quit_ = reply.quit;
  }
}

// The receiver's idle count and the controller's clock both advance on the 100 ms tick.
void Shell::TickIfDue() {
  if (now_ < next_tick_) return;
  next_tick_ = now_ + kTickPeriod;
  receiver_.AssembleRxFrames();
  controller_.Tick(NowMillis());
}

void Shell::QueueOutput() {
  for (Transmission& transmission : controller_.TakeOutput())
    pacer_.Add(std::move(transmission), now_);
}

void Shell::WriteDue() {
  const Pacer::Due due = pacer_.TakeDue(Now());
  for (const Transmission& transmission : due.begun)
    Print(LogLine(WallClock(), "TX", transmission.bytes, transmission.meaning));
  if (due.bytes.empty()) return;
  const ssize_t n = write(line_.fd(), due.bytes.data(), due.bytes.size());
  const bool whole = n == static_cast<ssize_t>(due.bytes.size());
  if (!whole && !line_overflowing_)
    Note("the line is full (nobody reads it): unread output is dropped");
  if (!whole) {
    line_.DiscardUnread();
    pacer_.Clear();
  }
  line_overflowing_ = !whole;
}

int Main(int argc, char** argv) {
  const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.options.help) {
    std::cout << HelpText();
    return 0;
  }
  if (!parsed.error.empty()) {
    std::cerr << "orvandel-sim: " << parsed.error << " (see --help)\n";
    return 2;
  }
  // With standard input closed the line could be opened as descriptor 0 and read as the console.
  if (fcntl(STDIN_FILENO, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  const sigset_t signals = TerminationSignals();
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const SimOptions& options = parsed.options;
  std::string error;
  const std::unique_ptr<SerialLine> line =
      options.link_path.empty() ? SerialLine::OpenDevice(options.device_path, options.line, error)
                                : SerialLine::OpenPty(options.link_path, options.line, error);
  if (!line) {
    std::cerr << "orvandel-sim: " << error << "\n";
    return 1;
  }
  Shell shell(options, *line);
  Note("ready: " + line->description() + ", seed " + std::to_string(options.controller.seed) +
       "; type help for commands");
  return shell.Run();
}

}  // namespace
}  // namespace orv::sim

int main(int argc, char** argv) {
  return orv::sim::Main(argc, argv);
}
