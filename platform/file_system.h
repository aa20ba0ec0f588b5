#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace orv {

// The few file-system operations the program needs. None of them throws; failures are reported
// as false and leave nothing half done. A relative name is refused by every operation that
// creates, writes or deletes: the program's files belong in its own folder, never in whatever
// folder it was started from.

// True when an entry of that name exists: file, folder or anything else (a dangling link too).
bool EntryExists(const std::filesystem::path& p);

// Creates one folder; its parent must exist. True only when the folder was created now.
bool CreateFolder(const std::filesystem::path& p);

// Deletes a file (never a folder). True when it was deleted.
bool DeleteFile(const std::filesystem::path& p);

// Opens for appending (creating the file if missing), writes the bytes, closes.
// Opens a file the C way (stdio is far cheaper to open than a stream); nullptr on failure.
std::FILE* OpenFile(const std::filesystem::path& p, const char* mode);

// The bytes go in with one write, whole or not at all: a write the disk cuts short is taken back
// out again. Only a regular file with a single link is written, opened as a shared folder's file
// (see safe_file.h): a symbolic link, a FIFO, a device or a folder in its place fails at once,
// never blocks and is never written through. The reason of a failure goes to *error when one is
// given.
bool AppendToFile(const std::filesystem::path& p, std::string_view bytes,
                  std::error_code* error = nullptr);

// The same for a file that must not exist yet: it is created exclusively, so that nothing another
// user put in its place (a link made a moment ago) is ever opened.
bool CreateFileWith(const std::filesystem::path& p, std::string_view bytes,
                    std::error_code* error = nullptr);

// The reason given when something other than a regular file stands where one should be.
std::error_code NotARegularFile();

}  // namespace orv
