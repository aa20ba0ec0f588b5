#include "access/login_backoff_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/safe_file.h"

namespace orv {
namespace {

// Far beyond a full table's lines.
constexpr std::size_t kMostBytes = 4 << 20;

std::string Why(const std::filesystem::path& file, const std::string& what) {
  return file.string() + " " + what;
}

}  // namespace

std::optional<std::string> ReadLogInBackOff(const std::filesystem::path& file,
                                            std::string& problem) {
  problem.clear();
  std::error_code error;
  struct stat info {};
  FileDescriptor in = OpenSharedFile(file, O_RDONLY, 0, error, &info);
  if (!in.valid()) {
    if (error != std::errc::no_such_file_or_directory)
      problem = Why(file, "cannot be read: " + error.message());
    return std::nullopt;
  }
  if (static_cast<std::size_t>(info.st_size) > kMostBytes) {
    problem = Why(file, "is larger than any back-off table");
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(in.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

bool WriteLogInBackOff(const std::filesystem::path& file, const std::string& text,
                       std::string& problem) {
  std::filesystem::path temporary = file;
  temporary += "." + std::to_string(std::random_device()() % 1000000);
  std::error_code error;
  FileDescriptor out = OpenSharedFile(temporary, O_WRONLY | O_CREAT | O_EXCL, 0600, error);
  if (!out.valid()) {
    problem = Why(temporary, "cannot be created: " + error.message());
    return false;
  }
  const bool written =
      WriteAll(out.get(), text.data(), text.size()) && ::fsync(out.get()) == 0 && out.Close();
  if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
    problem = Why(file, std::string("cannot be replaced: ") + std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace orv
