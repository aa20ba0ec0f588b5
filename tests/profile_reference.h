#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"

namespace orv::test {

// A second, deliberately plain reader of private-profile text, kept for the tests and the fuzzer
// to compare the program's reader with: it walks the text line by line for every key, as the
// program did when it opened the file once per key. Same rules: names without regard to ASCII
// letter case and blanks or tabs around them, the first matching section and the first matching
// key in it, at most capacity - 1 characters, Windows-1252 in the text and UTF-8 outside.
class ReferenceProfile {
 public:
  explicit ReferenceProfile(std::string_view text) : text_(text) {}

  std::string Read(std::string_view section, std::string_view key, std::string_view default_value,
                   std::size_t capacity) const {
    const std::size_t limit = capacity == 0 ? 0 : capacity - 1;
    if (const auto value = Find(AsFileName(section), AsFileName(key)))
      return Cp1252ToUtf8(value->substr(0, limit));
    std::size_t characters = 0;
    for (std::size_t i = 0; i < default_value.size(); ++i) {
      if ((static_cast<unsigned char>(default_value[i]) & 0xC0) == 0x80) continue;
      if (characters == limit) return std::string(default_value.substr(0, i));
      ++characters;
    }
    return std::string(default_value);
  }

 private:
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
      s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
      s.remove_suffix(1);
    return s;
  }

  static bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](char x, char y) { return lower(x) == lower(y); });
  }

  static std::string AsFileName(std::string_view name) {
    std::string bytes = Utf8ToCp1252(name);
    std::replace_if(
        bytes.begin(), bytes.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return std::string(Trim(bytes));
  }

  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const {
    bool inside = false;
    std::size_t pos = 0;
    while (pos < text_.size()) {
      std::size_t end = pos;
      while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n')
        ++end;
      const std::string_view line = text_.substr(pos, end - pos);
      pos = end + 1;
      if (end + 1 < text_.size() && text_[end] == '\r' && text_[end + 1] == '\n') ++pos;

      const std::string_view trimmed = Trim(line);
      const std::size_t close = trimmed.find(']');
      if (!trimmed.empty() && trimmed.front() == '[' && close != std::string_view::npos) {
        if (inside) return std::nullopt;
        inside = SameName(Trim(trimmed.substr(1, close - 1)), section);
        continue;
      }
      const std::size_t equals = line.find('=');
      if (inside && equals != std::string_view::npos && SameName(Trim(line.substr(0, equals)), key))
        return Trim(line.substr(equals + 1));
    }
    return std::nullopt;
  }

  std::string_view text_;
};

}  // namespace orv::test
