#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <random>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fstream>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/file_system.h"
#include "platform/safe_file.h"
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

#ifdef _WIN32
// Why a file could not be opened: it is missing, it is no regular file (a socket, say), or
// something else that error keeps.
ProfileFileState OpenFailure(const fs::path& file) {
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) return ProfileFileState::kNotRegular;
  // A link that leads nowhere is there, but cannot be read.
  if (!fs::exists(fs::symlink_status(file, ec))) return ProfileFileState::kMissing;
  return ProfileFileState::kUnreadable;
}
#endif

// The whole file into bytes when it is a regular file within the bound; bytes stay empty
// otherwise. error says why with kUnreadable, and what was refused with kNotRegular. *owner,
// when given, receives the owner and permissions of a file that was read, from its handle.
ProfileFileState ReadProfileFile(const fs::path& file, std::string& bytes, std::error_code& error,
                                 ProfileFileOwner* owner = nullptr) {
  bytes.clear();
  error.clear();
  ProfileFileState state = ProfileFileState::kUnreadable;
#ifndef _WIN32
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
#else
  // Windows has no FIFOs in the file system; the type and size are checked before opening.
  static_cast<void>(owner);
  if (!HasKnownFolder(file)) {
    error = MakeErrorCode(SharedFileRefusal::kNoFolder);
    return ProfileFileState::kUnreadable;
  }
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) return OpenFailure(file);
  if (!fs::is_regular_file(status)) return ProfileFileState::kNotRegular;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) {
    error = ec;
    return ProfileFileState::kUnreadable;
  }
  if (size > kMaxProfileFileBytes) return ProfileFileState::kTooLarge;
  std::FILE* in = OpenFile(file, "rb");
  if (in == nullptr) {
    error.assign(errno, std::generic_category());
    return OpenFailure(file);
  }
  state = ReadBounded(
      static_cast<std::size_t>(size),
      [&](char* buffer, std::size_t n) -> long {
        const std::size_t got = std::fread(buffer, 1, n, in);
        if (got == 0 && std::ferror(in)) {
          error = std::make_error_code(std::errc::io_error);
          return -1;
        }
        return static_cast<long>(got);
      },
      bytes);
  std::fclose(in);
#endif
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

// "<file> <what is wrong>", for the reason of a failed write.
std::string Described(const fs::path& p, const std::error_code& error) {
  if (IsRefusal(error)) return p.string() + " " + error.message();
  return p.string() + " cannot be opened (" + error.message() + ")";
}

fs::path Beside(const fs::path& file, std::string_view suffix) {
  fs::path p = file;
  p += suffix;
  return p;
}

#ifdef _WIN32
// Writes the whole content beside the file and renames it over the file.
bool ReplaceFile(const fs::path& file, const std::string& bytes, int, std::string& problem) {
  const fs::path temporary = Beside(file, ".tmp");
  std::error_code ec;
  fs::remove(temporary, ec);  // left over from an interrupted write
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      problem = temporary.string() + " cannot be created";
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out.fail()) {
      fs::remove(temporary, ec);
      problem = temporary.string() + " cannot be written";
      return false;
    }
  }
  // The replacement keeps the old file's permissions; if they cannot be read, the default stays.
  const fs::file_status old_status = fs::status(file, ec);
  if (!ec && fs::exists(old_status)) fs::permissions(temporary, old_status.permissions(), ec);
  fs::rename(temporary, file, ec);
  if (ec) {
    problem = file.string() + " cannot be replaced (" + ec.message() + ")";
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}
#else
// How long a writer waits for another program's rewrite to end before it gives up; a rewrite
// takes milliseconds, so only a lock held on purpose or by a stuck program lasts that long.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockRetry = std::chrono::milliseconds(2);

// Locks "<file>.lock" for one read-modify-write of the file. The lock file stays: removing it
// would let a writer that opened it a moment earlier lock a file nobody else uses.
FileDescriptor LockProfile(const fs::path& file, std::string& problem) {
  const fs::path lock_file = Beside(file, ".lock");
  std::error_code error;
  // Read-only is enough for flock, and opens a lock file that another operator created.
  FileDescriptor lock = OpenSharedFile(lock_file, O_RDONLY | O_CREAT, 0666, error);
  if (!lock.valid()) {
    problem = Described(lock_file, error);
    return {};
  }
  const auto give_up = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) return lock;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      problem = lock_file.string() + " cannot be locked (" +
                std::error_code(errno, std::generic_category()).message() + ")";
      return {};
    }
    if (std::chrono::steady_clock::now() >= give_up) {
      problem = lock_file.string() + " stayed locked by another program for " +
                std::to_string(kLockWait.count()) + " s";
      return {};
    }
    std::this_thread::sleep_for(kLockRetry);
  }
}

// A name beside the file that no one else uses: "<file>.XXXXXX", created exclusively, so that
// nothing planted under a name that could be guessed is ever opened.
FileDescriptor CreateTemporary(const fs::path& file, fs::path& temporary, std::string& problem) {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix = ".";
    for (int i = 0; i < 6; ++i)
      suffix += kLetters[pick(random)];
    temporary = Beside(file, suffix);
    // Created with the umask's permissions, as any new file of the program.
    FileDescriptor out = OpenSharedFile(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666, error);
    if (out.valid()) return out;
    if (error != std::errc::file_exists) break;
  }
  problem = Described(temporary, error);
  return {};
}

