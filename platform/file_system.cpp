#include "platform/file_system.h"

#include <exception>
#include <fstream>
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

bool AppendToFile(const fs::path& p, std::string_view bytes) {
  try {
    std::ofstream out(p, std::ios::binary | std::ios::app);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace orv
