#include "platform/owned_file.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
// Reads the open descriptor to its end, at most one byte beyond the bound.
ProfileFileState ReadAll(int fd, std::size_t expected_size, std::string& bytes,
                         std::error_code& error) {
  constexpr std::size_t kMost = kMaxProfileFileBytes + 1;
  bytes.resize(std::min(expected_size + 1, kMost));
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (got == kMost) break;
      bytes.resize(std::min(std::max(2 * got, std::size_t{4096}), kMost));
    }
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error.assign(errno, std::generic_category());
      return ProfileFileState::kUnreadable;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return got > kMaxProfileFileBytes ? ProfileFileState::kTooLarge : ProfileFileState::kRead;
}
#endif

}  // namespace

std::string OwnedFile::Problem() const {
  switch (state) {
    case ProfileFileState::kNotRegular:
      return symbolic_link ? "is a symbolic link" : "is not a regular file";
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

#ifndef _WIN32

OwnedFile ReadOwnedFile(const fs::path& file) {
  OwnedFile out;
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) {
    const int open_error = errno;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 && errno == ENOENT) {
      out.state = ProfileFileState::kMissing;
    } else if (open_error == ELOOP || S_ISLNK(info.st_mode)) {
      out.state = ProfileFileState::kNotRegular;
      out.symbolic_link = true;
    } else {
      out.state = ProfileFileState::kUnreadable;
      out.error.assign(open_error, std::generic_category());
    }
    return out;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    out.state = ProfileFileState::kUnreadable;
    out.error.assign(errno, std::generic_category());
  } else {
    out.stat_known = true;
    out.owner = static_cast<std::uint32_t>(info.st_uid);
    out.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
    out.links = static_cast<std::uint64_t>(info.st_nlink);
    if (!S_ISREG(info.st_mode)) {
      out.state = ProfileFileState::kNotRegular;
    } else if (info.st_size < 0 ||
               static_cast<std::uintmax_t>(info.st_size) > kMaxProfileFileBytes) {
      out.state = ProfileFileState::kTooLarge;
    } else {
      // A regular file: plain blocking reads, which never wait on one anyway.
      const int flags = ::fcntl(fd, F_GETFL);
      if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
      out.state = ReadAll(fd, static_cast<std::size_t>(info.st_size), out.bytes, out.error);
    }
  }
  ::close(fd);
  if (out.state != ProfileFileState::kRead) out.bytes.clear();
  return out;
}

std::uint32_t EffectiveUserId() {
  return static_cast<std::uint32_t>(::geteuid());
}

std::string UserName(std::uint32_t user_id) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(static_cast<uid_t>(user_id), &entry, buffer.data(), buffer.size(), &found) ==
          0 &&
      found != nullptr && found->pw_name != nullptr) {
    return found->pw_name;
  }
  return "uid " + std::to_string(user_id);
}

#else

// Windows: no links to refuse and no owner to judge here; the file's type and size still are.
OwnedFile ReadOwnedFile(const fs::path& file) {
  OwnedFile out;
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) return out;
  if (!fs::is_regular_file(status)) {
    out.state = ProfileFileState::kNotRegular;
    return out;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    out.state = ProfileFileState::kUnreadable;
    out.error = std::make_error_code(std::errc::permission_denied);
    return out;
  }
  std::string bytes(kMaxProfileFileBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  out.state =
      bytes.size() > kMaxProfileFileBytes ? ProfileFileState::kTooLarge : ProfileFileState::kRead;
  if (out.state == ProfileFileState::kRead) out.bytes = std::move(bytes);
  out.links = 1;
  return out;
}

std::uint32_t EffectiveUserId() {
  return 0;
}

std::string UserName(std::uint32_t user_id) {
  return "uid " + std::to_string(user_id);
}

#endif

}  // namespace orv
