#include "notify/notify_text.h"

#include <cstdio>

namespace orv {

std::string IsoUtc(std::int64_t utc_ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> at{milliseconds(utc_ms)};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{floor<seconds>(at - day)};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()));
  return text;
}

std::string LimitInWords(std::chrono::milliseconds limit) {
  const auto ms = limit.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

namespace {

// The length of the UTF-8 character that starts text, 0 when it does not start one.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned min = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000;
  if (length == 0 || text.size() < length) return 0;
  unsigned code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

}  // namespace

std::string OneLine(std::string_view text, std::size_t max_bytes) {
  std::string line;
  while (!text.empty()) {
    const std::size_t length = Utf8Length(text);
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    std::string_view piece = length == 0 ? "?" : text.substr(0, length);
    if (length == 1 && (lead < 0x20 || lead == 0x7F)) piece = " ";
    if (line.size() + piece.size() > max_bytes) break;
    line += piece;
    text.remove_prefix(length == 0 ? 1 : length);
  }
  return line;
}

std::string FirstLine(std::string_view output) {
  const std::size_t begin = output.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  output.remove_prefix(begin);
  const std::string_view line = output.substr(0, output.find_first_of("\r\n"));
  return OneLine(line.substr(0, line.find_last_not_of(" \t") + 1), 200);
}

}  // namespace orv
