#pragma once

// Servers on the loopback interface for tests and benchmarks: a free TCP port, and Debian's
// mosquitto broker with a configuration of the caller's own. No test framework here.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/child_process.h"

namespace orv::test {

// 127.0.0.1:port as a socket address; port 0 lets bind() choose.
inline sockaddr_in LoopbackAddress(int port = 0) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A TCP port on 127.0.0.1 that nothing listens on just now; 0 if none could be had.
inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = LoopbackAddress();
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// Whether a connection to 127.0.0.1:port is taken.
inline bool AcceptsConnections(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port);
  const bool up = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return up;
}

// mosquitto on 127.0.0.1:port, no persistence, its log (log_type all) in the folder given;
// `extra` adds configuration lines. Started by the constructor, stopped by the destructor.
class LoopbackBroker {
 public:
  LoopbackBroker(const std::filesystem::path& folder, int port, const std::string& extra)
      : config_(folder / "broker.conf"), log_(folder / "broker.log"), port_(port) {
    std::ofstream(config_) << "user root\nlistener " << port << " 127.0.0.1\npersistence false\n"
                           << "log_dest file " << log_.string() << "\nlog_type all\n"
                           << extra;
    started_ = Start();
  }
  ~LoopbackBroker() { Stop(); }
  LoopbackBroker(const LoopbackBroker&) = delete;
  LoopbackBroker& operator=(const LoopbackBroker&) = delete;

  // True once it takes connections (within 5 s).
  bool Start() {
    process_ = std::make_unique<ChildProcess>("/usr/sbin/mosquitto",
                                              std::vector<std::string>{"-c", config_.string()});
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      if (AcceptsConnections(port_)) return true;
    }
    return false;
  }
  void Stop() {
    if (process_) process_->Stop();
    process_.reset();
  }
  bool started() const { return started_; }
  std::string Log() const {
    std::ifstream in(log_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path config_;
  std::filesystem::path log_;
  int port_;
  std::unique_ptr<ChildProcess> process_;
  bool started_ = false;
};

}  // namespace orv::test
