#pragma once

// The program's own shared modules (what only some starts need, kept out of the start of the
// rest): loaded only from the folder the program was built or installed for, never from a
// search path, and only a file that nobody but root or the program's own user could have put
// or changed there.

#include <filesystem>
#include <string>

namespace orv {

struct LoadedModule {
  void* handle = nullptr;  // dlopen's; never closed, since objects made by the module live on
  std::string problem;     // why it was not loaded, e.g. "is a symbolic link"; empty when loaded
  bool loaded() const { return handle != nullptr; }
};

// Opens file without following a link, without blocking and not inherited by children; loads it
// (all symbols bound now, none shared with later modules) through /proc/self/fd/N, so that what
// was checked is what is loaded. Refused with the reason unless file and its folder are a
// regular file and a folder owned by root or the effective user, writable by neither group nor
// others.
LoadedModule LoadTrustedModule(const std::filesystem::path& file);

// The named symbol of a loaded module; nullptr when it has none.
void* ModuleSymbol(const LoadedModule& module, const char* name);

}  // namespace orv
