#include "platform/trusted_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/safe_file.h"
#include "platform/users.h"

namespace orv {

std::string OwnershipProblem(const struct stat& info) {
  const auto owner = static_cast<std::uint32_t>(info.st_uid);
  if (owner != 0 && owner != EffectiveUserId())
    return "belongs to user " + UserName(owner) + ", neither root nor the user running the program";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return "can be changed by other users (chmod go-w)";
  return {};
}

std::optional<std::string> ReadTrustedFile(const std::filesystem::path& file, FileSecrecy secrecy,
                                           std::size_t max_bytes, std::string& why) {
  std::error_code error;
  struct stat info {};
  FileDescriptor fd = OpenSharedFile(file, O_RDONLY, 0, error, &info);
  if (!fd.valid()) {
    why = IsRefusal(error) ? error.message() : "cannot be read (" + error.message() + ")";
    return std::nullopt;
  }
  // Any other user's file (a key of theirs, or one they planted) would put their bytes where
  // this program's go.
  if (why = OwnershipProblem(info); !why.empty()) return std::nullopt;
  if (secrecy == FileSecrecy::kSecret && (info.st_mode & S_IROTH) != 0) {
    why = "can be read by every user (chmod o-r, or 640 with the group that runs the program)";
    return std::nullopt;
  }
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = "cannot be read";
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > max_bytes) {
      why = "is longer than " + std::to_string(max_bytes) + " bytes";
      return std::nullopt;
    }
  }
  return bytes;
}

}  // namespace orv
