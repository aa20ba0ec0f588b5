#include "platform/module_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/safe_file.h"
#include "platform/trusted_file.h"

namespace orv {
namespace {

// Empty when what info describes may be trusted with the program's code.
std::string TrustProblem(const struct stat& info, const char* what) {
  const std::string problem = OwnershipProblem(info);
  return problem.empty() ? problem : std::string(what) + " " + problem;
}

// Why open refused path; a link is said as such (a folder's shows as "not a directory").
std::string OpenProblem(int error, const std::filesystem::path& path, const char* what) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
    return std::string(what) + " is a symbolic link";
  if (error == ENOENT) return std::string(what) + " is missing";
  return std::string(what) + " cannot be opened (" + std::strerror(error) + ")";
}

}  // namespace

LoadedModule LoadTrustedModule(const std::filesystem::path& file) {
  LoadedModule module;
  const FileDescriptor folder(
      open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!folder.valid() || fstat(folder.get(), &info) != 0) {
    module.problem = OpenProblem(errno, file.parent_path(), "its folder");
    return module;
  }
  if (module.problem = TrustProblem(info, "its folder"); !module.problem.empty()) return module;

  FileDescriptor fd(openat(folder.get(), file.filename().c_str(),
                           O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid() || fstat(fd.get(), &info) != 0) {
    module.problem = OpenProblem(errno, file, "it");
    return module;
  }
  if (!S_ISREG(info.st_mode)) {
    module.problem = "it is not a regular file";
    return module;
  }
  if (module.problem = TrustProblem(info, "it"); !module.problem.empty()) return module;

  // The descriptor, not the name: a file swapped in after the checks is never the one loaded.
  const std::string by_descriptor = "/proc/self/fd/" + std::to_string(fd.get());
  module.handle = dlopen(by_descriptor.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module.handle == nullptr) {
    const char* error = dlerror();
    module.problem = std::string("it cannot be loaded (") + (error != nullptr ? error : "?") + ")";
  } else {
    // The loader knows the module by this name and would hand it out again for the same name:
    // the descriptor stays open so that no later module is loaded through its number.
    fd.Release();
  }
  return module;
}

void* ModuleSymbol(const LoadedModule& module, const char* name) {
  return module.handle != nullptr ? dlsym(module.handle, name) : nullptr;
}

}  // namespace orv
