#include "platform/text_encoding.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace orv {
namespace {

// Code points of the bytes 0x80..0x9F; above them Windows-1252 equals Latin-1.
constexpr std::array<char32_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    // Nothing above U+FFFF is reachable from an 8-bit byte.
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char EncodeCodePoint(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Decodes one well-formed UTF-8 sequence at text[pos] (no overlong forms, no surrogates, nothing
// above U+10FFFF). Returns its length, or 0 when the byte there does not begin one.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[pos + i]); };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint8_t low = 0x80;  // bounds of the second byte, which rule out the forbidden ranges
  std::uint8_t high = 0xBF;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t b = byte(i);
    if (i == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  return length;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    AppendUtf8(out, (b >= 0x80 && b <= 0x9F) ? kHighControls[b - 0x80] : char32_t{b});
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, pos, cp);
    if (length == 0) {
      out.push_back('?');
      ++pos;
    } else {
      out.push_back(EncodeCodePoint(cp));
      pos += length;
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  char32_t cp = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = DecodeUtf8(text, pos, cp);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char32_t cp = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = DecodeUtf8(text, pos, cp);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++pos;
    } else {
      out.append(text.substr(pos, length));
      pos += length;
    }
  }
  return out;
}

namespace {

bool ContinuesSequence(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::size_t Utf8Length(std::string_view text) {
  std::size_t length = 0;
  for (const char c : text)
    length += ContinuesSequence(c) ? 0 : 1;
  return length;
}

std::size_t Utf8Offset(std::string_view text, std::size_t characters) {
  if (characters == 0) return 0;
  std::size_t seen = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!ContinuesSequence(text[at]) && seen++ == characters) return at;
  }
  return text.size();
}

}  // namespace orv
