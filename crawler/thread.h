#pragma once

#include <pthread.h>

#include <stdexcept>

// Raised by Thread::start when the system cannot create the thread.
class ThreadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Base of the crawler's worker objects: a POSIX thread that runs the derived
// class's run(). A derived class starts its thread as the last step of its
// constructor and stops and joins it as the first step of its destructor, so
// run() never sees a half-built or half-destroyed object. Not copyable or
// movable (the running thread holds this object's address).
class Thread {
 public:
  Thread() = default;
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Drops any earlier thread of this object (detach), then starts a new one
  // running run(). Throws ThreadError when the thread cannot be created.
  void start();
  // Waits for the thread to end, if one is attached; never joins twice.
  void join();
  // Lets an attached thread run on its own; the object forgets it.
  void detach();
  // True from start until the thread is joined or detached.
  [[nodiscard]] bool isAttached() const { return attached; }

 protected:
  // The thread's body. Must not let an exception escape; one that does ends
  // the thread (not the process) after an "ERROR THREAD" line on stderr.
  virtual void run() = 0;

 private:
  static void* threadEntry(void* self);

  pthread_t handle{};
  bool attached = false;
};
