#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"
#include "platform/profile_detail.h"
#include "platform/safe_file.h"
#include "platform/text_encoding.h"

namespace orv {
namespace profile_detail {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t";

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

// Orders names without regard to letter case: negative, zero or positive like strcmp.
int CompareIgnoreCase(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(FoldCase(a[i]));
    const auto y = static_cast<unsigned char>(FoldCase(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
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

// Reads at most kMaxProfileFileBytes + 1 bytes through read_some(buffer, size), which returns the
// count read, 0 at the end or -1 on failure: a file that grows while it is read, or whose size was
// wrong, still cannot make the read unbounded.
template <class ReadSome>
ProfileFileState ReadBounded(std::size_t expected_size, ReadSome read_some, std::string& bytes) {
  constexpr std::size_t kMost = kMaxProfileFileBytes + 1;
  bytes.resize(std::min(expected_size + 1, kMost));
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (got == kMost) break;
      bytes.resize(std::min(std::max(2 * got, std::size_t{4096}), kMost));
    }
    const long n = read_some(bytes.data() + got, bytes.size() - got);
    if (n < 0) return ProfileFileState::kUnreadable;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return got > kMaxProfileFileBytes ? ProfileFileState::kTooLarge : ProfileFileState::kRead;
}

// The whole file into bytes when it is a regular file within the bound; bytes stay empty
// otherwise. error says why with kUnreadable, and what was refused with kNotRegular. *owner,
// when given, receives the owner and permissions of a file that was read, from its handle.
ProfileFileState ReadProfileFile(const fs::path& file, std::string& bytes, std::error_code& error,
                                 ProfileFileOwner* owner) {
  bytes.clear();
  error.clear();
  ProfileFileState state = ProfileFileState::kUnreadable;
  // Opened as a shared folder's file: a link, a FIFO or a second name of someone's file is
  // refused on the descriptor before a byte is read, and opening never waits.
  struct stat info {};
  FileDescriptor in = OpenSharedFile(file, O_RDONLY, 0, error, &info);
  if (!in.valid()) {
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
      error.clear();
      return ProfileFileState::kMissing;
    }
    if (IsRefusal(error) && error != MakeErrorCode(SharedFileRefusal::kNoFolder)) {
      return ProfileFileState::kNotRegular;
    }
    return ProfileFileState::kUnreadable;
  }
  if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > kMaxProfileFileBytes) {
    state = ProfileFileState::kTooLarge;
  } else {
    const int fd = in.get();
    state = ReadBounded(
        static_cast<std::size_t>(info.st_size),
        [&](char* buffer, std::size_t size) -> long {
          for (;;) {
            const ssize_t n = ::read(fd, buffer, size);
            if (n >= 0 || errno != EINTR) {
              if (n < 0) error.assign(errno, std::generic_category());
              return static_cast<long>(n);
            }
          }
        },
        bytes);
    if (owner != nullptr) {
      *owner = ProfileFileOwner{static_cast<std::uint32_t>(info.st_uid),
                                static_cast<std::uint32_t>(info.st_mode & 07777)};
    }
  }
  if (state != ProfileFileState::kRead) bytes.clear();
  return state;
}

// Why a file that is there was not read, to follow its name.
std::string ProblemText(ProfileFileState state, const std::error_code& error) {
  // A refusal says what stood there: a link, a FIFO, a second name of some file.
  if (IsRefusal(error)) return error.message();
  switch (state) {
    case ProfileFileState::kNotRegular:
      return "is not a regular file";
    case ProfileFileState::kTooLarge:
      return "is larger than " + std::to_string(kMaxProfileFileBytes >> 20) + " MiB";
    case ProfileFileState::kUnreadable:
      return "cannot be read" + (error ? " (" + error.message() + ")" : std::string());
    case ProfileFileState::kRead:
    case ProfileFileState::kMissing:
      break;
  }
  return {};
}

// The default obeys the same limit as a value, counted in characters.
std::string CutToCharacters(std::string_view utf8, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
    if (starts_character && characters++ == limit) return std::string(utf8.substr(0, i));
  }
  return std::string(utf8);
}

}  // namespace profile_detail

using namespace profile_detail;

ProfileSnapshot::ProfileSnapshot(const std::filesystem::path& file) {
  try {
    ProfileFileOwner owner;
    state_ = ReadProfileFile(file, text_, error_, &owner);
    if (state_ == ProfileFileState::kRead) owner_ = owner;
    Index();
  } catch (const std::exception&) {
    *this = ProfileSnapshot();
    state_ = ProfileFileState::kUnreadable;
    error_ = std::make_error_code(std::errc::not_enough_memory);
  }
}

