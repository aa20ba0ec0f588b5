#include "platform/module_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

// Reads exactly size bytes at offset into out.
bool ReadAt(int fd, void* out, std::size_t size, off_t offset) {
  return pread(fd, out, size, offset) == static_cast<ssize_t>(size);
}

// The build id among the notes of one PT_NOTE segment's bytes; empty when none is there.
std::string BuildIdAmong(const std::vector<char>& notes) {
  const auto aligned = [](std::size_t n) { return (n + 3) / 4 * 4; };
  for (std::size_t at = 0; at + sizeof(ElfW(Nhdr)) <= notes.size();) {
    ElfW(Nhdr) head{};
    std::memcpy(&head, notes.data() + at, sizeof head);
    const std::size_t name_at = at + sizeof head;
    const std::size_t id_at = name_at + aligned(head.n_namesz);
    if (head.n_namesz > notes.size() || head.n_descsz > notes.size() ||
        id_at + head.n_descsz > notes.size())
      break;
    if (head.n_type == kBuildIdNoteType && head.n_namesz == 9 &&
        std::memcmp(notes.data() + name_at, "orvandel", 9) == 0) {
      std::string id(notes.data() + id_at, head.n_descsz);
      return id.substr(0, id.find('\0'));
    }
    at = id_at + aligned(head.n_descsz);
  }
  return {};
}

// The build id note of the ELF file open at fd; empty when it has none.
std::string ReadBuildId(int fd) {
  ElfW(Ehdr) elf{};
  if (!ReadAt(fd, &elf, sizeof elf, 0) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
      elf.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
      elf.e_phentsize != sizeof(ElfW(Phdr)))
    return {};
  for (unsigned i = 0; i < elf.e_phnum; ++i) {
    ElfW(Phdr) segment{};
    if (!ReadAt(fd, &segment, sizeof segment, static_cast<off_t>(elf.e_phoff + i * sizeof segment)))
      return {};
    // A note segment is a few hundred bytes; a larger one is no module of the program's.
    if (segment.p_type != PT_NOTE || segment.p_filesz > 65536) continue;
    std::vector<char> notes(segment.p_filesz);
    if (!ReadAt(fd, notes.data(), notes.size(), static_cast<off_t>(segment.p_offset))) continue;
    if (std::string id = BuildIdAmong(notes); !id.empty()) return id;
  }
  return {};
}

}  // namespace

LoadedModule LoadTrustedModule(const std::filesystem::path& file, const std::string& build_id) {
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
  // Before anything of it is bound or run.
  if (const std::string id = ReadBuildId(fd.get()); id != build_id) {
    module.problem = id.empty()
                         ? "it has no build id"
                         : "it is of another build (build id " + id + ", not " + build_id + ")";
    return module;
  }

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
