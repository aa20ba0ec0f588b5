// Frame assembly and dispatch throughput, to compare with the 115200-baud line (11,520 bytes/s).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "link/frame.h"
#include "link/link.h"
#include "tests/support/fake_serial_port.h"

namespace {

using orv::Bytes;

// A realistic mix: replies, reports, frames with a bad CRC, truncated frames and line noise.
Bytes MixedTraffic(std::size_t target_size) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes out;
  while (out.size() < target_size) {
    Bytes f;
    switch (rng() % 6) {
      case 0:
        f = orv::EncodeFrame(6, Bytes{static_cast<std::uint8_t>(byte(rng)), 0x03});
        break;
      case 1:
        f = orv::EncodeFrame(8, Bytes(10, static_cast<std::uint8_t>(byte(rng))));
        break;
      case 2:
        f = orv::EncodeFrame(7, Bytes(15, static_cast<std::uint8_t>(byte(rng))));
        break;
      case 3:
        f = orv::EncodeFrame(0xA0, Bytes{0x32, 0x00, static_cast<std::uint8_t>(byte(rng))});
        break;
      case 4:
        f = orv::EncodeFrame(0xA0, Bytes{0x50, 0x01, 0x02});
        f[f.size() - 2] ^= 0x5A;  // bad CRC
        break;
      default:
        for (int i = 0; i < 7; ++i)
          f.push_back(static_cast<std::uint8_t>(byte(rng)));
        break;
    }
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

void BM_AssembleAndDispatch(benchmark::State& state) {
  const Bytes traffic = MixedTraffic(1 << 20);
  orv::FakeSerialPort port;
  orv::Link link(port);
  std::uint64_t frames = 0;
  const orv::Connection counted =
      link.receiver().frame_received().Connect([&](const orv::ReceivedFrame&) { ++frames; });
  constexpr std::size_t kChunk = 1000;  // what fits the ring between two ticks
  for (auto _ : state) {
    for (std::size_t at = 0; at < traffic.size(); at += kChunk) {
      const std::size_t end = std::min(traffic.size(), at + kChunk);
      port.Deliver(Bytes(traffic.begin() + static_cast<std::ptrdiff_t>(at),
                         traffic.begin() + static_cast<std::ptrdiff_t>(end)));
      link.receiver().AssembleRxFrames();
    }
  }
  benchmark::DoNotOptimize(frames);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * traffic.size()));
  state.counters["line_rate_ratio"] =
      benchmark::Counter(static_cast<double>(state.iterations() * traffic.size()) / 11520.0,
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AssembleAndDispatch)->Unit(benchmark::kMillisecond);

}  // namespace
