#pragma once

// Whether a window may believe what answers at the service's socket, before it sends a PIN or
// shows a lamp: whoever may write in the socket's folder can put a socket of their own there, and
// whoever answers at it must be the service. The judgement is over plain values (what lstat and
// SO_PEERCRED said), so that every case is tried without accounts; the system's side only
// gathers them.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace orv {

// The service's account at a site.
inline constexpr const char* kServiceAccount = "orvandel";

// Who may own the socket's folder and answer at the socket: root, the service's account (where
// there is one) and the window's own user (a service of one's own, on a socket of one's own).
struct TrustedUsers {
  uid_t self = 0;
  std::optional<uid_t> service;
  // A login name for a user id, for the words; the number where there is no account.
  std::function<std::string(uid_t)> name;
};

// What lstat said of the socket's folder; error is set when it could not be asked.
struct FolderFacts {
  std::string error;
  mode_t mode = 0;
  uid_t owner = 0;
};

// Empty when the folder may be believed; otherwise why not, and what to do, in words.
std::string FolderDistrust(const std::string& folder, const FolderFacts& facts,
                           const TrustedUsers& users);
// Empty when the peer (its user id, or nothing when it could not be told) may be believed;
// otherwise why not.
std::string PeerDistrust(const std::string& socket_path, std::optional<uid_t> peer,
                         const TrustedUsers& users);

// Why a window may not open the site's socket (its mode keeps this user out), and what to do.
std::string SocketAccessRefusal(const std::string& login);

// The system's side: this process's trusted users, the socket's folder as lstat sees it (a link
// is not followed), and the user at the other end of a connected local socket.
TrustedUsers TrustedUsersHere();
std::string SocketFolder(const std::string& socket_path);
FolderFacts LookAtFolder(const std::string& folder);
std::optional<uid_t> PeerUser(int connected_fd);

// Both checks for a connected socket: empty when it may be believed.
std::string SocketDistrust(const std::string& socket_path, int connected_fd);

}  // namespace orv
