// Prints the program folder as the program finds it, byte for byte, or the reason on standard
// error and exit status 1; the tests copy it into folders with odd names and run it there.
#include <cstdio>

#include "platform/program_folder.h"

int main() {
  const orv::ProgramFolderLookup found = orv::FindProgramFolder();
  if (found.folder.empty()) {
    std::fprintf(stderr, "%s\n", found.problem.c_str());
    return 1;
  }
  const std::string& bytes = found.folder.native();
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 2;
}
