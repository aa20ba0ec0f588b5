#include "platform/safe_file.h"

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace orv {
namespace {

class SharedFileCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "orvandel.shared-file"; }
  std::string message(int code) const override {
    switch (static_cast<SharedFileRefusal>(code)) {
      case SharedFileRefusal::kSymbolicLink:
        return "is a symbolic link";
      case SharedFileRefusal::kNotRegular:
        return "is not a regular file";
      case SharedFileRefusal::kOtherLinks:
        return "has other hard links";
      case SharedFileRefusal::kNoFolder:
        return "is not in a known folder";
    }
    return "is refused";
  }
};

const SharedFileCategory& Category() {
  static const SharedFileCategory category;
  return category;
}

}  // namespace

std::error_code MakeErrorCode(SharedFileRefusal refusal) {
  return std::error_code(static_cast<int>(refusal), Category());
}

bool IsRefusal(const std::error_code& error) {
  return error.category() == Category();
}

bool HasKnownFolder(const std::filesystem::path& p) {
  return p.is_absolute();
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

bool FileDescriptor::Close() {
  if (fd_ < 0) return true;
  // Linux frees the descriptor even when close() is interrupted: never retried.
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return closed;
}

// How often a file replaced while being opened is opened again, and the pause before each try:
// a rename leaves the old file under the name for some microseconds, so at most 5 ms in all.
constexpr int kReopenAttempts = 50;
constexpr auto kReopenPause = std::chrono::microseconds(100);

FileDescriptor OpenSharedFile(const std::filesystem::path& p, int flags, mode_t mode,
                              std::error_code& error, struct stat* info) {
  error.clear();
  if (!HasKnownFolder(p)) {
    error = MakeErrorCode(SharedFileRefusal::kNoFolder);
    return {};
  }
  struct stat own {};
  struct stat& st = info != nullptr ? *info : own;
  FileDescriptor file;
  // A file with no name left was replaced (another program renamed a new one over it) or removed
  // between the open and the look at it: what the name holds now is opened again.
  for (int attempt = 0;; ++attempt) {
    int fd = -1;
    do {
      fd = ::open(p.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      // O_NOFOLLOW answers a link in the last place with ELOOP (an exclusive create, EEXIST).
      if (errno == ELOOP) {
        error = MakeErrorCode(SharedFileRefusal::kSymbolicLink);
      } else {
        error.assign(errno, std::generic_category());
      }
      return {};
    }
    file = FileDescriptor(fd);
    if (::fstat(fd, &st) != 0) {
      error.assign(errno, std::generic_category());
      return {};
    }
    if (st.st_nlink != 0 || !S_ISREG(st.st_mode)) break;
    if (attempt == kReopenAttempts) {
      error.assign(ENOENT, std::generic_category());
      return {};
    }
    file.Close();
    std::this_thread::sleep_for(kReopenPause);
  }
  const int fd = file.get();
  if (!S_ISREG(st.st_mode)) {
    error = MakeErrorCode(SharedFileRefusal::kNotRegular);
    return {};
  }
  // A second name for the file may be one the user never meant to share.
  if (st.st_nlink != 1) {
    error = MakeErrorCode(SharedFileRefusal::kOtherLinks);
    return {};
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    error.assign(errno, std::generic_category());
    return {};
  }
  return file;
}

std::error_code InspectSharedFile(const std::filesystem::path& p) {
  if (!HasKnownFolder(p)) return MakeErrorCode(SharedFileRefusal::kNoFolder);
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return {errno, std::generic_category()};
  if (S_ISLNK(st.st_mode)) return MakeErrorCode(SharedFileRefusal::kSymbolicLink);
  if (!S_ISREG(st.st_mode)) return MakeErrorCode(SharedFileRefusal::kNotRegular);
  if (st.st_nlink != 1) return MakeErrorCode(SharedFileRefusal::kOtherLinks);
  return {};
}

bool WriteAll(int fd, const char* data, std::size_t size, std::size_t* written) {
  std::size_t done = 0;
  bool ok = true;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return ok;
}

}  // namespace orv
