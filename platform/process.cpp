#include "platform/process.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace orv {

void ShareNewFilesWithGroup() {
#ifndef _WIN32
  umask(S_IWOTH);  // rw for owner and group, nothing written by others
#endif
}

void KeepNewFilesFromOthers() {
#ifndef _WIN32
  // What was masked stays masked: a unit's stricter UMask= wins.
  const mode_t before = umask(0);
  umask(before | S_IWGRP | S_IRWXO);
#endif
}

}  // namespace orv
