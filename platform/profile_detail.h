#pragma once

// What the profile reader and writer share; not for use outside them.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/profile.h"

namespace orv::profile_detail {

inline constexpr std::string_view kCrLf = "\r\n";

std::string_view Trim(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Program text as it goes into the file: Windows-1252, with no line break that could split it.
std::string ToFileText(std::string_view text);
// A section or key name as it is matched and written.
std::string ToFileName(std::string_view name);

// One line of the file: its text is [begin, end), its line break [end, next), empty for a last
// line that has none. CRLF, LF and a lone CR each end a line.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;

  bool has_break() const { return next > end; }
};
Line LineAt(std::string_view text, std::size_t begin);
std::string_view LineText(std::string_view text, const Line& line);
// The file's own line break (that of its first line), CRLF for a file that has none yet.
std::string_view LineBreakStyle(std::string_view text);
// The name of a "[name]" line, blanks and tabs around it removed.
std::optional<std::string_view> SectionName(std::string_view line);

// The whole file into bytes when it is a regular file within the bound (see profile.cpp).
ProfileFileState ReadProfileFile(const std::filesystem::path& file, std::string& bytes,
                                 std::error_code& error, ProfileFileOwner* owner = nullptr);
// Why a file that is there was not read, as the end of a sentence that starts with its name.
std::string ProblemText(ProfileFileState state, const std::error_code& error);

}  // namespace orv::profile_detail
