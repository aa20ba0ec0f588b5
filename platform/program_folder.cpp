#include "platform/program_folder.h"

#include <cerrno>
#include <string_view>

#include <unistd.h>

namespace orv {
namespace {

constexpr const char* kExecutableLink = "/proc/self/exe";

}  // namespace

std::string ReadSymbolicLink(const std::string& link, std::error_code& error) {
  error.clear();
  // The length of a name is not bounded by PATH_MAX: grow until the whole of it fits.
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n < 0) {
      error.assign(errno, std::generic_category());
      return {};
    }
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

ProgramFolderLookup FindProgramFolder(const LinkReader& read_link) {
  std::error_code error;
  const std::string target = read_link(kExecutableLink, error);
  if (error) {
    return {{}, std::string(kExecutableLink) + " cannot be read (" + error.message() + ")"};
  }
  if (target.empty() || target.front() != '/' || target.find('\0') != std::string::npos) {
    return {{}, std::string(kExecutableLink) + " names no absolute file (\"" + target + "\")"};
  }
  std::filesystem::path folder = std::filesystem::path(target).parent_path();
  return {std::move(folder), {}};
}

ProgramFolderLookup FindProgramFolder() {
  return FindProgramFolder(ReadSymbolicLink);
}

}  // namespace orv
