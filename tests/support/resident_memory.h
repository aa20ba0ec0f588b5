#pragma once

// What the memory-flat tests measure: this process's resident memory.
#include <unistd.h>

#include <cstdint>
#include <fstream>

namespace orv::test {

// This process's resident memory, in bytes.
inline std::int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t pages = 0;
  std::int64_t resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace orv::test
