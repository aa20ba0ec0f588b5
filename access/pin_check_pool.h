#pragma once

// PIN checks off the service's loop. A yescrypt check costs tens of milliseconds by design; run
// on the loop, a flood of log-ins would stop the line's polling. A few workers check in turn, the
// window's log-ins before the local sockets' before the web's, each kind with a bounded queue: a
// full queue is a refusal at once, never a wait. The answer goes back to the loop through the
// post function the caller gives (a queued call in Qt).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orv {

// Who waits for a check, first served first.
enum class PinLane { kWindow, kLocal, kWeb };
inline constexpr std::size_t kPinLanes = 3;

class PinCheckPool {
 public:
  using VerifyFn = std::function<bool(std::string_view pin, std::string_view hash)>;
  // Makes the hash unknown and disabled names are checked against, once, on a worker.
  using DummyFn = std::function<std::string()>;
  // Hands a call to the loop; called from a worker.
  using PostFn = std::function<void(std::function<void()>)>;
  using DoneFn = std::function<void(bool ok)>;
  struct Limits {
    int workers = 2;
    std::size_t queue = 16;  // per lane
  };

  PinCheckPool(PostFn post, VerifyFn verify, DummyFn dummy, Limits limits);
  // Waits for the checks running now; the queued ones are dropped, their done never called.
  ~PinCheckPool();
  PinCheckPool(const PinCheckPool&) = delete;
  PinCheckPool& operator=(const PinCheckPool&) = delete;

  // Checks pin against hash (empty: the dummy hash) on a worker and posts done(ok). False when
  // the lane's queue is full: nothing was queued and done is never called.
  bool Check(PinLane lane, std::string pin, std::string hash, DoneFn done);

 private:
  struct Job {
    std::string pin;
    std::string hash;
    DoneFn done;
  };
  void Work();

  PostFn post_;
  VerifyFn verify_;
  DummyFn make_dummy_;
  Limits limits_;
  std::once_flag dummy_once_;
  std::string dummy_;  // written once under dummy_once_, read only after it
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> lanes_[kPinLanes];
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace orv
