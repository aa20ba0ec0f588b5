#include "access/pin_check_pool.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orv {

PinCheckPool::PinCheckPool(PostFn post, VerifyFn verify, DummyFn dummy, Limits limits)
    : post_(std::move(post)),
      verify_(std::move(verify)),
      make_dummy_(std::move(dummy)),
      limits_(limits) {
  for (int i = 0; i < std::max(1, limits_.workers); ++i)
    workers_.emplace_back([this] { Work(); });
}

PinCheckPool::~PinCheckPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_)
    worker.join();
}

bool PinCheckPool::Check(PinLane lane, std::string pin, std::string hash, DoneFn done) {
  {
    const std::lock_guard lock(mutex_);
    std::deque<Job>& queue = lanes_[static_cast<std::size_t>(lane)];
    if (queue.size() >= limits_.queue) return false;
    queue.push_back(Job{std::move(pin), std::move(hash), std::move(done)});
  }
  wake_.notify_one();
  return true;
}

void PinCheckPool::Work() {
  // Made before the first check, so that the first unknown name costs what the others do.
  std::call_once(dummy_once_, [this] { dummy_ = make_dummy_(); });
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] {
        if (stopping_) return true;
        for (const auto& lane : lanes_)
          if (!lane.empty()) return true;
        return false;
      });
      if (stopping_) return;
      for (auto& lane : lanes_) {
        if (lane.empty()) continue;
        job = std::move(lane.front());
        lane.pop_front();
        break;
      }
    }
    const bool ok = verify_(job.pin, job.hash.empty() ? dummy_ : job.hash);
    explicit_bzero(job.pin.data(), job.pin.size());
    post_([done = std::move(job.done), ok] { done(ok); });
  }
}

}  // namespace orv
