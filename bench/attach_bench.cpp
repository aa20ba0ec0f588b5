// The service's tick with 20 windows attached over its real local socket, one of which never
// reads: the tick (the window model's, then the state to every window, then the event loop's
// writing) must not grow with the frozen window's backlog, which is dropped at its queue's bound.
// Compare with all 20 reading. Every tick changes the events log (a full 1000-character box) and a
// lamp: the most a tick sends.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "attach/qt/qt_attach_server.h"
#include "panel/main_form.h"
#include "tests/support/fake_serial_port.h"
#include "tests/temp_folder.h"

namespace {

int ConnectTo(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

void Drain(int fd) {
  char buffer[65536];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

void BM_ServiceTickWithAttachedWindows(benchmark::State& state) {
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  const std::unique_ptr<QCoreApplication> app =
      QCoreApplication::instance() ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
  orv::test::TempFolder folder;
  orv::FakeSerialPort port;
  orv::MainFormEnvironment env{port, folder.path(), nullptr, orv::SystemLocalTime, {}};
  env.keep_journal = false;
  orv::MainForm form(std::move(env));
  form.Form_Load();
  orv::QtAttachServer::Options options;
  options.socket_path = (folder.path() / "panel.sock").string();
  orv::QtAttachServer server(
      form, orv::ServiceLine{[](const orv::Actor&) {}, [](const orv::Actor&) {}}, options, {});
  if (!server.Listen()) {
    state.SkipWithError("cannot listen");
    return;
  }
  const int windows = static_cast<int>(state.range(0));
  const bool frozen = state.range(1) != 0;
  std::vector<int> fds;
  for (int i = 0; i < windows; ++i)
    fds.push_back(ConnectTo(options.socket_path));
  while (server.clients() < static_cast<std::size_t>(windows))
    QCoreApplication::processEvents();
  std::string text(1000, 'x');
  int tick = 0;
  for (auto _ : state) {
    ++tick;
    text[static_cast<std::size_t>(tick) % text.size()] = static_cast<char>('a' + tick % 26);
    form.EventsLogTextBox.SetText(text);
    form.Shape1[tick % 12].SetFillStyle(tick % 2 ? orv::Shape::kSolid : orv::Shape::kTransparent);
    form.TRTimer_Timer();
    server.Tick();
    QCoreApplication::processEvents();
    state.PauseTiming();
    // Every window reads all it was sent, but the first when it is the frozen one.
    for (std::size_t i = frozen ? 1 : 0; i < fds.size(); ++i)
      Drain(fds[i]);
    state.ResumeTiming();
  }
  state.counters["attached_at_end"] = static_cast<double>(server.clients());
  for (const int fd : fds)
    close(fd);
}
// Arguments: windows, and whether the first of them never reads.
BENCHMARK(BM_ServiceTickWithAttachedWindows)
    ->Args({20, 0})
    ->Args({20, 1})
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
