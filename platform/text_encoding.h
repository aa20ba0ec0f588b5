#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

// The files the program shares with hand editors are 8-bit Windows-1252 text; the program's own
// strings are UTF-8. The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) stand for U+0081 etc., so every byte survives a round trip.
std::string Cp1252ToUtf8(std::string_view bytes);

// Every character that Windows-1252 cannot hold, and every byte that does not begin a valid
// UTF-8 sequence, becomes "?".
std::string Utf8ToCp1252(std::string_view text);

// The program's one UTF-8 validator, for every reader of text from outside: well-formed
// sequences only (no overlong form, no surrogate, nothing above U+10FFFF, nothing cut short).
bool IsValidUtf8(std::string_view text);
// The text with every byte that does not belong to a well-formed sequence replaced by U+FFFD,
// so that what leaves the program is always valid UTF-8.
std::string ValidUtf8(std::string_view text);

// Characters of UTF-8 text: every byte that does not continue a sequence begins one.
std::size_t Utf8Length(std::string_view text);

// Where the text is left after its first `characters` characters: the byte offset of the next
// character, or the text's size when it has no more. Reads only what it skips.
std::size_t Utf8Offset(std::string_view text, std::size_t characters);

}  // namespace orv