ProfileSnapshot ProfileSnapshot::FromText(std::string text) {
  ProfileSnapshot snapshot;
  if (text.size() > kMaxProfileFileBytes) {
    snapshot.state_ = ProfileFileState::kTooLarge;
    return snapshot;
  }
  snapshot.state_ = ProfileFileState::kRead;
  snapshot.text_ = std::move(text);
  snapshot.Index();
  return snapshot;
}

// One pass over the text finds every section and key line, as Locate would meet them; sorting
// them by name then turns each lookup into a binary search.
void ProfileSnapshot::Index() {
  const std::string_view text = text_;
  // An empty part (Trim gives one with no place in the text) is an empty span anywhere.
  const auto span = [&](std::string_view part) {
    if (part.empty()) return Span{};
    return Span{static_cast<std::uint32_t>(part.data() - text.data()),
                static_cast<std::uint32_t>(part.size())};
  };
  std::uint32_t number = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const Line line = LineAt(text, pos);
    pos = line.next;
    ++number;
    const std::string_view content = LineText(text, line);
    if (const auto name = SectionName(content)) {
      const auto at = static_cast<std::uint32_t>(entries_.size());
      sections_.push_back(Section{span(*name), at, at});
      continue;
    }
    if (sections_.empty()) continue;  // lines before the first section are never matched
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) continue;
    entries_.push_back(Entry{span(Trim(content.substr(0, equals))),
                             span(Trim(content.substr(equals + 1))), number});
    sections_.back().end_entry = static_cast<std::uint32_t>(entries_.size());
  }
  // Both lists are in the file's order now; a stable sort keeps it among equal names, so that a
  // search finds the first of them.
  const auto by_name = [this](Span a, Span b) { return CompareIgnoreCase(Text(a), Text(b)) < 0; };
  for (const Section& section : sections_) {
    std::stable_sort(entries_.begin() + section.first_entry, entries_.begin() + section.end_entry,
                     [&](const Entry& a, const Entry& b) { return by_name(a.key, b.key); });
  }
  std::stable_sort(sections_.begin(), sections_.end(),
                   [&](const Section& a, const Section& b) { return by_name(a.name, b.name); });
}

const ProfileSnapshot::Entry* ProfileSnapshot::Find(std::string_view section,
                                                    std::string_view key) const {
  const std::string file_section = ToFileName(section);
  const auto found_section = std::partition_point(
      sections_.begin(), sections_.end(),
      [&](const Section& s) { return CompareIgnoreCase(Text(s.name), file_section) < 0; });
  if (found_section == sections_.end() ||
      !EqualsIgnoreCase(Text(found_section->name), file_section))
    return nullptr;
  const std::string file_key = ToFileName(key);
  const auto first = entries_.begin() + found_section->first_entry;
  const auto last = entries_.begin() + found_section->end_entry;
  const auto found_key = std::partition_point(
      first, last, [&](const Entry& e) { return CompareIgnoreCase(Text(e.key), file_key) < 0; });
  if (found_key == last || !EqualsIgnoreCase(Text(found_key->key), file_key)) return nullptr;
  return &*found_key;
}

std::string ProfileSnapshot::Read(std::string_view section, std::string_view key,
                                  std::string_view default_value, std::size_t capacity) const {
  const std::size_t limit = capacity == 0 ? 0 : capacity - 1;
  try {
    if (const Entry* entry = Find(section, key))
      return Cp1252ToUtf8(Text(entry->value).substr(0, limit));
    return CutToCharacters(default_value, limit);
  } catch (const std::exception&) {
    return std::string(default_value);
  }
}

std::optional<std::size_t> ProfileSnapshot::LineOf(std::string_view section,
                                                   std::string_view key) const {
  try {
    if (const Entry* entry = Find(section, key)) return entry->line;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::vector<ProfileSnapshot::KeyLine> ProfileSnapshot::KeyLines() const {
  std::vector<KeyLine> lines;
  for (const Section& section : sections_) {
    for (std::uint32_t i = section.first_entry; i < section.end_entry; ++i) {
      const Entry& entry = entries_[i];
      lines.push_back(KeyLine{Cp1252ToUtf8(Text(section.name)), Cp1252ToUtf8(Text(entry.key)),
                              Cp1252ToUtf8(Text(entry.value)), entry.line});
    }
  }
  std::sort(lines.begin(), lines.end(),
            [](const KeyLine& a, const KeyLine& b) { return a.line < b.line; });
  return lines;
}

std::string ProfileSnapshot::Problem() const {
  return ProblemText(state_, error_);
}

bool ProfileSnapshot::refused_as_link() const {
  return error_ == MakeErrorCode(SharedFileRefusal::kSymbolicLink) ||
         error_ == MakeErrorCode(SharedFileRefusal::kOtherLinks);
}

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view default_value, std::size_t capacity,
                              const std::filesystem::path& file) {
  return ProfileSnapshot(file).Read(section, key, default_value, capacity);
}

}  // namespace orv
