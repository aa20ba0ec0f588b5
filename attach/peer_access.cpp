#include "attach/peer_access.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace orv {

std::string PeerRefusal(std::uint32_t uid, std::uint32_t service_uid, const std::string& group) {
  if (uid == 0 || uid == service_uid) return {};
  std::vector<char> buffer(16384);
  passwd user{};
  passwd* found_user = nullptr;
  if (getpwuid_r(uid, &user, buffer.data(), buffer.size(), &found_user) != 0 ||
      found_user == nullptr) {
    return "user id " + std::to_string(uid) + " has no account here";
  }
  const std::string name = user.pw_name;
  const gid_t primary = user.pw_gid;
  std::vector<char> group_buffer(16384);
  struct group entry {};
  struct group* found_group = nullptr;
  if (getgrnam_r(group.c_str(), &entry, group_buffer.data(), group_buffer.size(), &found_group) !=
          0 ||
      found_group == nullptr) {
    return "user " + name + " may not attach: the group " + group + " does not exist";
  }
  const gid_t wanted = entry.gr_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    getgrouplist(name.c_str(), primary, groups.data(), &count);
  }
  groups.resize(static_cast<std::size_t>(std::max(count, 0)));
  if (primary == wanted || std::find(groups.begin(), groups.end(), wanted) != groups.end())
    return {};
  return "user " + name + " is not in the group " + group;
}

}  // namespace orv