// Writes the whole content to a new file beside the file, gives it the old file's permissions
// and renames it over the file: the rename is the last step, so a crash leaves the old file or
// the new one, never a part of either. On failure the new file is removed again. old_mode is
// negative for a file that did not exist: the new one keeps the umask's permissions.
bool ReplaceFile(const fs::path& file, const std::string& bytes, int old_mode,
                 std::string& problem) {
  fs::path temporary;
  FileDescriptor out = CreateTemporary(file, temporary, problem);
  if (!out.valid()) return false;
  const auto fail = [&](const std::string& what) {
    problem = temporary.string() + " " + what + " (" +
              std::error_code(errno, std::generic_category()).message() + ")";
    ::unlink(temporary.c_str());
    return false;
  };
  if (!WriteAll(out.get(), bytes.data(), bytes.size())) return fail("cannot be written");
  if (::fsync(out.get()) != 0) return fail("cannot be written");
  // On the handle, never through the name; a settings file is never executable or set-ID.
  if (old_mode >= 0 && ::fchmod(out.get(), static_cast<mode_t>(old_mode & 0666)) != 0) {
    return fail("cannot be given the file's permissions");
  }
  if (!out.Close()) return fail("cannot be written");
  if (::rename(temporary.c_str(), file.c_str()) != 0) return fail("cannot replace the file");
  return true;
}
#endif

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

// The default obeys the same limit as a value, counted in characters.
std::string CutToCharacters(std::string_view utf8, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
    if (starts_character && characters++ == limit) return std::string(utf8.substr(0, i));
  }
  return std::string(utf8);
}

}  // namespace

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
  for (std::size_t pos = 0; pos < text.size();) {
    const Line line = LineAt(text, pos);
    pos = line.next;
    const std::string_view content = LineText(text, line);
    if (const auto name = SectionName(content)) {
      const auto at = static_cast<std::uint32_t>(entries_.size());
      sections_.push_back(Section{span(*name), at, at});
      continue;
    }
    if (sections_.empty()) continue;  // lines before the first section are never matched
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) continue;
    entries_.push_back(
        Entry{span(Trim(content.substr(0, equals))), span(Trim(content.substr(equals + 1)))});
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

std::string ProfileSnapshot::Read(std::string_view section, std::string_view key,
                                  std::string_view default_value, std::size_t capacity) const {
  const std::size_t limit = capacity == 0 ? 0 : capacity - 1;
  try {
    const std::string file_section = ToFileName(section);
    const auto found_section = std::partition_point(
        sections_.begin(), sections_.end(),
        [&](const Section& s) { return CompareIgnoreCase(Text(s.name), file_section) < 0; });
    if (found_section != sections_.end() &&
        EqualsIgnoreCase(Text(found_section->name), file_section)) {
      const std::string file_key = ToFileName(key);
      const auto first = entries_.begin() + found_section->first_entry;
      const auto last = entries_.begin() + found_section->end_entry;
      const auto found_key = std::partition_point(first, last, [&](const Entry& e) {
        return CompareIgnoreCase(Text(e.key), file_key) < 0;
      });
      if (found_key != last && EqualsIgnoreCase(Text(found_key->key), file_key)) {
        return Cp1252ToUtf8(Text(found_key->value).substr(0, limit));
      }
    }
    return CutToCharacters(default_value, limit);
  } catch (const std::exception&) {
    return std::string(default_value);
  }
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

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file, std::string* problem) {
  std::string reason;
  const auto fail = [&] {
    if (problem != nullptr) *problem = reason;
    return false;
  };
  try {
    const std::string file_section = ToFileName(section);
    const std::string file_key = ToFileName(key);
    if (file_section.empty() || file_key.empty() || file_section.find(']') != std::string::npos ||
        file_key.find('=') != std::string::npos) {
      reason = "the name cannot be written to " + file.string();
      return fail();
    }
    // A missing folder is not created: writing the temporary file beside the target fails.
    // Only a missing file or a regular one within the bound is rewritten; a FIFO, device or link
    // in its place is refused rather than read or replaced. Looked at first without the lock, so
    // that nothing is created beside an entry that is refused anyway.
    std::string bytes;
    std::error_code error;
    ProfileFileOwner old;
    const auto readable = [&](ProfileFileState state) {
      if (state == ProfileFileState::kRead || state == ProfileFileState::kMissing) return true;
      reason = file.string() + " " + ProblemText(state, error);
      return false;
    };
    if (!readable(ReadProfileFile(file, bytes, error))) return fail();
#ifndef _WIN32
    // Two programs rewriting at once would each miss the other's key: the read, the change and
    // the rename happen under the lock, with the file as it is then.
    const FileDescriptor lock = LockProfile(file, reason);
    if (!lock.valid()) return fail();
#endif
    const ProfileFileState state = ReadProfileFile(file, bytes, error, &old);
    if (!readable(state)) return fail();
    // Nor is a file made that the next reading would refuse.
    const std::string new_bytes = WithKeySet(bytes, file_section, file_key, ToFileText(value));
    if (new_bytes.size() > kMaxProfileFileBytes) {
      reason = file.string() + " would grow larger than " +
               std::to_string(kMaxProfileFileBytes >> 20) + " MiB";
      return fail();
    }
    const int old_mode = state == ProfileFileState::kRead ? static_cast<int>(old.mode) : -1;
    if (!ReplaceFile(file, new_bytes, old_mode, reason)) return fail();
    if (problem != nullptr) problem->clear();
    return true;
  } catch (const std::exception&) {
    reason = file.string() + " cannot be written (out of memory)";
    return fail();
  }
}

}  // namespace orv
