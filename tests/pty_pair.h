#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>

#include "platform/serial_port.h"
#include "tests/support/wait_for.h"

namespace orv::test {

// A pseudo-terminal standing in for a serial device: the code under test opens the slave by its
// path, the test plays the far end on the master. The pair keeps a slave descriptor of its own
// so that the line (and its raw mode) exists before and between the opens under test.
class PtyPair {
 public:
  PtyPair() {
    if (openpty(&master_fd_, &slave_fd_, nullptr, nullptr, nullptr) != 0) return;
    fcntl(master_fd_, F_SETFL, O_NONBLOCK);
    termios tio{};
    tcgetattr(slave_fd_, &tio);
    cfmakeraw(&tio);  // no echo, no line editing, no CR/LF translation
    tcsetattr(slave_fd_, TCSANOW, &tio);
    slave_path_ = ptsname(master_fd_);
  }
  ~PtyPair() {
    CloseMaster();
    close(slave_fd_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_fd_ >= 0 && !slave_path_.empty(); }
  const std::string& slave_path() const { return slave_path_; }
  int slave_fd() const { return slave_fd_; }  // for the line settings the tty holds now
  bool WriteMaster(const Bytes& bytes) {
    return master_fd_ >= 0 &&
           write(master_fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Up to n bytes, as many as come before the deadline. The event loop runs meanwhile, so that
  // writes left to a write notifier get out too.
  Bytes ReadMaster(std::size_t n, milliseconds deadline = milliseconds(3000)) {
    Bytes out(n);
    std::size_t got = 0;
    WaitFor(
        [&] {
          const ssize_t r = master_fd_ < 0 ? -1 : read(master_fd_, out.data() + got, n - got);
          got += r > 0 ? static_cast<std::size_t>(r) : 0;
          return got == n || master_fd_ < 0;
        },
        deadline);
    out.resize(got);
    return out;
  }
  // The device vanishes: the slave side sees a hang-up and its /dev/pts entry goes away.
  void CloseMaster() { close(std::exchange(master_fd_, -1)); }

 private:
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
};

}  // namespace orv::test
