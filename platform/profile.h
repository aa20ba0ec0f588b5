#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace orv {

// Private-profile (INI) files: sections opened by "[name]" lines, then "key=value" lines.
//
// Section and key names match without regard to ASCII letter case, ignoring blanks and tabs around
// them; the first matching section, and the first matching key in it, wins. Lines before the
// first section, lines without "=" and anything else unrecognised are kept but never matched.
// The file is Windows-1252 text; the strings passed in and returned are UTF-8.
// Neither function throws: a file that cannot be read reads as missing, a failed write returns
// false.

// The value of the key with blanks and tabs around it removed, or default_value when the file,
// the section or the key is missing. A key present with nothing after "=" reads as the empty
// string. The result holds at most capacity - 1 characters of the file.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view default_value, std::size_t capacity,
                              const std::filesystem::path& file);

// Sets the key to value, creating the file, the section and the key as needed. An existing value
// is replaced in place; every other line keeps its exact bytes. Line breaks inside section, key or
// value are written as blanks. A new file gets CRLF line breaks, an existing one keeps its own.
// The new content replaces the file in one rename, so an interrupted write never leaves half a
// file. Fails (returns false) when the folder is missing, the file cannot be read or replaced, a
// name is empty, the section name holds "]" or the key holds "=".
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file);

}  // namespace orv
