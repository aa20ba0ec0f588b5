#include "platform/log_lines.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdlib>

namespace orv {

bool JournalStreamNames(std::string_view journal_stream, dev_t device, ino_t inode) {
  const std::size_t colon = journal_stream.find(':');
  if (colon == std::string_view::npos) return false;
  // Both numbers whole and decimal: anything else names no stream.
  auto number = [](std::string_view digits, unsigned long long& value) {
    const char* end = digits.data() + digits.size();
    const auto [at, error] = std::from_chars(digits.data(), end, value);
    return !digits.empty() && error == std::errc() && at == end;
  };
  unsigned long long dev = 0;
  unsigned long long ino = 0;
  return number(journal_stream.substr(0, colon), dev) &&
         number(journal_stream.substr(colon + 1), ino) && dev == device && ino == inode;
}

bool IsJournalStream(int fd) {
  const char* named = std::getenv("JOURNAL_STREAM");
  struct stat status {};
  if (named == nullptr || ::fstat(fd, &status) != 0) return false;
  return JournalStreamNames(named, status.st_dev, status.st_ino);
}

std::string LogLine(std::string_view text, LogPriority priority, bool to_journal) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!to_journal) return std::string(text) + '\n';
  const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
  std::string out;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    out += prefix;
    out += text.substr(start, end == std::string_view::npos ? end : end - start);
    out += '\n';
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

}  // namespace orv
