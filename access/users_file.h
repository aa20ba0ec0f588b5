#pragma once

// The site's operators: who may log in, at which access level, with which PIN hash. Read from
// one root-owned file; a file anybody else could have written never raises a level.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/notice.h"

namespace orv {

// Where an installed system keeps its operators.
inline constexpr std::string_view kUsersFile = "/etc/orvandel/users";
// The group of the service's user: it must read the file, which only root may write.
inline constexpr std::string_view kUsersFileReaders = "orvandel";

// Level 1 is anyone at the panel; 2 and 3 need a log in. Level 0 is a shell's before its log in:
// whoever runs orvandelctl may be anywhere, and is not at the panel to hear what he silences.
enum class AccessLevel { kLevel0 = 0, kLevel1 = 1, kLevel2 = 2, kLevel3 = 3 };

inline int LevelNumber(AccessLevel level) {
  return static_cast<int>(level);
}

struct Operator {
  std::string name;
  AccessLevel level = AccessLevel::kLevel2;
  std::string hash;  // a yescrypt string, "$y$..."
  bool disabled = false;
};

// kOff: no users file, everything is allowed as it always was. kOnButUntrusted: a file is there
// but anybody could have put it there, so levels are on and nobody can go above level 1.
enum class AccessMode { kOff, kOn, kOnButUntrusted };

struct UsersFile {
  AccessMode mode = AccessMode::kOff;
  std::vector<Operator> operators;  // empty unless kOn

  const Operator* Find(std::string_view name) const;
  Operator* Find(std::string_view name);
};

// Names are what a log-in dialog and a journal line can show without quoting.
bool IsValidOperatorName(std::string_view name);

// The operators in the text of a users file. One line per operator, "name:level:hash:disabled"
// with level 2 or 3 and disabled 0 or 1; blank lines and lines starting with '#' are comments.
// A bad line (or a second line for a name) is ignored and said in a notice naming its line.
std::vector<Operator> ParseUsers(std::string_view text, const std::string& file_name,
                                 const NoticeFn& notice);

// The text ParseUsers reads back to the same operators.
std::string FormatUsers(const std::vector<Operator>& operators);

// Reads the file through a descriptor that follows no link and never blocks. It is trusted only
// when it is a regular file with one name, owned by expected_owner, not writable by its group
// or others, in a folder that nobody but root or expected_owner can change entries of; anything
// else found there gives kOnButUntrusted and a notice. Only an absent file gives kOff.
UsersFile ReadUsersFile(const std::filesystem::path& file, const NoticeFn& notice,
                        std::uint32_t expected_owner = 0);

// Replaces the file whole: a temporary file in the same folder, mode 0600, synced, renamed over
// it, the folder synced. The file belongs to the user writing it (root, for the real one); where
// the group reader_group exists, the file is that group's, mode 0640, so that the service (not
// root) can read it. False with the reason in error when anything failed; the old file is then
// untouched.
bool WriteUsersFile(const std::filesystem::path& file, const std::vector<Operator>& operators,
                    std::string& error, const std::string& reader_group = {});

}  // namespace orv
