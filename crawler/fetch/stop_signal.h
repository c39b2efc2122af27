#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace theme_search {

// A one-way stop request shared by the thread that stops a stage and the
// stage's own thread: a transfer in progress polls requested(), a wait
// between two requests sleeps in waitUntil() and wakes at once on request().
// Safe to use from any thread; must outlive every user.
class StopSignal {
 public:
  StopSignal() = default;
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Sets the request and wakes every waiter. Idempotent.
  void request() {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      flag = true;
    }
    wake.notify_all();
  }

  [[nodiscard]] bool requested() const { return flag; }

  // Blocks until `deadline` or a stop request, whichever comes first.
  // Returns false when the wait ended because of a stop request.
  [[nodiscard]] bool waitUntil(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_until(lock, deadline, [this] { return flag.load(); });
  }

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable wake;
  std::atomic<bool> flag{false};
};

}  // namespace theme_search
