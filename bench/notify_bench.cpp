// What notifications cost the program's loop: sixteen deliveries at once (the most in flight),
// to a web hook that answers 500 every time and through the site's command, counted in the loop
// thread's CPU time per delivery, and the longest gap between two turns of a 1 ms timer on the
// loop meanwhile (the tick's lateness; with two cores, the commands' own start-ups take the loop's
// core too, so it is more than the loop's own work).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "notify/qt/qt_notify_channels.h"

namespace {

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A web hook on its own thread (so that its work is not the loop's) answering 500 to each POST.
class FailingHook {
 public:
  FailingHook() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 64);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (int client; (client = accept(listener_, nullptr, nullptr)) >= 0;) {
        std::string request;
        char buffer[4096];
        for (ssize_t n; request.find("}") == std::string::npos &&
                        (n = read(client, buffer, sizeof buffer)) > 0;)
          request.append(buffer, std::size_t(n));
        const std::string answer =
            "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(client);
      }
    });
  }
  ~FailingHook() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

void SendAndWait(benchmark::State& state, orv::NotifyChannel channel, const std::string& target,
                 const std::filesystem::path& command) {
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  const std::unique_ptr<QCoreApplication> app =
      QCoreApplication::instance() ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
  orv::QtNotifyChannels channels({.command = command,
                                  .sendmail = {},
                                  .mail_from = {},
                                  .ca_file = {},
                                  .limit = std::chrono::seconds(10)});
  const orv::NotifyMessage msg{.type = "problem",
                               .rule = "night",
                               .condition = "fault-3",
                               .text = "Fault 3: mains failure",
                               .seq = 1,
                               .since_ms = 0,
                               .step = 0,
                               .instance = {}};
  constexpr int kAtOnce = int(orv::QtNotifyChannels::kMaxInFlight);
  double cpu = 0;
  qint64 held_ns = 0;
  int failed = 0;
  for (auto _ : state) {
    int done = 0;
    QElapsedTimer since_turn;
    QTimer turn;
    turn.setTimerType(Qt::PreciseTimer);
    QObject::connect(&turn, &QTimer::timeout, [&] {
      held_ns = std::max(held_ns, since_turn.nsecsElapsed());
      since_turn.restart();
    });
    const double start = ThreadCpuSeconds();
    since_turn.start();
    turn.start(1);
    for (int i = 0; i < kAtOnce; ++i)
      channels.Send(channel, target, msg, [&](orv::NotifyResult result) {
        ++done;
        failed += result.ok ? 0 : 1;
      });
    while (done < kAtOnce)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    cpu += ThreadCpuSeconds() - start;
  }
  const double deliveries = static_cast<double>(state.iterations()) * kAtOnce;
  state.counters["loop_cpu_us_per_delivery"] = cpu / deliveries * 1e6;
  state.counters["longest_gap_ms"] = static_cast<double>(held_ns) / 1e6;
  state.counters["failed_share"] = failed / deliveries;
}

void BM_FailingWebHooks(benchmark::State& state) {
  FailingHook hook;
  SendAndWait(state, orv::NotifyChannel::kWebHook, hook.Url(), {});
}
BENCHMARK(BM_FailingWebHooks)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Commands(benchmark::State& state) {
  const auto command = std::filesystem::temp_directory_path() / "orv-notify-bench-command";
  std::ofstream(command) << "#!/bin/sh\nexit 0\n";
  std::filesystem::permissions(command, std::filesystem::perms::owner_all);
  SendAndWait(state, orv::NotifyChannel::kCommand, {}, command);
  std::filesystem::remove(command);
}
BENCHMARK(BM_Commands)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
