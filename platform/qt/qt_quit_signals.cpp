#include "platform/qt/qt_quit_signals.h"

#include <QCoreApplication>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orv {
namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end for the signal handler: a handler can reach nothing but process-wide state, and
// may only do what is safe there (one write).
volatile sig_atomic_t g_signal_fd = -1;

extern "C" void OnQuitSignal(int signal_number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  if (g_signal_fd >= 0) (void)!write(g_signal_fd, &byte, 1);
  errno = saved_errno;
}

// What the exit guard runs; exit() reaches it only through this process-wide hook.
std::function<void()>* g_exit_action = nullptr;

extern "C" void RunExitAction() {
  if (g_exit_action != nullptr && *g_exit_action) (*g_exit_action)();
}

}  // namespace

QtQuitSignals::QtQuitSignals(std::function<void(int)> on_signal, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) return;
  g_signal_fd = fds_[1];
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kQuitSignals)
    sigaction(number, &action, nullptr);
}

QtQuitSignals::~QtQuitSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int number : kQuitSignals)
    sigaction(number, &action, nullptr);
  g_signal_fd = -1;
  notifier_.reset();
  for (int& fd : fds_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void QtQuitSignals::OnReadable() {
  unsigned char byte = 0;
  while (read(fds_[0], &byte, 1) == 1) {
    signalled_ = true;
    if (on_signal_) on_signal_(byte);
  }
}

void CloseWindowAndLeave(QWidget* window) {
  if (window != nullptr) window->close();
  // Leaves every loop, an open box's nested one too (its exec() returns and the box goes with its
  // caller), which quit() would not; a box asked for afterwards returns at once.
  QCoreApplication::exit(0);
}

ExitGuard::ExitGuard(std::function<void()> action) {
  static const bool registered = std::atexit(RunExitAction) == 0;
  (void)registered;
  g_exit_action = new std::function<void()>(std::move(action));
}

ExitGuard::~ExitGuard() {
  delete std::exchange(g_exit_action, nullptr);
}

}  // namespace orv
