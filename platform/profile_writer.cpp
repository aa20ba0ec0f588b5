// Rewriting a profile file: one key set, the rest of the file byte for byte, under a lock that
// keeps two programs from losing each other's keys, through a fresh file renamed over the old.
#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <random>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/profile_detail.h"
#include "platform/safe_file.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace profile_detail;

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
//
// The new file also keeps the old one's owner where the system allows it (a program run by
// root): a rewrite must never turn another user's file into one of the writer's own, which the
// writer would then trust. Elsewhere the trust of a shared folder's file never rests on the
// file alone (see the site settings).
bool ReplaceFile(const fs::path& file, const std::string& bytes, int old_mode,
                 std::uint32_t old_owner, std::string& problem) {
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
  if (old_mode >= 0 && old_owner != static_cast<std::uint32_t>(::geteuid()) &&
      ::fchown(out.get(), static_cast<uid_t>(old_owner), static_cast<gid_t>(-1)) != 0) {
    // Refused to anyone but root: the file becomes the writer's, as any rewrite does.
  }
  // On the handle, never through the name; a settings file is never executable or set-ID.
  if (old_mode >= 0 && ::fchmod(out.get(), static_cast<mode_t>(old_mode & 0666)) != 0) {
    return fail("cannot be given the file's permissions");
  }
  if (!out.Close()) return fail("cannot be written");
  if (::rename(temporary.c_str(), file.c_str()) != 0) return fail("cannot replace the file");
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
    // Two programs rewriting at once would each miss the other's key: the read, the change and
    // the rename happen under the lock, with the file as it is then.
    const FileDescriptor lock = LockProfile(file, reason);
    if (!lock.valid()) return fail();
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
    if (!ReplaceFile(file, new_bytes, old_mode, old.user, reason)) return fail();
    if (problem != nullptr) problem->clear();
    return true;
  } catch (const std::exception&) {
    reason = file.string() + " cannot be written (out of memory)";
    return fail();
  }
}

}  // namespace orv
