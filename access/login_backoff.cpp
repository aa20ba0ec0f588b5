// The back-off table and its file: one line per name and origin, tab-separated, the names kept as
// a refused log-in's record shows them (escaped, bounded), so no field holds a tab or a line break.

#include "access/login_backoff.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace orv {
namespace {

constexpr std::string_view kHeader = "orvandel log-in back-off 1\n";

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t from = 0;;) {
    const std::size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string_view::npos ? tab : tab - from));
    if (tab == std::string_view::npos) return fields;
    from = tab + 1;
  }
}

template <typename T>
bool Number(std::string_view text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool Plain(std::string_view field) {
  return field.find_first_of("\t\r\n") == std::string_view::npos;
}

}  // namespace

std::chrono::seconds LogInBackOff::WaitLeft(const Failures& failures, AccessClock::time_point now,
                                            int free) {
  if (failures.count < free) return std::chrono::seconds::zero();
  std::chrono::seconds wait = kFirstWait;
  for (int i = free; i < failures.count && wait < kLongestWait; ++i)
    wait *= 2;
  wait = std::min(wait, kLongestWait);
  const auto left = failures.last + wait - now;
  if (left <= AccessClock::duration::zero()) return std::chrono::seconds::zero();
  // Rounded up: a wait of 0.4 s left is still a wait.
  return std::chrono::ceil<std::chrono::seconds>(left);
}

std::chrono::seconds LogInBackOff::WaitLeft(const std::string& name, const Origin& origin,
                                            AccessClock::time_point now, int free) const {
  const auto found = entries_.find(Key{name, origin});
  return found == entries_.end() ? std::chrono::seconds::zero()
                                 : WaitLeft(found->second, now, free);
}

std::chrono::seconds LogInBackOff::Failed(const std::string& name, const Origin& origin,
                                          AccessClock::time_point now, int free) {
  Key key{name, origin};
  auto found = entries_.find(key);
  if (found == entries_.end()) {
    if (entries_.size() >= kMostEntries) {
      entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
        return a.second.last < b.second.last;
      }));
    }
    found = entries_.emplace(std::move(key), Failures{}).first;
  }
  ++found->second.count;
  found->second.last = now;
  changed_ = true;
  return WaitLeft(found->second, now, free);
}

void LogInBackOff::Succeeded(const std::string& name, const Origin& origin) {
  if (entries_.erase(Key{name, origin}) != 0) changed_ = true;
}

std::string LogInBackOff::Save(AccessClock::time_point now,
                               std::chrono::system_clock::time_point wall) {
  std::string text(kHeader);
  for (const auto& [key, failures] : entries_) {
    if (!Plain(key.first) || !Plain(key.second.detail)) continue;
    const auto when =
        wall - std::chrono::duration_cast<std::chrono::system_clock::duration>(now - failures.last);
    text += std::to_string(failures.count) + '\t' +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count()) +
            '\t' + std::to_string(static_cast<int>(key.second.kind)) + '\t' + key.second.detail +
            '\t' + key.first + '\n';
  }
  changed_ = false;
  return text;
}

bool LogInBackOff::Load(std::string_view text, AccessClock::time_point now,
                        std::chrono::system_clock::time_point wall, std::string& problem) {
  entries_.clear();
  changed_ = false;
  const auto damaged = [&](std::size_t line, const std::string& why) {
    entries_.clear();
    problem = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  if (!text.starts_with(kHeader)) return damaged(1, "not a log-in back-off file");
  text.remove_prefix(kHeader.size());
  std::size_t line_number = 1;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return damaged(line_number, "cut short");
    const std::vector<std::string_view> fields = Fields(text.substr(0, end));
    text.remove_prefix(end + 1);
    int count = 0;
    long long seconds = 0;
    int kind = 0;
    if (fields.size() != 5 || !Number(fields[0], count) || count < 1 ||
        !Number(fields[1], seconds) || !Number(fields[2], kind) || kind < 0 ||
        kind > static_cast<int>(OriginKind::kShell)) {
      return damaged(line_number, "not count, time, origin and name");
    }
    if (entries_.size() >= kMostEntries) return damaged(line_number, "too many lines");
    const std::chrono::system_clock::time_point when{std::chrono::seconds(seconds)};
    // A time ahead of the clock (set back since) counts as now: never a wait longer than its own.
    const auto ago = std::max(wall - when, std::chrono::system_clock::duration::zero());
    Failures& failures = entries_[Key{
        std::string(fields[4]), Origin{static_cast<OriginKind>(kind), std::string(fields[3])}}];
    failures.count = count;
    failures.last = now - std::chrono::duration_cast<AccessClock::duration>(ago);
  }
  return true;
}

}  // namespace orv
