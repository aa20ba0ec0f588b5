#pragma once

// The few words every channel writes the same way.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// UTC milliseconds as ISO 8601 to the second: "2026-12-08T21:03:22Z".
std::string IsoUtc(std::int64_t utc_ms);

// A time limit as people say it: "10 s", "300 ms".
std::string LimitInWords(std::chrono::milliseconds limit);

// text as one line of at most max_bytes: line breaks and other control characters become
// blanks, bytes that are not UTF-8 become '?', and a cut never splits a character.
std::string OneLine(std::string_view text, std::size_t max_bytes);

// The first line of what a program said, without its blanks around, at most 200 bytes; empty
// when it said nothing.
std::string FirstLine(std::string_view output);

}  // namespace orv
