#include "platform/file_system.h"

#include "platform/safe_file.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv {

namespace fs = std::filesystem;

std::error_code NotARegularFile() {
  return MakeErrorCode(SharedFileRefusal::kNotRegular);
}

bool EntryExists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

bool CreateFolder(const fs::path& p) {
  if (!HasKnownFolder(p)) return false;
  std::error_code ec;
  return fs::create_directory(p, ec) && !ec;
}

bool DeleteFile(const fs::path& p) {
  if (!HasKnownFolder(p)) return false;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(p, ec);
  if (ec || fs::is_directory(status)) return false;
  return fs::remove(p, ec) && !ec;
}

std::FILE* OpenFile(const fs::path& p, const char* mode) {
  return std::fopen(p.c_str(), mode);
}

namespace {

bool WriteRecord(const fs::path& p, std::string_view bytes, std::error_code* error,
                 bool create_new) {
  auto fail = [error](int code) {
    if (error != nullptr) *error = std::error_code(code, std::generic_category());
    return false;
  };
  // Never through a link, never waiting on a FIFO, never into a file with a second name.
  std::error_code refused;
  FileDescriptor file =
      OpenSharedFile(p, O_WRONLY | O_APPEND | O_CREAT | (create_new ? O_EXCL : 0), 0666, refused);
  if (!file.valid()) {
    if (error != nullptr) *error = refused;
    return false;
  }
  const int fd = file.get();
  ssize_t n = 0;
  do {
    n = write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  const int write_errno = errno;
  if (n >= 0 && static_cast<std::size_t>(n) < bytes.size()) {
    // Part of the record went in before the disk filled up: take it back out, so that the file
    // never holds a fragment. Appending put the offset right after our bytes.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end >= n && ftruncate(fd, end - n) != 0) {
      // Cannot happen on a local file; the fragment stays, and the record is tried again.
    }
    return fail(ENOSPC);
  }
  if (n < 0) return fail(write_errno);
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace

bool AppendToFile(const fs::path& p, std::string_view bytes, std::error_code* error) {
  return WriteRecord(p, bytes, error, false);
}

bool CreateFileWith(const fs::path& p, std::string_view bytes, std::error_code* error) {
  return WriteRecord(p, bytes, error, true);
}

}  // namespace orv
