#pragma once

#include <cstdint>
#include <functional>

namespace orv::sim {

// The simulator's only source of chance. Everything random goes through one instance, so a run
// started with the same seed and fed the same frames at the same times repeats exactly.
class Random {
 public:
  using Source = std::function<std::uint32_t()>;

  explicit Random(Source source) : source_(std::move(source)) {}
  // A Mersenne twister started from seed: the sequence is the same on every platform.
  static Random Seeded(std::uint32_t seed);

  std::uint32_t Next() { return source_(); }
  // 0 .. n - 1; 0 when n is not positive.
  int Below(int n);
  // True about once in n calls.
  bool OneIn(int n) { return Below(n) == 0; }

 private:
  Source source_;
};

}  // namespace orv::sim
