// Writes COUNT keys "PREFIX1".."PREFIXCOUNT" into section [Writers] of an INI file, one write
// each, as the program writes a trigger name: for tests that run several writers at once.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/process.h"
#include "platform/profile.h"

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: orv_ini_writer FILE PREFIX COUNT\n");
    return 2;
  }
  orv::ShareNewFilesWithGroup();  // as the program does
  const int count = std::atoi(argv[3]);
  int failed = 0;
  for (int i = 1; i <= count; ++i) {
    const std::string key = argv[2] + std::to_string(i);
    if (!orv::WriteProfileString("Writers", key, "v" + std::to_string(i), argv[1])) ++failed;
  }
  if (failed > 0) std::fprintf(stderr, "%d of %d writes failed\n", failed, count);
  return failed == 0 ? 0 : 1;
}
