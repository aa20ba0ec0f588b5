// yescrypt through crypt(3): the hash format and the cost are libcrypt's defaults.

#include "access/pin_hash.h"

#include <crypt.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace orv {

namespace {

constexpr std::size_t kMinPinLength = 4;
constexpr std::size_t kMaxPinLength = 64;

// crypt_rn's work area is tens of kilobytes: never on the stack. Zeroed both before use (the
// library asks for it) and after (it held the PIN).
struct CryptArea {
  CryptArea() : data(std::make_unique<crypt_data>()) {}
  ~CryptArea() { explicit_bzero(data.get(), sizeof(crypt_data)); }
  CryptArea(const CryptArea&) = delete;
  CryptArea& operator=(const CryptArea&) = delete;
  std::unique_ptr<crypt_data> data;
};

std::optional<std::string> Crypt(std::string_view pin, const char* setting) {
  // A PIN with a NUL would be cut short by the C string.
  if (pin.find('\0') != std::string_view::npos) return std::nullopt;
  std::string phrase(pin);
  CryptArea area;
  const char* out = crypt_rn(phrase.c_str(), setting, area.data.get(), sizeof(crypt_data));
  explicit_bzero(phrase.data(), phrase.size());
  // Some builds answer a failure with a string starting with '*' instead of a null pointer.
  if (out == nullptr || out[0] == '*') return std::nullopt;
  return std::string(out);
}

}  // namespace

bool IsValidPin(std::string_view pin) {
  return pin.size() >= kMinPinLength && pin.size() <= kMaxPinLength &&
         std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> HashPin(std::string_view pin) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  // Count 0 is the library's default cost; no random bytes given: the library takes its own.
  if (crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting) == nullptr) {
    return std::nullopt;
  }
  return Crypt(pin, setting);
}

bool VerifyPin(std::string_view pin, std::string_view hash) {
  if (!hash.starts_with("$y$") || hash.find('\0') != std::string_view::npos) return false;
  const std::string setting(hash);
  const std::optional<std::string> out = Crypt(pin, setting.c_str());
  if (!out || out->size() != hash.size()) return false;
  // Compared in full whatever differs first: the time says nothing about how close a guess was.
  unsigned char differ = 0;
  for (std::size_t i = 0; i < hash.size(); ++i) {
    differ |= static_cast<unsigned char>((*out)[i] ^ hash[i]);
  }
  return differ == 0;
}

}  // namespace orv
