#pragma once

// The back-off's file beside the journal: read at the start, replaced whole (a fresh file renamed
// over it) so that a stop at any moment leaves the old table or the new, never half of one.

#include <filesystem>
#include <optional>
#include <string>

namespace orv {

inline constexpr char kLogInBackOffFile[] = "LogInBackOff.txt";

// The file's bytes; none when it is not there (problem empty) or cannot be read (problem says
// why: a link, not a regular file, larger than any table).
std::optional<std::string> ReadLogInBackOff(const std::filesystem::path& file,
                                            std::string& problem);
// False with problem when the file could not be replaced.
bool WriteLogInBackOff(const std::filesystem::path& file, const std::string& text,
                       std::string& problem);

}  // namespace orv
