// Reading, judging and rewriting the users file.

#include "access/users_file.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/safe_file.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

// The group's id, or none when there is no such group (a machine without the service).
std::optional<gid_t> GroupId(const std::string& name) {
  if (name.empty()) return std::nullopt;
  struct group entry {};
  struct group* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return std::nullopt;
  }
  return found->gr_gid;
}

// Far beyond any site's operators; a bigger file is not a users file.
constexpr std::size_t kMaxFileSize = 1 << 20;
constexpr std::size_t kMaxNameLength = 32;
constexpr std::size_t kMaxHashLength = 256;
constexpr mode_t kGroupOrOthersWrite = S_IWGRP | S_IWOTH;

bool IsCryptChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '/';
}

// "$y$" then parameters, salt and hash: three non-empty runs of crypt's own alphabet.
bool IsYescryptHash(std::string_view hash) {
  constexpr std::string_view kPrefix = "$y$";
  if (hash.size() > kMaxHashLength || !hash.starts_with(kPrefix)) return false;
  hash.remove_prefix(kPrefix.size());
  int runs = 0;
  std::size_t run_length = 0;
  for (const char c : hash) {
    if (c == '$') {
      if (run_length == 0) return false;
      ++runs;
      run_length = 0;
    } else if (IsCryptChar(c)) {
      ++run_length;
    } else {
      return false;
    }
  }
  return run_length > 0 && runs == 2;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = line.find(':', start);
    fields.push_back(line.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return fields;
}

// What is wrong with a line, or "" when it is a good one (then stored in op).
std::string JudgeLine(std::string_view line, Operator& op) {
  const std::vector<std::string_view> fields = SplitFields(line);
  if (fields.size() != 4) return "expected name:level:hash:disabled";
  if (!IsValidOperatorName(fields[0])) {
    return "the name must be 1 to 32 of the characters A-Z a-z 0-9 . _ -";
  }
  if (fields[1] != "2" && fields[1] != "3") return "the level must be 2 or 3";
  if (!IsYescryptHash(fields[2])) return "the PIN hash is not a yescrypt hash ($y$...)";
  if (fields[3] != "0" && fields[3] != "1") return "disabled must be 0 or 1";
  op.name = std::string(fields[0]);
  op.level = fields[1] == "2" ? AccessLevel::kLevel2 : AccessLevel::kLevel3;
  op.hash = std::string(fields[2]);
  op.disabled = fields[3] == "1";
  return {};
}

void Say(const NoticeFn& notice, NoticeLevel level, std::string text) {
  if (notice) notice(Notice{level, std::move(text)});
}

// Whether others than root and the owner could remove or replace entries of the folder (a
// missing users file turns levels off, so its absence must be as trustworthy as its content).
bool FolderOpenToOthers(const struct stat& folder, std::uint32_t expected_owner) {
  if (folder.st_uid != 0 && folder.st_uid != expected_owner) return true;
  return (folder.st_mode & kGroupOrOthersWrite) != 0 && (folder.st_mode & S_ISVTX) == 0;
}

bool ReadAll(int fd, std::size_t size, std::string& text) {
  text.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, text.data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return true;
}

}  // namespace

const Operator* UsersFile::Find(std::string_view name) const {
  const auto it = std::find_if(operators.begin(), operators.end(),
                               [name](const Operator& op) { return op.name == name; });
  return it == operators.end() ? nullptr : &*it;
}

Operator* UsersFile::Find(std::string_view name) {
  return const_cast<Operator*>(std::as_const(*this).Find(name));
}

bool IsValidOperatorName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

std::vector<Operator> ParseUsers(std::string_view text, const std::string& file_name,
                                 const NoticeFn& notice) {
  std::vector<Operator> operators;
  int line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (line.empty() || line.front() == '#') continue;
    Operator op;
    std::string problem = JudgeLine(line, op);
    if (problem.empty()) {
      const bool seen = std::any_of(operators.begin(), operators.end(),
                                    [&op](const Operator& other) { return other.name == op.name; });
      if (!seen) {
        operators.push_back(std::move(op));
        continue;
      }
      problem = "a second line for " + op.name;
    }
    Say(notice, NoticeLevel::kWarning,
        file_name + " line " + std::to_string(line_number) + ": " + problem +
            "; the line is ignored.");
  }
  return operators;
}

