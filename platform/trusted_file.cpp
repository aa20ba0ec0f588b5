#include "platform/trusted_file.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <set>

#include "platform/safe_file.h"
#include "platform/users.h"

namespace orv {
namespace {

// The accounts besides this program's own user and root that may read what group gid may read.
std::set<std::string> OtherAccountsInGroup(gid_t gid) {
  std::set<std::string> names = AccountsInGroup(gid);
  names.erase(UserName(EffectiveUserId()));
  names.erase("root");
  return names;
}

std::string GroupName(gid_t gid) {
  const struct group* group = getgrgid(gid);
  return group != nullptr ? group->gr_name : "gid " + std::to_string(gid);
}

// Why a secret's group may not read it (empty when it may): only the program's own group may,
// and only while no other account is in it.
std::string SecretGroupProblem(const struct stat& info, const std::filesystem::path& file) {
  if ((info.st_mode & S_IRGRP) == 0) return {};
  const std::set<std::string> readers = OtherAccountsInGroup(info.st_gid);
  const gid_t own = getegid();
  if (info.st_gid == own && readers.empty()) return {};
  std::string why = "can be read by the group " + GroupName(info.st_gid);
  if (!readers.empty()) {
    why += " (members: ";
    for (const std::string& name : readers)
      why += (name == *readers.begin() ? "" : ", ") + name;
    why += ")";
  }
  const std::string private_mode = "`chmod 0600 " + file.string() + "`";
  // The program's own group is only worth naming when nobody else is in it.
  if (info.st_gid == own || !OtherAccountsInGroup(own).empty())
    return why + ": make it " + private_mode;
  return why + ": make it `chown root:" + GroupName(own) + " " + file.string() + "; chmod 0640 " +
         file.string() + "` or " + private_mode;
}

}  // namespace

std::string OwnershipProblem(const struct stat& info) {
  const auto owner = static_cast<std::uint32_t>(info.st_uid);
  if (owner != 0 && owner != EffectiveUserId())
    return "belongs to user " + UserName(owner) + ", neither root nor the user running the program";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return "can be changed by other users (chmod go-w)";
  return {};
}

std::optional<std::string> ReadTrustedFile(const std::filesystem::path& file, FileSecrecy secrecy,
                                           std::size_t max_bytes, std::string& why) {
  std::error_code error;
  struct stat info {};
  FileDescriptor fd = OpenSharedFile(file, O_RDONLY, 0, error, &info);
  if (!fd.valid()) {
    why = IsRefusal(error) ? error.message() : "cannot be read (" + error.message() + ")";
    return std::nullopt;
  }
  // Any other user's file (a key of theirs, or one they planted) would put their bytes where
  // this program's go.
  if (why = OwnershipProblem(info); !why.empty()) return std::nullopt;
  if (secrecy == FileSecrecy::kSecret && (info.st_mode & S_IROTH) != 0) {
    why = "can be read by every user (chmod o-r, or 640 with the group that runs the program)";
    return std::nullopt;
  }
  if (secrecy == FileSecrecy::kSecret) {
    if (why = SecretGroupProblem(info, file); !why.empty()) return std::nullopt;
  }
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = "cannot be read";
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > max_bytes) {
      why = "is longer than " + std::to_string(max_bytes) + " bytes";
      return std::nullopt;
    }
  }
  return bytes;
}

}  // namespace orv
