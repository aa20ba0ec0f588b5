#include "platform/process.h"

#include <sys/stat.h>

namespace orv {

void ShareNewFilesWithGroup() {
  umask(S_IWOTH);  // rw for owner and group, nothing written by others
}

void KeepNewFilesFromOthers() {
  // What was masked stays masked: a unit's stricter UMask= wins.
  const mode_t before = umask(0);
  umask(before | S_IWGRP | S_IRWXO);
}

}  // namespace orv
