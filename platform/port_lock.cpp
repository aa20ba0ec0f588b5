#include "platform/port_lock.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/users.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// The first line of the lock file, read without blocking and without following a link: a lock
// folder is writable by everyone, and what stands there is not to be trusted.
std::optional<std::string> ReadFirstLine(const fs::path& file, PortLockHolder& holder,
                                         std::uint32_t& owner) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::string text(64, '\0');
  ssize_t n = -1;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    owner = static_cast<std::uint32_t>(info.st_uid);
    holder.file_device = static_cast<std::uint64_t>(info.st_dev);
    holder.file_inode = static_cast<std::uint64_t>(info.st_ino);
    do {
      n = ::read(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
  }
  ::close(fd);
  if (n < 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(n));
  return text.substr(0, text.find('\n'));
}

std::string ProcessName(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace

std::string PortLockFileName(std::string_view device) {
  constexpr std::string_view kDevFolder = "/dev/";
  if (device.substr(0, kDevFolder.size()) == kDevFolder) device.remove_prefix(kDevFolder.size());
  std::string name = "LCK.." + std::string(device);
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

std::vector<fs::path> DefaultPortLockFolders() {
  return {"/run/lock", "/var/lock"};
}

std::optional<PortLockHolder> FindPortLock(std::string_view device,
                                           const std::vector<fs::path>& folders) {
  const std::string name = PortLockFileName(device);
  for (const fs::path& folder : folders) {
    PortLockHolder holder;
    holder.lock_file = folder / name;
    std::uint32_t owner = 0;
    const std::optional<std::string> line = ReadFirstLine(holder.lock_file, holder, owner);
    if (!line) continue;
    holder.owner = UserName(owner);
    // The id as text, blanks around it allowed (the old binary form is not read).
    const std::size_t first = line->find_first_not_of(" \t");
    if (first != std::string::npos) {
      const char* begin = line->data() + first;
      const char* end = line->data() + line->size();
      long pid = 0;
      const auto [stop, error] = std::from_chars(begin, end, pid);
      if (error == std::errc() && pid > 0 &&
          std::all_of(stop, end, [](char c) { return c == ' ' || c == '\t' || c == '\r'; })) {
        holder.pid = pid;
      }
    }
    if (holder.pid > 0) {
      // A process of another user answers EPERM: it runs all the same.
      holder.running = ::kill(static_cast<pid_t>(holder.pid), 0) == 0 || errno == EPERM;
      if (holder.running) holder.process_name = ProcessName(holder.pid);
    }
    return holder;
  }
  return std::nullopt;
}

std::string DescribePortLock(const PortLockHolder& holder) {
  const std::string file = holder.lock_file.string();
  if (holder.pid > 0 && holder.running) {
    std::string text = "in use by process " + std::to_string(holder.pid) + " (";
    if (!holder.process_name.empty()) text += holder.process_name + ", ";
    return text + "user " + holder.owner + ")";
  }
  const std::string remove = "remove " + file + " (owned by " + holder.owner + ")";
  if (holder.pid > 0) {
    return "locked by process " + std::to_string(holder.pid) +
           ", which no longer runs: the lock is stale, " + remove;
  }
  return "locked by " + file + ", which names no process: " + remove;
}

std::optional<std::vector<std::string>> ProcessOpenFiles(long pid) {
  std::vector<std::string> targets;
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // A process that has ended holds nothing; one that may not be looked into may hold anything.
    if (errno == ENOENT) return targets;
    return std::nullopt;
  }
  DIR* entries = ::fdopendir(fd);
  if (entries == nullptr) {
    ::close(fd);
    return std::nullopt;
  }
  bool seen = true;
  while (const dirent* entry = ::readdir(entries)) {
    if (entry->d_name[0] == '.') continue;
    char target[4096];
    const ssize_t n = ::readlinkat(::dirfd(entries), entry->d_name, target, sizeof target);
    if (n >= 0) {
      targets.emplace_back(target, static_cast<std::size_t>(n));
    } else if (errno != ENOENT) {  // a descriptor closed meanwhile is no loss
      seen = false;
      break;
    }
  }
  ::closedir(entries);
  if (!seen) return std::nullopt;
  return targets;
}

PortLockVerdict JudgePortLock(const PortLockHolder& holder, std::string_view device,
                              const OpenFilesLook& open_files) {
  if (holder.pid <= 0 || !holder.running) return PortLockVerdict::kStale;
  const std::optional<std::vector<std::string>> targets = open_files(holder.pid);
  if (!targets) return PortLockVerdict::kCannotTell;
  // The device as its descriptors name it: the path the links lead to (/dev/serial/by-id/...).
  std::error_code ec;
  const fs::path real = fs::canonical(fs::path(device), ec);
  const bool open = std::any_of(targets->begin(), targets->end(), [&](const std::string& target) {
    return target == device || (!ec && target == real.string());
  });
  return open ? PortLockVerdict::kHolder : PortLockVerdict::kSquat;
}

std::string DescribeLockAndProcess(const PortLockHolder& holder) {
  const std::string lock = "the lock " + holder.lock_file.string();
  const std::string user = "user " + holder.owner + ")";
  if (holder.pid <= 0) return lock + " naming no process (" + user;
  const std::string process = " of process " + std::to_string(holder.pid);
  if (!holder.running) return lock + process + ", which no longer runs (" + user;
  return lock + process + " (" + (holder.process_name.empty() ? "" : holder.process_name + ", ") +
         user;
}

bool RemovePortLock(const PortLockHolder& holder, std::string& why) {
  struct stat info {};
  if (::lstat(holder.lock_file.c_str(), &info) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (static_cast<std::uint64_t>(info.st_dev) != holder.file_device ||
      static_cast<std::uint64_t>(info.st_ino) != holder.file_inode) {
    why = "another file stands there now";
    return false;
  }
  if (::unlink(holder.lock_file.c_str()) != 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace orv
