#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// SHA-256 (FIPS 180-4), fed in pieces. The journal's chain needs only this one hash, too little
// to bring in a crypto library for.
class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(std::string_view bytes);
  // The digest of everything fed so far; the object must not be fed again afterwards.
  Digest Finish();

  static Digest Of(std::string_view bytes);
  static std::string Hex(const Digest& digest);

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes fed
};

}  // namespace orv
