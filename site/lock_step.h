#pragma once

// The serial lock at a site. The lock folder is everyone's, so any user can name a live process of
// theirs in the port's lock file; the service judges such a lock by looking into the process, and
// takes over a squat (platform/port_lock.h). But the service runs as its own user without
// capabilities: it may neither look into another user's process nor remove another user's file
// in the sticky lock folder. So a narrow step runs as root before each start of the service (the
// unit's ExecStartPre=+): the service, meeting a lock it cannot judge or remove, leaves a request
// naming its device in its state folder and stops with kExitForLockStep; systemd starts it again
// through the step, which judges that device's lock as root, removes it if it is a squat (never
// through a link, only while it is still the file read), and leaves a note of what it did, which
// the service reads at its start, says and journals. The step does nothing else: no other file,
// no other device.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/port_lock.h"

namespace orv {

inline constexpr char kLockRequestFile[] = "port-lock.request";
inline constexpr char kLockNoteFile[] = "port-lock.note";
// The service's exit when it stops for the step (EX_TEMPFAIL): a failure, so systemd restarts it.
inline constexpr int kExitForLockStep = 75;

// What the step did at this start.
struct LockStepNote {
  enum class Outcome { kNothing, kTakenOver, kHolder, kRefused };
  Outcome outcome = Outcome::kNothing;
  std::string text;  // in words, for the service's records; empty for nothing
  // The lock judged (its file and process), so that the service does not ask about it again.
  std::uint64_t lock_device = 0;
  std::uint64_t lock_inode = 0;
  long pid = 0;

  bool Judged(const PortLockHolder& lock) const {
    return outcome != Outcome::kNothing && lock.file_device == lock_device &&
           lock.file_inode == lock_inode && lock.pid == pid;
  }
};

// The service: asks the step to judge the device's lock at the next start. False with why.
bool RequestLockStep(const std::filesystem::path& state_folder, const std::string& device,
                     std::string& why);

// The service, at its start: the note the step left, removed once read; nothing when no step ran
// before this start.
std::optional<LockStepNote> TakeLockStepNote(const std::filesystem::path& state_folder);

// The step, as root: takes the request (if any), judges and acts, leaves the note (always, so that
// the service knows a step runs before it), and returns one line for the system's journal.
std::string RunLockStep(
    const std::filesystem::path& state_folder,
    const std::vector<std::filesystem::path>& lock_folders = DefaultPortLockFolders(),
    const OpenFilesLook& open_files = ProcessOpenFiles);

// The service's side: what it does with a lock it cannot take over itself. Behind a step (its
// note was found at the start) it asks the step and stops, unless the step already judged that
// very lock at this start (a holder, or one even root could not take); without a step (a service
// run by hand) it only says so, as it does in those cases, once per lock.
class ServiceLockStep {
 public:
  using SayFn = std::function<void(const std::string&)>;
  ServiceLockStep(std::filesystem::path state_folder, std::optional<LockStepNote> note, SayFn say,
                  std::function<void()> stop)
      : state_folder_(std::move(state_folder)),
        note_(std::move(note)),
        say_(std::move(say)),
        stop_(std::move(stop)) {}

  // What the step did before this start, in words ("" when nothing).
  std::string done_before() const { return note_ ? note_->text : std::string(); }
  void BeyondReach(const PortLockHolder& lock, const std::string& device, const std::string& why);

 private:
  std::filesystem::path state_folder_;
  std::optional<LockStepNote> note_;
  SayFn say_;
  std::function<void()> stop_;
  std::string said_;  // the last thing said, not said again
  bool stopping_ = false;
};

}  // namespace orv
