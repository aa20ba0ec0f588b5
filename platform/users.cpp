#include "platform/users.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace orv {

std::uint32_t EffectiveUserId() {
  return static_cast<std::uint32_t>(::geteuid());
}

std::string UserName(std::uint32_t user_id) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(static_cast<uid_t>(user_id), &entry, buffer.data(), buffer.size(), &found) ==
          0 &&
      found != nullptr && found->pw_name != nullptr) {
    return found->pw_name;
  }
  return "uid " + std::to_string(user_id);
}

std::set<std::string> AccountsInGroup(std::uint32_t group_id) {
  std::set<std::string> names;
  const auto gid = static_cast<gid_t>(group_id);
  if (const struct group* group = ::getgrgid(gid)) {
    for (char** member = group->gr_mem; *member != nullptr; ++member)
      names.insert(*member);
  }
  ::setpwent();
  while (const struct passwd* account = ::getpwent())
    if (account->pw_gid == gid) names.insert(account->pw_name);
  ::endpwent();
  return names;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace orv
