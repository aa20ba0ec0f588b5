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

}  // namespace orv
