#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The lock files that serial programs (QSerialPort among them) leave beside a device they hold,
// in the UUCP way: a file "LCK..<name>" in the system's lock folder whose first line is the
// holder's process id. Read to tell the operator who holds a port; a squatted one (below) may be
// removed by a program that owns the line.

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
  // The file read, so that a removal takes that one and not what stands there by then.
  std::uint64_t file_device = 0;
  std::uint64_t file_inode = 0;
};

// The first lock file of the device in the folders, and what it says; nothing when there is none.
std::optional<PortLockHolder> FindPortLock(
    std::string_view device,
    const std::vector<std::filesystem::path>& folders = DefaultPortLockFolders());

// For the operator, after the device's name: "in use by process 1234 (orvandel, user alice)",
// or, for a lock whose process has ended, which file to remove and whose it is.
std::string DescribePortLock(const PortLockHolder& holder);

// What a process has open: the targets of its descriptors (/proc/PID/fd), or nothing when this
// user may not look (another user's process, a hidden /proc).
using OpenFilesLook = std::function<std::optional<std::vector<std::string>>(long pid)>;
std::optional<std::vector<std::string>> ProcessOpenFiles(long pid);

// The lock folder is writable by everyone, so any user can name a live process of theirs (a
// sleep) in a device's lock file and keep every other program off the line. Such a lock is a
// squat: its process runs but does not have the device open. A process that cannot be looked
// into is neither a squatter nor a holder for sure, and a user with the rights to look (root)
// may tell. A stale lock (its process has ended, or it names none) holds nothing either; the
// open removes one it may, and one it may not (another user's, in the sticky lock folder) keeps
// the port off as a squat does.
enum class PortLockVerdict { kHolder, kSquat, kStale, kCannotTell };
PortLockVerdict JudgePortLock(const PortLockHolder& holder, std::string_view device,
                              const OpenFilesLook& open_files = ProcessOpenFiles);

// The lock and whose it is, for the records: "the lock /run/lock/LCK..ttyS0 of process 1234 (sleep,
// user opa)", or "of process 1234, which no longer runs (user opa)", or "naming no process (user
// opa)".
std::string DescribeLockAndProcess(const PortLockHolder& holder);

// Removes the lock file read into holder, the name itself (a link is removed, never followed),
// and only while it is still that file; a program that then opens the device leaves its own lock
// there. False with the reason when it cannot (another user's file in a sticky folder).
bool RemovePortLock(const PortLockHolder& holder, std::string& why);

}  // namespace orv
