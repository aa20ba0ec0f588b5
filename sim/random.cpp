#include "sim/random.h"

#include <random>

namespace orv::sim {

Random Random::Seeded(std::uint32_t seed) {
  return Random(
      [engine = std::mt19937(seed)]() mutable { return static_cast<std::uint32_t>(engine()); });
}

int Random::Below(int n) {
  if (n <= 0) return 0;
  return static_cast<int>(Next() % static_cast<std::uint32_t>(n));
}

}  // namespace orv::sim
