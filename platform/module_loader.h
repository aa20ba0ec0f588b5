#pragma once

// The program's own shared modules (what only some starts need, kept out of the start of the
// rest): loaded only from the folder the program was built or installed for, never from a
// search path, and only a file that nobody but root or the program's own user could have put
// or changed there.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace orv {

// A module's build id: an ELF note (owner "orvandel", type 1) in its file, read before anything
// of it is loaded or run, so that a module of another build is refused before it could fail to
// bind or run code made for another program. The program and its modules of one build carry
// the same id (app/CMakeLists.txt).
inline constexpr std::uint32_t kBuildIdNoteType = 1;
template <std::size_t N>  // N: the id's length with its terminating NUL
struct BuildIdNote {
  std::uint32_t owner_size = 9;
  std::uint32_t id_size = N;
  std::uint32_t type = kBuildIdNoteType;
  char owner[12] = "orvandel";
  char id[(N + 3) / 4 * 4] = {};
};
// The note itself, in a module's source: ORV_MODULE_BUILD_ID("..."); left out of the address
// sanitizer's guard zones, which would break the note's layout.
#if defined(__clang__)
#define ORV_NOTE_UNGUARDED [[clang::no_sanitize("address")]]
#else
#define ORV_NOTE_UNGUARDED
#endif
// clang-format off
#define ORV_MODULE_BUILD_ID(id)                                                             \
  ORV_NOTE_UNGUARDED [[gnu::used, gnu::section(".note.orvandel"), gnu::aligned(4)]]        \
  static const ::orv::BuildIdNote<sizeof(id)> orv_module_build_id_note{                     \
      9, sizeof(id), ::orv::kBuildIdNoteType, "orvandel", id}
// clang-format on

struct LoadedModule {
  void* handle = nullptr;  // dlopen's; never closed, since objects made by the module live on
  std::string problem;     // why it was not loaded, e.g. "is a symbolic link"; empty when loaded
  bool loaded() const { return handle != nullptr; }
};

// Opens file without following a link, without blocking and not inherited by children; loads it
// (all symbols bound now, none shared with later modules) through /proc/self/fd/N, so that what
// was checked is what is loaded. Refused with the reason unless file and its folder are a
// regular file and a folder owned by root or the effective user, writable by neither group nor
// others, and the file's build id is build_id.
LoadedModule LoadTrustedModule(const std::filesystem::path& file, const std::string& build_id);

// The named symbol of a loaded module; nullptr when it has none.
void* ModuleSymbol(const LoadedModule& module, const char* name);

}  // namespace orv
