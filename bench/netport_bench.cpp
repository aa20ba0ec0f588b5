// A hostile network port's flood: what a megabyte of it costs the telnet codec, and what share of
// a core the real TCP port spends while a server floods it without end (the read pace's doing).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "netport/qt/qt_tcp_serial_port.h"
#include "netport/telnet.h"

namespace {

using namespace orv::telnet;

// The flood as it was first seen: every option asked both ways, COM-PORT-OPTION turned on and
// off, and data that holds no frame.
orv::Bytes HostileBlock() {
  orv::Bytes block;
  for (int option = 0; option < 256; ++option) {
    const auto o = static_cast<std::uint8_t>(option);
    block.insert(block.end(), {kIac, kDo, o, kIac, kWill, o, kIac, kDo, kComPortOption, kIac, kDont,
                               kComPortOption});
    block.insert(block.end(), 64, 0x55);
  }
  return block;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The codec alone, one connection's state: bytes per second, so a megabyte costs 1 / that.
void BM_TelnetDecodeOfAFlood(benchmark::State& state) {
  const orv::Bytes block = HostileBlock();
  orv::TelnetCodec codec;
  for (auto _ : state) {
    const orv::TelnetInput out = codec.Decode(block);
    benchmark::DoNotOptimize(out.data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_TelnetDecodeOfAFlood);

// The real port on 127.0.0.1, its server sending the block as fast as it is taken, for a second
// per iteration of the program's loop: core_share is the loop thread's CPU time over the wall
// time (the goal is at most 0.10), taken_per_s what the port read.
void BM_TcpPortUnderAFlood(benchmark::State& state) {
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  const std::unique_ptr<QCoreApplication> app =
      QCoreApplication::instance() ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    state.SkipWithError("no loopback listener");
    return;
  }
  const orv::Bytes block = HostileBlock();
  std::atomic<bool> stop{false};
  std::atomic<int> client{-1};
  std::thread flood([&] {
    client = accept(listener, nullptr, nullptr);
    while (!stop && client >= 0 && send(client, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
    }
  });
  std::int64_t taken = 0;
  {
    orv::QtTcpSerialPort port;
    const orv::Connection count = port.received().Connect(
        [&](const orv::Bytes& b) { taken += static_cast<std::int64_t>(b.size()); });
    port.SetAddress(
        orv::ParsePortAddress("rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port))));
    port.Open();
    double cpu = 0, wall = 0;
    for (auto _ : state) {
      QElapsedTimer clock;
      clock.start();
      const double cpu_start = ThreadCpuSeconds();
      QEventLoop loop;
      QTimer::singleShot(1000, &loop, &QEventLoop::quit);
      loop.exec();
      cpu += ThreadCpuSeconds() - cpu_start;
      wall += static_cast<double>(clock.elapsed()) / 1000;
    }
    state.counters["core_share"] = cpu / wall;
    state.counters["taken_per_s"] = static_cast<double>(taken) / wall;
    port.Close();
  }
  stop = true;
  shutdown(listener, SHUT_RDWR);
  if (client >= 0) shutdown(client, SHUT_RDWR);
  flood.join();
  if (client >= 0) close(client);
  close(listener);
}
BENCHMARK(BM_TcpPortUnderAFlood)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
