#include "attach/service_probe.h"

#include <sys/stat.h>

namespace orv {

bool SiteSocketPresent(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace orv
