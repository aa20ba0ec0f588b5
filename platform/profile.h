#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace orv {

// Private-profile (INI) files: sections opened by "[name]" lines, then "key=value" lines.
//
// Section and key names match without regard to ASCII letter case, ignoring blanks and tabs around
// them; the first matching section, and the first matching key in it, wins. Lines before the
// first section, lines without "=" and anything else unrecognised are kept but never matched.
// The file is Windows-1252 text; the strings passed in and returned are UTF-8.
// Nothing here throws: a file that cannot be read reads as missing, a failed write returns false.
//
// Only regular files of at most kMaxProfileFileBytes are read or rewritten. A settings file is a
// few kB; the bound keeps a wrong path (a device, a FIFO, a huge or growing file) from stalling
// the program or filling its memory.
inline constexpr std::size_t kMaxProfileFileBytes = std::size_t{4} << 20;

// What became of reading a profile file.
enum class ProfileFileState {
  kRead,        // a regular file within the bound, read whole
  kMissing,     // no entry of that name
  kNotRegular,  // a folder, device, FIFO, socket, symbolic link or a file with other hard links
                // (another name someone gave it): not read
  kTooLarge,    // above kMaxProfileFileBytes: not read
  kUnreadable,  // there, but it could not be opened or read
};

// One reading of a profile file that answers any number of keys, each exactly as
// ReadProfileString would have answered it from the same bytes. A file that was not read answers
// every key with its default, like a missing one; state() and Problem() say why.
// Who owns a file that was read, and its permission bits, as its open handle said.
struct ProfileFileOwner {
  std::uint32_t user = 0;
  std::uint32_t mode = 0;  // 07777
};

class ProfileSnapshot {
 public:
  explicit ProfileSnapshot(const std::filesystem::path& file);
  // The profile in text, the bytes of a file; text above the bound reads like a file above it.
  static ProfileSnapshot FromText(std::string text);

  // The value of the key with blanks and tabs around it removed, or default_value when the
  // file, the section or the key is missing. A key present with nothing after "=" reads as the
  // empty string. The result holds at most capacity - 1 characters of the file (or of the
  // default).
  std::string Read(std::string_view section, std::string_view key, std::string_view default_value,
                   std::size_t capacity) const;
  // The line (from 1) of the very key line Read answers from; none when it reads the default.
  // A check of the settings names where a wrong value stands.
  std::optional<std::size_t> LineOf(std::string_view section, std::string_view key) const;
  // Every key line of the file in its order, whether a read would find it or not (a repeated
  // key, say): for a check that names what no reader looks at.
  struct KeyLine {
    std::string section;
    std::string key;
    std::string value;
    std::size_t line = 0;
  };
  std::vector<KeyLine> KeyLines() const;

  ProfileFileState state() const { return state_; }
  // The owner and mode of the file read, from the handle the bytes came through; none for text,
  // or a file that was not read. A judgement of who may change the file is worth something only
  // when it is about these very bytes.
  const std::optional<ProfileFileOwner>& owner() const { return owner_; }
  // True when the name was refused for being a link (symbolic, or a second name of a file).
  bool refused_as_link() const;
  // Why a file that is there was not read, as the end of a sentence that starts with the file's
  // name ("is not a regular file", "is a symbolic link"); empty when it was read or is missing.
  std::string Problem() const;

 private:
  ProfileSnapshot() = default;
  void Index();

  // Offsets into text_, which the bound keeps within 32 bits.
  struct Span {
    std::uint32_t begin = 0;
    std::uint32_t size = 0;
  };
  struct Entry {
    Span key;
    Span value;
    std::uint32_t line = 0;  // from 1
  };
  // A "[name]" line and the key lines up to the next one: entries_[first_entry, end_entry).
  struct Section {
    Span name;
    std::uint32_t first_entry = 0;
    std::uint32_t end_entry = 0;
  };

  // The key line Read answers from, or none.
  const Entry* Find(std::string_view section, std::string_view key) const;

  std::string_view Text(Span span) const {
    return std::string_view(text_).substr(span.begin, span.size);
  }

  ProfileFileState state_ = ProfileFileState::kMissing;
  std::error_code error_;  // with kUnreadable
  std::optional<ProfileFileOwner> owner_;
  std::string text_;
  // Sorted by name without regard to letter case, equal names in the file's order, so that a
  // search finds the first of them as a walk through the file would.
  std::vector<Section> sections_;
  std::vector<Entry> entries_;  // sorted so within each section
};

// One key read from a fresh snapshot of the file.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view default_value, std::size_t capacity,
                              const std::filesystem::path& file);

// Sets the key to value, creating the file, the section and the key as needed. An existing value
// is replaced in place; every other line keeps its exact bytes. Line breaks inside section, key or
// value are written as blanks. A new file gets CRLF line breaks, an existing one keeps its own.
// The new content replaces the file in one rename, so an interrupted write never leaves half a
// file. Fails (returns false) when the folder is missing, the file cannot be read or replaced, a
// name is empty, the section name holds "]" or the key holds "=", when the file is there but is
// not a regular file within the bound, and when the new content would exceed the bound.
//
// The file may sit in a folder that other users write (see safe_file.h): it is read and replaced
// without following links, and the new content goes to a fresh file "<file>.XXXXXX" created
// exclusively, with the old file's permissions (or the umask's for a new file) set on its handle.
// The read, the change and the rename happen under a lock on "<file>.lock", so that programs
// writing at once each keep the other's keys; a lock held longer than 2 s makes the write fail.
// *problem, when given, receives the reason of a failure, naming the file that stood in the way.
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file, std::string* problem = nullptr);

}  // namespace orv
