#pragma once

// Files named by the site settings whose bytes decide something: a broker's password, the web
// panel's certificate and key. Only root or the user running the program may have made them.

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace orv {

// Why what info describes may not decide anything (empty when it may): it must be root's or this
// program's own user's, and nobody else may change it.
std::string OwnershipProblem(const struct stat& info);

enum class FileSecrecy { kPublic, kSecret };

// The whole file, opened as a shared file is (no link followed, never blocking, a regular file
// with one name), when root or this program's own user owns it and nobody else may change it;
// a secret also when nobody else may read it: 0600, or 0640 with the group the program runs as
// while no other account is in that group (a listed member, or one whose primary group it is).
// At most max_bytes. None otherwise, with the reason in why ("can be changed by other
// users (chmod go-w)").
std::optional<std::string> ReadTrustedFile(const std::filesystem::path& file, FileSecrecy secrecy,
                                           std::size_t max_bytes, std::string& why);

}  // namespace orv
