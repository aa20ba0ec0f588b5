#include "sim/serial_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace orv::sim {
namespace {

std::string Why(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

speed_t SpeedOf(int baud) {
  static constexpr std::array<std::pair<int, speed_t>, 10> kSpeeds{{{300, B300},
                                                                    {600, B600},
                                                                    {1200, B1200},
                                                                    {2400, B2400},
                                                                    {4800, B4800},
                                                                    {9600, B9600},
                                                                    {19200, B19200},
                                                                    {38400, B38400},
                                                                    {57600, B57600},
                                                                    {115200, B115200}}};
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  return B9600;
}

tcflag_t SizeOf(int data_bits) {
  switch (data_bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

// Raw bytes both ways, no flow control, the given speed, size, parity and stop bits.
bool ApplyLineSettings(int fd, const LineSettings& line) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= SizeOf(line.data_bits) | CLOCAL | CREAD;
  // Mark, space and 1.5 stop bits were refused with the options; termios has no portable form.
  if (line.parity == Parity::kEven || line.parity == Parity::kOdd) tio.c_cflag |= PARENB;
  if (line.parity == Parity::kOdd) tio.c_cflag |= PARODD;
  if (line.stop_bits == StopBits::kTwo) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, SpeedOf(line.baud_rate));
  cfsetospeed(&tio, SpeedOf(line.baud_rate));
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A link left behind by an earlier run is replaced; anything else at the path is kept.
bool Publish(const std::string& target, const std::string& link_path, std::string& error) {
  struct stat info {};
  if (lstat(link_path.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      error = link_path + " exists and is not a symbolic link";
      return false;
    }
    unlink(link_path.c_str());
  }
  if (symlink(target.c_str(), link_path.c_str()) != 0) {
    error = Why("symlink " + link_path);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<SerialLine> SerialLine::OpenPty(const std::string& link_path,
                                                const LineSettings& line, std::string& error) {
  std::unique_ptr<SerialLine> pty(new SerialLine());
  pty->fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty->fd_ < 0 || grantpt(pty->fd_) != 0 || unlockpt(pty->fd_) != 0) {
    error = Why("posix_openpt");
    return nullptr;
  }
  const char* name = ptsname(pty->fd_);
  if (name == nullptr) {
    error = Why("ptsname");
    return nullptr;
  }
  pty->slave_name_ = name;
  pty->slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (pty->slave_fd_ < 0 || !ApplyLineSettings(pty->slave_fd_, line)) {
    error = Why("slave " + pty->slave_name_);
    return nullptr;
  }
  fcntl(pty->fd_, F_SETFL, fcntl(pty->fd_, F_GETFL) | O_NONBLOCK);
  if (!Publish(pty->slave_name_, link_path, error)) return nullptr;
  pty->link_path_ = link_path;
  pty->description_ = pty->slave_name_ + " linked at " + link_path;
  return pty;
}

std::unique_ptr<SerialLine> SerialLine::OpenDevice(const std::string& path,
                                                   const LineSettings& line, std::string& error) {
  std::unique_ptr<SerialLine> device(new SerialLine());
  device->fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (device->fd_ < 0 || !ApplyLineSettings(device->fd_, line)) {
    error = Why(path);
    return nullptr;
  }
  device->description_ = path;
  return device;
}

SerialLine::~SerialLine() {
  if (!link_path_.empty()) {
    std::array<char, 4096> target{};
    const ssize_t n = readlink(link_path_.c_str(), target.data(), target.size() - 1);
    // Only our own link goes: another run may have taken the path over since.
    if (n > 0 && std::string(target.data(), static_cast<std::size_t>(n)) == slave_name_)
      unlink(link_path_.c_str());
  }
  if (slave_fd_ >= 0) close(slave_fd_);
  if (fd_ >= 0) close(fd_);
}

void SerialLine::DiscardUnread() {
  if (slave_fd_ >= 0) {
    tcflush(slave_fd_, TCIFLUSH);
  } else {
    tcflush(fd_, TCOFLUSH);
  }
}

}  // namespace orv::sim
