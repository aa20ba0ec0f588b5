#include "site/lock_step.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <random>
#include <sstream>

namespace orv {
namespace {

namespace fs = std::filesystem;
using Outcome = LockStepNote::Outcome;

constexpr std::size_t kMostRead = 512;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenFolder(const fs::path& folder) {
  return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A small regular file in the folder, never through a link nor a FIFO, and then removed; nothing
// when there is none.
std::optional<std::string> TakeSmallFile(int folder, const char* name) {
  const Fd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  ::unlinkat(folder, name, 0);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string text(kMostRead, '\0');
  ssize_t n = -1;
  do {
    n = ::read(fd.get(), text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// Written whole under a fresh name, then renamed over the old: the service never reads half a
// note, and the folder's owner (the service's user) can put nothing in the step's way.
bool WriteNote(int folder, const std::string& text, bool give_to_folder_owner) {
  std::random_device random;
  const std::string temporary = std::string(kLockNoteFile) + "." + std::to_string(random());
  const Fd fd(::openat(folder, temporary.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
  if (fd.get() < 0) return false;
  struct stat owner {};
  bool ok = true;
  if (give_to_folder_owner)
    ok = ::fstat(folder, &owner) == 0 && ::fchown(fd.get(), owner.st_uid, owner.st_gid) == 0;
  ok = ok && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (ok) ok = ::renameat(folder, temporary.c_str(), folder, kLockNoteFile) == 0;
  if (!ok) ::unlinkat(folder, temporary.c_str(), 0);
  return ok;
}

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::kTakenOver:
      return "taken";
    case Outcome::kHolder:
      return "holder";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kNothing:
      break;
  }
  return "nothing";
}

// What the step does with the device's lock, as root.
LockStepNote Judge(const std::string& device, const std::vector<fs::path>& lock_folders,
                   const OpenFilesLook& open_files) {
  LockStepNote note;
  struct stat info {};
  // A device path as the service opens it: under /dev, written plainly, a character device.
  if (!device.starts_with("/dev/") || fs::path(device).lexically_normal() != fs::path(device) ||
      ::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
    note.outcome = Outcome::kRefused;
    note.text = "the start's step did not judge \"" + device + "\": not a serial device";
    return note;
  }
  const std::optional<PortLockHolder> lock = FindPortLock(device, lock_folders);
  if (!lock) return note;  // gone meanwhile
  note.lock_device = lock->file_device;
  note.lock_inode = lock->file_inode;
  note.pid = lock->pid;
  const std::string named = DescribeLockAndProcess(*lock);
  const PortLockVerdict verdict = JudgePortLock(*lock, device, open_files);
  switch (verdict) {
    case PortLockVerdict::kHolder:
      note.outcome = Outcome::kHolder;
      note.text = named + " is no squat: the start's step, as root, left it";
      return note;
    case PortLockVerdict::kCannotTell:
      note.outcome = Outcome::kRefused;
      note.text = named + " cannot be judged even by the start's step, as root";
      return note;
    case PortLockVerdict::kSquat:
    case PortLockVerdict::kStale:
      break;
  }
  const std::string squat =
      verdict == PortLockVerdict::kSquat ? ", which did not have " + device + " open," : "";
  if (std::string why; !RemovePortLock(*lock, why)) {
    note.outcome = Outcome::kRefused;
    note.text = named + squat + " could not be removed by the start's step: " + why;
    return note;
  }
  note.outcome = Outcome::kTakenOver;
  note.text = named + squat +
              (verdict == PortLockVerdict::kSquat ? " was taken over" : " was removed") +
              " by the start's step, as root";
  return note;
}

}  // namespace

bool RequestLockStep(const fs::path& state_folder, const std::string& device, std::string& why) {
  const Fd folder(OpenFolder(state_folder));
  const Fd fd(folder.get() < 0
                  ? -1
                  : ::openat(folder.get(), kLockRequestFile,
                             O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  const std::string text = device + "\n";
  if (fd.get() < 0 ||
      ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    why = state_folder.string() + "/" + kLockRequestFile + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::optional<LockStepNote> TakeLockStepNote(const fs::path& state_folder) {
  const Fd folder(OpenFolder(state_folder));
  if (folder.get() < 0) return std::nullopt;
  const std::optional<std::string> text = TakeSmallFile(folder.get(), kLockNoteFile);
  if (!text) return std::nullopt;
  // The outcome; the lock's file system, file and process; the words.
  std::istringstream in(*text);
  std::string word;
  LockStepNote note;
  in >> word >> note.lock_device >> note.lock_inode >> note.pid;
  in.ignore(1);
  std::getline(in, note.text);
  for (const Outcome outcome :
       {Outcome::kNothing, Outcome::kTakenOver, Outcome::kHolder, Outcome::kRefused}) {
    if (word == OutcomeWord(outcome)) note.outcome = outcome;
  }
  if (note.outcome == Outcome::kNothing) note.text.clear();
  return note;
}

std::string RunLockStep(const fs::path& state_folder, const std::vector<fs::path>& lock_folders,
                        const OpenFilesLook& open_files) {
  const Fd folder(OpenFolder(state_folder));
  if (folder.get() < 0) return "lock step: " + state_folder.string() + ": " + std::strerror(errno);
  LockStepNote note;
  if (const std::optional<std::string> request = TakeSmallFile(folder.get(), kLockRequestFile)) {
    note = Judge(request->substr(0, request->find('\n')), lock_folders, open_files);
  }
  const std::string text =
      std::string(OutcomeWord(note.outcome)) + " " + std::to_string(note.lock_device) + " " +
      std::to_string(note.lock_inode) + " " + std::to_string(note.pid) + "\n" + note.text + "\n";
  const bool written = WriteNote(folder.get(), text, ::geteuid() == 0);
  return "lock step: " + (note.text.empty() ? "nothing to take over" : note.text) +
         (written ? "" : " (the note for the service could not be written)");
}

void ServiceLockStep::BeyondReach(const PortLockHolder& lock, const std::string& device,
                                  const std::string& why) {
  if (stopping_) return;
  const std::string text = DescribeLockAndProcess(lock) + " on " + device +
                           " cannot be taken over by the service: " + why;
  const auto say_once = [this](const std::string& words) {
    if (words != said_) say_(words);
    said_ = words;
  };
  if (!note_) {
    say_once(text + "; only root can take it over");
    return;
  }
  if (note_->Judged(lock)) {
    say_once(text + "; " + note_->text);
    return;
  }
  if (std::string problem; !RequestLockStep(state_folder_, device, problem)) {
    say_once(text + "; the start's step cannot be asked: " + problem);
    return;
  }
  stopping_ = true;
  say_(text + "; the service stops so that the step before its start, as root, judges it");
  stop_();
}

}  // namespace orv
