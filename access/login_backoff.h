#pragma once

// Wrong PINs make a name wait, per name and origin: the web's guesses at a name never make the
// window's operator of that name wait. The table is bounded (whoever makes the most entries
// loses their oldest first) and kept over a restart in a small text file, in wall-clock times.

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "access/origin.h"

namespace orv {

class LogInBackOff {
 public:
  static constexpr int kFreeAttempts = 5;
  static constexpr std::chrono::seconds kFirstWait{30};
  static constexpr std::chrono::seconds kLongestWait = std::chrono::minutes(15);
  static constexpr std::size_t kMostEntries = 4096;

  // How long the name waits at the origin before its next PIN is checked; zero: no wait. The
  // wait starts after free wrong PINs in a row.
  std::chrono::seconds WaitLeft(const std::string& name, const Origin& origin,
                                AccessClock::time_point now, int free = kFreeAttempts) const;
  // One more wrong PIN; the wait after it.
  std::chrono::seconds Failed(const std::string& name, const Origin& origin,
                              AccessClock::time_point now, int free = kFreeAttempts);
  // A right PIN starts the count afresh.
  void Succeeded(const std::string& name, const Origin& origin);

  std::size_t size() const { return entries_.size(); }
  // Changed since the last Save.
  bool changed() const { return changed_; }
  // The last Save did not reach its file: saved again with the next.
  void SaveFailed() { changed_ = true; }

  // The table as its file holds it, times on the wall clock; clears changed.
  std::string Save(AccessClock::time_point now, std::chrono::system_clock::time_point wall);
  // Replaces the table with a file's; a damaged file leaves it empty, false with why.
  bool Load(std::string_view text, AccessClock::time_point now,
            std::chrono::system_clock::time_point wall, std::string& problem);

 private:
  using Key = std::pair<std::string, Origin>;
  struct Failures {
    int count = 0;
    AccessClock::time_point last;
  };
  static std::chrono::seconds WaitLeft(const Failures& failures, AccessClock::time_point now,
                                       int free);

  std::map<Key, Failures> entries_;
  bool changed_ = false;
};

}  // namespace orv
