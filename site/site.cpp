#include "site/site.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orv {

bool SiteInstalled(const SitePlaces& places, bool root) {
  struct stat st {};
  if (lstat(places.socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
  return root && lstat((places.state_folder / "DATA").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool BecomeServiceUser(std::string& why) {
  const passwd* account = getpwnam(kServiceUser);
  if (account == nullptr) {
    why = std::string("there is no user ") + kServiceUser;
    return false;
  }
  const uid_t uid = account->pw_uid;
  const gid_t gid = account->pw_gid;
  if (initgroups(kServiceUser, gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
    why = std::string("cannot become ") + kServiceUser + ": " + std::strerror(errno);
    return false;
  }
  // Dropped for good: root's ids cannot be taken back.
  if (setuid(0) == 0 || getuid() != uid || geteuid() != uid || getegid() != gid) {
    why = std::string("still root after becoming ") + kServiceUser;
    return false;
  }
  return true;
}

}  // namespace orv
