#pragma once

#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

namespace orv {

// Files in folders that a whole group may write (SYSINI, DATA) are opened as if another member
// of the group had prepared the entry to harm this user: a symbolic link to one of this user's
// files, a hard link to it, a FIFO that would never let open() return. Such entries are refused,
// never followed, waited on or written through.

// Why an entry was refused although the system would have opened it. The messages end a sentence
// that starts with the entry's name ("…/EventLog.txt is a symbolic link").
enum class SharedFileRefusal {
  kSymbolicLink = 1,
  kNotRegular,
  kOtherLinks,
  kNoFolder,  // a relative name: the folder it belongs in is unknown
};
std::error_code MakeErrorCode(SharedFileRefusal refusal);
// True when error is one of the refusals above.
bool IsRefusal(const std::error_code& error);

// Only a name under a known folder is ever opened or created: without one (the program folder
// could not be found) it would land in whatever folder the program was started from.
bool HasKnownFolder(const std::filesystem::path& p);

// Owns one open descriptor and closes it at the end.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // The result of close(): false when the last writes may not have reached the file.
  bool Close();

 private:
  int fd_ = -1;
};

// Opens p with flags (the access mode, plus O_APPEND, O_CREAT or O_EXCL as needed; never O_TRUNC,
// which would cut a file before it is checked) and,
// for a file created now, mode (the umask applies). The layer adds O_NOFOLLOW, O_NONBLOCK,
// O_CLOEXEC and O_NOCTTY, then checks what was opened on the descriptor: only a regular file with
// a single link is kept, and its descriptor blocks again, as for any ordinary file. On failure the
// descriptor is invalid and error says why: the system's error, or a SharedFileRefusal (a link
// shows as kSymbolicLink). info, when given, receives the file's fstat.
FileDescriptor OpenSharedFile(const std::filesystem::path& p, int flags, mode_t mode,
                              std::error_code& error, struct stat* info = nullptr);

// Judges p as OpenSharedFile judges what it opened (no link, a regular file with a single link),
// from lstat, without opening it: for a file that SQLite may hold open in this process, since a
// close() of any descriptor of a file drops all of this process's POSIX locks on it. Empty when
// it passes; ENOENT when it is not there.
std::error_code InspectSharedFile(const std::filesystem::path& p);

// Writes all the bytes, going on after short writes and interruptions; false with errno set when
// the system refuses the rest (written then tells how many went in).
bool WriteAll(int fd, const char* data, std::size_t size, std::size_t* written = nullptr);

}  // namespace orv
