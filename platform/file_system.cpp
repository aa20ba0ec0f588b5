#include "platform/file_system.h"

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

bool AppendToFile(const fs::path& p, std::string_view bytes) {
  std::FILE* file = OpenFile(p, "ab");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace orv
