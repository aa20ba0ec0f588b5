#include "service/inherited_socket.h"

#include <sys/socket.h>
#include <systemd/sd-daemon.h>

#include <cstring>

namespace orv {

int InheritedListeningSocket(std::string& problem) {
  // The variables are taken out of the environment: no child started later takes the socket.
  const int count = sd_listen_fds(1);
  if (count == 0) return -1;
  if (count < 0) {
    problem = std::string("the sockets systemd handed cannot be taken: ") + std::strerror(-count);
    return -1;
  }
  if (count > 1) {
    problem = "systemd handed " + std::to_string(count) +
              " sockets; the service takes one (one ListenStream= in orvandel.socket)";
    return -1;
  }
  if (sd_is_socket_unix(SD_LISTEN_FDS_START, SOCK_STREAM, 1, nullptr, 0) <= 0) {
    problem = "the socket systemd handed is not a listening Unix stream socket";
    return -1;
  }
  return SD_LISTEN_FDS_START;
}

}  // namespace orv
