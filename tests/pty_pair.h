#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial_port.h"

namespace orv::test {

// A pseudo-terminal standing in for a serial device: the code under test opens the slave by its
// path (/dev/pts/N), the test plays the far end on the master. The pair keeps its own slave
// descriptor open so that the line exists (and keeps raw mode) before and between the opens of
// the code under test; it never reads from it.
class PtyPair {
 public:
  PtyPair() {
    if (openpty(&master_fd_, &slave_fd_, nullptr, nullptr, nullptr) != 0) {
      master_fd_ = slave_fd_ = -1;
      return;
    }
    // Raw: no echo back to the master, no line editing, no CR/LF translation.
    termios tio{};
    if (tcgetattr(slave_fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slave_fd_, TCSANOW, &tio);
    }
    const char* name = ptsname(master_fd_);
    if (name != nullptr) slave_path_ = name;
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_fd_ >= 0) close(slave_fd_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_fd_ >= 0 && !slave_path_.empty(); }
  const std::string& slave_path() const { return slave_path_; }

  // The line settings as the tty holds them now (shared by every descriptor of the slave).
  termios SlaveTermios() const {
    termios tio{};
    tcgetattr(slave_fd_, &tio);
    return tio;
  }

  // Writes every byte; false if the master refused (closed, or the line is gone).
  bool WriteMaster(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      if (master_fd_ < 0) return false;
      const ssize_t n = write(master_fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Reads until n bytes came or the deadline passed, waiting in poll() for the time that
  // remains; returns what came, possibly fewer than n.
  Bytes ReadMaster(std::size_t n, std::chrono::milliseconds deadline) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + deadline;
    Bytes out;
    while (out.size() < n && master_fd_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      pollfd pfd{master_fd_, POLLIN, 0};
      const int ready = poll(&pfd, 1, static_cast<int>(left.count() > 0 ? left.count() : 0));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (pfd.revents & POLLIN) == 0) break;
      std::uint8_t buffer[256];
      const std::size_t want = std::min(sizeof buffer, n - out.size());
      const ssize_t got = read(master_fd_, buffer, want);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }

  // The device vanishes: the slave side sees a hang-up and its /dev/pts entry goes away.
  void CloseMaster() {
    if (master_fd_ >= 0) close(master_fd_);
    master_fd_ = -1;
  }

 private:
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
};

}  // namespace orv::test
