#include "site/site.h"

#include <sys/stat.h>

namespace orv {

bool SiteInstalled(const SitePlaces& places, bool root) {
  struct stat st {};
  if (lstat(places.socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
  return root && lstat((places.state_folder / "DATA").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace orv
