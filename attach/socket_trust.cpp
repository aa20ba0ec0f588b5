#include "attach/socket_trust.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "attach/attach_protocol.h"
#include "platform/users.h"

namespace orv {
namespace {

// The owners and peers a window believes, in words: "root", "root or orvandel", "root,
// orvandel or you (opb)"; after "neither", "nor" where there are two or more, else "not".
std::string TrustedNames(const TrustedUsers& users, bool neither) {
  std::vector<std::string> names{"root"};
  if (users.service) names.push_back(kServiceAccount);
  if (users.self != 0 && users.self != users.service)
    names.push_back("you (" + users.name(users.self) + ")");
  std::string text = neither ? (names.size() > 1 ? "neither " : "not ") : "";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 < names.size() ? ", " : neither ? " nor " : " or ";
    text += names[i];
  }
  return text;
}

bool Trusted(uid_t uid, const TrustedUsers& users) {
  return uid == 0 || uid == users.self || (users.service && uid == *users.service);
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::optional<uid_t> AccountId(const char* name) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return std::nullopt;
  return found->pw_uid;
}

}  // namespace

std::string SocketAccessRefusal(const std::string& login) {
  return std::string("you are not in the group ") + kOperatorsGroup +
         ": ask your administrator to run `adduser " + login + " " + kOperatorsGroup +
         "`, then log in again";
}

std::string FolderDistrust(const std::string& folder, const FolderFacts& facts,
                           const TrustedUsers& users) {
  const std::string its = "the socket's folder " + folder;
  if (!facts.error.empty()) return its + " cannot be looked at (" + facts.error + "): not trusted";
  if (S_ISLNK(facts.mode)) return its + " is a symbolic link: not trusted";
  if (!S_ISDIR(facts.mode)) return its + " is not a folder: not trusted";
  if (!Trusted(facts.owner, users)) {
    return its + " belongs to user " + users.name(facts.owner) + ", not to " +
           TrustedNames(users, false) + ": not trusted (ask your administrator: chown root " +
           folder + ")";
  }
  const bool group = (facts.mode & S_IWGRP) != 0;
  const bool others = (facts.mode & S_IWOTH) != 0;
  if (group || others) {
    return its + " can be written by " +
           (group && others ? "its group and others"
            : group         ? "its group"
                            : "others") +
           ": not trusted (ask your administrator: chmod " +
           Octal(facts.mode & ~mode_t{S_IWGRP | S_IWOTH}) + " " + folder + ")";
  }
  return {};
}

std::string PeerDistrust(const std::string& socket_path, std::optional<uid_t> peer,
                         const TrustedUsers& users) {
  const std::string who = "the program answering at " + socket_path;
  if (!peer) return who + " cannot be told: not trusted";
  if (Trusted(*peer, users)) return {};
  return who + " runs as user " + users.name(*peer) + ", " + TrustedNames(users, true) +
         ": not trusted";
}

TrustedUsers TrustedUsersHere() {
  return TrustedUsers{geteuid(), AccountId(kServiceAccount),
                      [](uid_t uid) { return UserName(uid); }};
}

std::string SocketFolder(const std::string& socket_path) {
  const std::filesystem::path folder = std::filesystem::path(socket_path).parent_path();
  return folder.empty() ? "." : folder.string();
}

FolderFacts LookAtFolder(const std::string& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return FolderFacts{std::strerror(errno), 0, 0};
  return FolderFacts{{}, st.st_mode, st.st_uid};
}

std::optional<uid_t> PeerUser(int connected_fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(connected_fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof credentials)
    return std::nullopt;
  return credentials.uid;
}

std::string SocketDistrust(const std::string& socket_path, int connected_fd) {
  const TrustedUsers users = TrustedUsersHere();
  const std::string folder = SocketFolder(socket_path);
  std::string why = FolderDistrust(folder, LookAtFolder(folder), users);
  if (why.empty()) why = PeerDistrust(socket_path, PeerUser(connected_fd), users);
  return why;
}

}  // namespace orv
