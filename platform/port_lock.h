#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The lock files that serial programs (QSerialPort among them) leave beside a device they hold,
// in the UUCP way: a file "LCK..<name>" in the system's lock folder whose first line is the
// holder's process id. Read to tell the operator who holds a port, never written.

// The lock file name of a device as QSerialPort forms it: the path without "/dev/", every "/"
// made "_" ("/dev/ttyUSB0" -> "LCK..ttyUSB0", "/dev/pts/3" -> "LCK..pts_3").
std::string PortLockFileName(std::string_view device);

// The folders looked in, in order.
std::vector<std::filesystem::path> DefaultPortLockFolders();

struct PortLockHolder {
  std::filesystem::path lock_file;
  long pid = 0;              // 0 when the file names no process
  bool running = false;      // a process of that id runs now
  std::string process_name;  // the running process's name, when the system tells it
  std::string owner;         // the user the lock file belongs to
};

// The first lock file of the device in the folders, and what it says; nothing when there is none.
std::optional<PortLockHolder> FindPortLock(
    std::string_view device,
    const std::vector<std::filesystem::path>& folders = DefaultPortLockFolders());

// For the operator, after the device's name: "in use by process 1234 (orvandel, user alice)",
// or, for a lock whose process has ended, which file to remove and whose it is.
std::string DescribePortLock(const PortLockHolder& holder);

}  // namespace orv