std::string FormatUsers(const std::vector<Operator>& operators) {
  std::string text =
      "# Orvandel operators: name:level:hash:disabled. Managed by orvandel --user-*.\n";
  for (const Operator& op : operators) {
    text += op.name + ':' + std::to_string(LevelNumber(op.level)) + ':' + op.hash + ':' +
            (op.disabled ? '1' : '0') + '\n';
  }
  return text;
}

UsersFile ReadUsersFile(const fs::path& file, const NoticeFn& notice,
                        std::uint32_t expected_owner) {
  UsersFile users;
  const auto untrusted = [&](const std::string& why) {
    users.mode = AccessMode::kOnButUntrusted;
    Say(notice, NoticeLevel::kError,
        file.string() + " " + why +
            ": access levels stay on, and nobody can log in above level 1. It must be a file "
            "of root's that only root may write.");
    return users;
  };

  if (!HasKnownFolder(file)) return untrusted("is not named by a full path");
  struct stat folder {};
  const fs::path folder_path = file.parent_path();
  if (::stat(folder_path.c_str(), &folder) != 0) {
    if (errno == ENOENT) return users;  // no folder, no file
    return untrusted("is in a folder that cannot be checked (" + std::string(std::strerror(errno)) +
                     ")");
  }

  struct stat info {};
  std::error_code error;
  FileDescriptor fd = OpenSharedFile(file, O_RDONLY, 0, error, &info);
  if (!fd.valid() && error == std::errc::no_such_file_or_directory) {
    if (FolderOpenToOthers(folder, expected_owner)) {
      return untrusted("is missing from a folder that other users may change");
    }
    return users;
  }
  if (!fd.valid()) return untrusted(error.message());
  if (info.st_uid != expected_owner) return untrusted("belongs to another user");
  if ((info.st_mode & kGroupOrOthersWrite) != 0) return untrusted("may be written by others");
  if (FolderOpenToOthers(folder, expected_owner)) {
    return untrusted("is in a folder that other users may change");
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileSize) return untrusted("is too big");
  std::string text;
  if (!ReadAll(fd.get(), static_cast<std::size_t>(info.st_size), text)) {
    return untrusted("could not be read (" + std::string(std::strerror(errno)) + ")");
  }
  users.mode = AccessMode::kOn;
  users.operators = ParseUsers(text, file.string(), notice);
  return users;
}

bool WriteUsersFile(const fs::path& file, const std::vector<Operator>& operators,
                    std::string& error, const std::string& reader_group) {
  const std::string text = FormatUsers(operators);
  std::string temp = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
  const auto fail = [&](const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
  };
  // mkostemp creates the file exclusively, mode 0600: nothing planted under that name is used.
  FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.valid()) return fail("cannot create a file in " + file.parent_path().string());
  const auto fail_and_remove = [&](const std::string& what) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return fail(what);
  };
  const std::optional<gid_t> readers = GroupId(reader_group);
  if (readers && ::fchown(fd.get(), static_cast<uid_t>(-1), *readers) != 0) {
    return fail_and_remove("cannot give it to the group " + reader_group);
  }
  if (::fchmod(fd.get(), readers ? S_IRUSR | S_IWUSR | S_IRGRP : S_IRUSR | S_IWUSR) != 0) {
    return fail_and_remove("cannot set its mode");
  }
  if (!WriteAll(fd.get(), text.data(), text.size())) return fail_and_remove("cannot write it");
  if (::fsync(fd.get()) != 0) return fail_and_remove("cannot sync it");
  if (!fd.Close()) return fail_and_remove("cannot close it");
  if (::rename(temp.c_str(), file.c_str()) != 0) return fail_and_remove("cannot rename it");
  // The rename is on disk only once the folder is.
  FileDescriptor folder(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) ::fsync(folder.get());
  error.clear();
  return true;
}

}  // namespace orv
