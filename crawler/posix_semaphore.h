#pragma once

#include <semaphore.h>

// An unnamed POSIX semaphore private to the process. With initial value 1 it
// serves as a lock around a container (hold it through SemaphoreLock); with
// initial value 0 it counts available items. Not copyable or movable: the
// sem_t must stay where it was initialised.
class Semaphore {
 public:
  explicit Semaphore(unsigned initialValue);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Blocks while the value is 0, then decrements it. No time-out.
  void wait();
  // Increments the value, waking one waiter.
  void post();
  // The current value, read without waiting (it may be stale at once).
  [[nodiscard]] int value() const;

 private:
  mutable sem_t semaphore;
};

// Holds a Semaphore used as a lock for the lifetime of the guard: waits on
// construction, posts on destruction, so an exception cannot leave it held.
class SemaphoreLock {
 public:
  explicit SemaphoreLock(Semaphore& lock) : lock(lock) { lock.wait(); }
  ~SemaphoreLock() { lock.post(); }
  SemaphoreLock(const SemaphoreLock&) = delete;
  SemaphoreLock& operator=(const SemaphoreLock&) = delete;

 private:
  Semaphore& lock;
};
