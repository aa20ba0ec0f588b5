#include "platform/file_system.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace orv {

namespace fs = std::filesystem;

bool EntryExists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

bool CreateFolder(const fs::path& p) {
  std::error_code ec;
  return fs::create_directory(p, ec) && !ec;
}

bool DeleteFile(const fs::path& p) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(p, ec);
  if (ec || fs::is_directory(status)) return false;
  return fs::remove(p, ec) && !ec;
}

std::FILE* OpenFile(const fs::path& p, const char* mode) {
#ifdef _WIN32
  const std::wstring wide_mode(mode, mode + std::strlen(mode));
  return _wfopen(p.c_str(), wide_mode.c_str());
#else
  return std::fopen(p.c_str(), mode);
#endif
}

bool AppendToFile(const fs::path& p, std::string_view bytes, std::error_code* error) {
  auto fail = [error] {
    if (error != nullptr) *error = std::error_code(errno, std::generic_category());
    return false;
  };
  errno = 0;
  std::FILE* file = OpenFile(p, "ab");
  if (file == nullptr) return fail();
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int write_errno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written) errno = write_errno;
  if (!written || !closed) return fail();
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace orv
