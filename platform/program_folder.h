#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace orv {

// The folder of the running program, where SYSINI and DATA belong, or why it is unknown.
struct ProgramFolderLookup {
  std::filesystem::path folder;  // absolute; empty when it could not be found
  std::string problem;           // why not, when folder is empty
};

// Reads a symbolic link as the system stores it; error set (and the result ignored) on failure.
using LinkReader = std::function<std::string(const std::string& link, std::error_code& error)>;

// The executable's folder from the system's own record of it (/proc/self/exe), taken as bytes:
// a folder name in any encoding, or none at all, works. Anything but an absolute name is no
// answer, so that a failure can never turn into the folder the program was started from.
ProgramFolderLookup FindProgramFolder(const LinkReader& read_link);
ProgramFolderLookup FindProgramFolder();

// readlink(2), for any length of name; on a system without it, always an error.
std::string ReadSymbolicLink(const std::string& link, std::error_code& error);

}  // namespace orv
