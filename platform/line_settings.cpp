#include "platform/line_settings.h"

#include <array>
#include <charconv>
#include <cstddef>

namespace orv {
namespace {

constexpr std::size_t kFieldCount = 4;

std::string_view TrimBlanks(std::string_view field) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = field.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = field.find_last_not_of(kBlanks);
  return field.substr(first, last - first + 1);
}

// Digits only: no sign, no blank inside, and the whole field must be used.
std::optional<int> ParseUnsigned(std::string_view field) {
  if (field.empty()) return std::nullopt;
  int value = 0;
  const char* end = field.data() + field.size();
  const auto [ptr, ec] = std::from_chars(field.data(), end, value);
  if (ec != std::errc() || ptr != end || field.front() == '-' || field.front() == '+') {
    return std::nullopt;
  }
  return value;
}

std::optional<Parity> ParseParity(std::string_view field) {
  if (field.size() != 1) return std::nullopt;
  switch (field.front()) {
    case 'N':
    case 'n':
      return Parity::kNone;
    case 'E':
    case 'e':
      return Parity::kEven;
    case 'O':
    case 'o':
      return Parity::kOdd;
    case 'M':
    case 'm':
      return Parity::kMark;
    case 'S':
    case 's':
      return Parity::kSpace;
    default:
      return std::nullopt;
  }
}

std::optional<StopBits> ParseStopBits(std::string_view field) {
  if (field == "1") return StopBits::kOne;
  if (field == "1.5") return StopBits::kOneAndHalf;
  if (field == "2") return StopBits::kTwo;
  return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
  std::array<std::string_view, kFieldCount> fields;
  std::size_t count = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    if (count == kFieldCount) return std::nullopt;  // a fifth field
    fields[count++] =
        TrimBlanks(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count != kFieldCount) return std::nullopt;

  const std::optional<int> baud_rate = ParseUnsigned(fields[0]);
  const std::optional<Parity> parity = ParseParity(fields[1]);
  const std::optional<int> data_bits = ParseUnsigned(fields[2]);
  const std::optional<StopBits> stop_bits = ParseStopBits(fields[3]);
  if (!baud_rate || *baud_rate <= 0 || !parity || !data_bits || *data_bits < 5 || *data_bits > 8 ||
      !stop_bits) {
    return std::nullopt;
  }
  return LineSettings{*baud_rate, *parity, *data_bits, *stop_bits};
}

}  // namespace orv
