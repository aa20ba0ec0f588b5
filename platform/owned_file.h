#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/profile.h"

namespace orv {

// A settings file read once through one handle, together with what that same handle says of the
// file's owner and mode: a judgement of who may change a file is worth something only when it is
// about the bytes that were read.
//
// The name is not followed when it is a symbolic link, and the file is opened without blocking,
// so that a link or a FIFO put in its place is reported, never read. Only a regular file within
// kMaxProfileFileBytes is read.
struct OwnedFile {
  ProfileFileState state = ProfileFileState::kMissing;
  std::error_code error;       // with kUnreadable
  bool symbolic_link = false;  // with kNotRegular: the name is a link (not followed)
  bool stat_known = false;     // owner, mode and links below come from the open handle
  std::uint32_t owner = 0;     // the owner's user id
  std::uint32_t mode = 0;      // the permission bits (07777)
  std::uint64_t links = 0;     // names the file has (hard links)
  std::string bytes;           // the whole file, with kRead

  // Why a file that is there was not read, as the end of a sentence that starts with the file's
  // name ("is a symbolic link"); empty when it was read or is missing.
  std::string Problem() const;
};

OwnedFile ReadOwnedFile(const std::filesystem::path& file);

// The user id the program acts as (its effective user); 0 where the system has no such notion.
std::uint32_t EffectiveUserId();

// The login name of a user id, or "uid N" when the system does not know it.
std::string UserName(std::uint32_t user_id);

}  // namespace orv
