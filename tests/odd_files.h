#pragma once

// Entries where a settings file should be that are no ordinary file, and a guard for code that
// might hang on them. POSIX only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include <gtest/gtest.h>

namespace orv::test {

inline void MakeFifo(const std::filesystem::path& p) {
  ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0) << p;
}

// Lets a reader that waits in open() on a FIFO go on: opening the other end releases it, and
// closing it again gives the reader an empty file. Nothing happens when nobody waits.
inline void ReleaseFifoReader(const std::filesystem::path& p) {
  const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
}

// Runs work on a thread of its own and waits for it; a guard against hanging, not a timing
// requirement. When it has not finished within the limit, release() gets a few seconds to free it
// (the test then fails cleanly); work that is still stuck after that cannot be stopped from
// outside, so the test program ends with a message rather than waiting forever.
inline void FinishOrStop(const std::function<void()>& work, const std::string& what,
                         const std::function<void()>& release = {}) {
  constexpr auto kLimit = std::chrono::seconds(5);
  std::future<void> done = std::async(std::launch::async, work);
  if (done.wait_for(kLimit) == std::future_status::ready) return done.get();
  if (release) {
    // Released again and again: the work may wait more than once.
    for (int i = 0; i < 50; ++i) {
      release();
      if (done.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready) {
        done.get();
        ADD_FAILURE() << what << " hung until it was released";
        return;
      }
    }
  }
  std::fprintf(stderr, "%s did not finish within %lld s: stopping the test program\n", what.c_str(),
               static_cast<long long>(kLimit.count()));
  std::fflush(stderr);
  std::_Exit(EXIT_FAILURE);
}

}  // namespace orv::test
