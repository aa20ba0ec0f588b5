#include "platform/profile.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kCrLf = "\r\n";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldCase(x) == FoldCase(y);
         });
}

// Program text as it goes into the file: Windows-1252, with no line break that could split it.
std::string ToFileText(std::string_view text) {
  std::string out = Utf8ToCp1252(text);
  std::replace(out.begin(), out.end(), '\r', ' ');
  std::replace(out.begin(), out.end(), '\n', ' ');
  return out;
}

// A section or key name as it is matched and written.
std::string ToFileName(std::string_view name) {
  return std::string(Trim(ToFileText(name)));
}

// One line of the file: its text is [begin, end), its line break [end, next), empty for a last
// line that has none. CRLF, LF and a lone CR each end a line.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;

  bool has_break() const { return next > end; }
};

Line LineAt(std::string_view text, std::size_t begin) {
  Line line{begin, text.find_first_of(kCrLf, begin), 0};
  if (line.end == std::string_view::npos) {
    line.end = line.next = text.size();
  } else if (text[line.end] == '\r' && line.end + 1 < text.size() && text[line.end + 1] == '\n') {
    line.next = line.end + 2;
  } else {
    line.next = line.end + 1;
  }
  return line;
}

std::string_view LineText(std::string_view text, const Line& line) {
  return text.substr(line.begin, line.end - line.begin);
}

// The file's own line break (that of its first line), CRLF for a file that has none yet.
std::string_view LineBreakStyle(std::string_view text) {
  const Line first = LineAt(text, 0);
  return first.has_break() ? text.substr(first.end, first.next - first.end) : kCrLf;
}

// The name of a "[name]" line, blanks and tabs around it removed.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// Where a key stands, or would have to be added, in the file.
struct KeyLocation {
  bool section_found = false;
  bool key_found = false;
  Line key_line;           // when key_found
  std::size_t equals = 0;  // offset of the key line's "=" in the file
  Line last_section_line;  // when section_found: its last non-blank line, the header at least
};

KeyLocation Locate(std::string_view text, std::string_view section, std::string_view key) {
  KeyLocation where;
  bool inside = false;
  for (std::size_t pos = 0; pos < text.size();) {
    const Line line = LineAt(text, pos);
    pos = line.next;
    const std::string_view content = LineText(text, line);
    if (const auto name = SectionName(content)) {
      if (inside) break;  // the first matching section has ended
      if (EqualsIgnoreCase(*name, section)) {
        inside = where.section_found = true;
        where.last_section_line = line;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(content).empty()) where.last_section_line = line;
    const std::size_t equals = content.find('=');
    if (equals != std::string_view::npos &&
        EqualsIgnoreCase(Trim(content.substr(0, equals)), key)) {
      where.key_found = true;
      where.key_line = line;
      where.equals = line.begin + equals;
      break;
    }
  }
  return where;
}

enum class FileRead { kOk, kMissing, kFailed };

FileRead ReadWholeFile(const fs::path& file, std::string& bytes) {
  std::FILE* in = OpenFile(file, "rb");
  if (in == nullptr) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(file, ec)) ? FileRead::kFailed : FileRead::kMissing;
  }
  bytes.clear();
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
    bytes.append(buffer, got);
  // A folder opens on some systems but cannot be read: that is a failure, not an empty file.
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  return failed ? FileRead::kFailed : FileRead::kOk;
}

// Writes the whole content beside the file and renames it over the file.
bool ReplaceFile(const fs::path& file, const std::string& bytes) {
  fs::path temporary = file;
  temporary += ".tmp";
  std::error_code ec;
  fs::remove(temporary, ec);  // left over from an interrupted write
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out.fail()) {
      fs::remove(temporary, ec);
      return false;
    }
  }
  // The replacement keeps the old file's permissions; if they cannot be read, the default stays.
  const fs::file_status old_status = fs::status(file, ec);
  if (!ec && fs::exists(old_status)) fs::permissions(temporary, old_status.permissions(), ec);
  fs::rename(temporary, file, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

std::string WithKeySet(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value) {
  std::string_view line_break = LineBreakStyle(text);
  const KeyLocation where = Locate(text, section, key);
  std::string out;
  out.reserve(text.size() + section.size() + key.size() + value.size() + 8);
  if (where.key_found) {
    // Only the text after "=" changes: the key's own spelling and the line break stay.
    out.append(text.substr(0, where.equals + 1));
    out.append(value);
    out.append(text.substr(where.key_line.end));
    return out;
  }
  std::size_t insert_at = text.size();
  bool needs_break = !text.empty() && text.back() != '\n' && text.back() != '\r';
  if (where.section_found) {
    const Line& last = where.last_section_line;
    insert_at = last.next;
    needs_break = !last.has_break();
    // The new line ends like the line before it: a lone CR style before a line that starts
    // with LF would otherwise merge with it into one CR LF and swallow that line.
    if (last.has_break()) line_break = text.substr(last.end, last.next - last.end);
  }
  out.append(text.substr(0, insert_at));
  if (needs_break) out.append(line_break);
  if (!where.section_found) {
    out.append("[").append(section).append("]").append(line_break);
  }
  out.append(key).append("=").append(value).append(line_break);
  out.append(text.substr(insert_at));
  return out;
}

}  // namespace

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view default_value, std::size_t capacity,
                              const std::filesystem::path& file) {
  try {
    const std::size_t limit = capacity == 0 ? 0 : capacity - 1;
    std::string bytes;
    if (ReadWholeFile(file, bytes) == FileRead::kOk) {
      const std::string file_section = ToFileName(section);
      const std::string file_key = ToFileName(key);
      const KeyLocation where = Locate(bytes, file_section, file_key);
      if (where.key_found) {
        const std::string_view line = LineText(bytes, where.key_line);
        const std::string_view value = Trim(line.substr(where.equals - where.key_line.begin + 1));
        return Cp1252ToUtf8(value.substr(0, limit));
      }
    }
    // The default obeys the same limit, counted in characters.
    std::size_t characters = 0;
    for (std::size_t i = 0; i < default_value.size(); ++i) {
      const bool starts_character = (static_cast<unsigned char>(default_value[i]) & 0xC0) != 0x80;
      if (starts_character && characters++ == limit) return std::string(default_value.substr(0, i));
    }
    return std::string(default_value);
  } catch (const std::exception&) {
    return std::string(default_value);
  }
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file) {
  try {
    const std::string file_section = ToFileName(section);
    const std::string file_key = ToFileName(key);
    if (file_section.empty() || file_key.empty() || file_section.find(']') != std::string::npos ||
        file_key.find('=') != std::string::npos) {
      return false;
    }
    // A missing folder is not created: writing the temporary file beside the target fails.
    std::string bytes;
    if (ReadWholeFile(file, bytes) == FileRead::kFailed) return false;
    return ReplaceFile(file, WithKeySet(bytes, file_section, file_key, ToFileText(value)));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace orv
