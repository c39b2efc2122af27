#include "thread.h"

#include <cstring>
#include <string>

Thread::~Thread() {
  detach();
}

void Thread::start() {
  detach();
  int failure = pthread_create(&handle, nullptr, &Thread::threadEntry, this);
  if (failure != 0)
    throw ThreadError(std::string("cannot create thread: ") + std::strerror(failure));
  attached = true;
}

void Thread::join() {
  if (!attached) return;
  pthread_join(handle, nullptr);
  attached = false;
}

void Thread::detach() {
  if (!attached) return;
  pthread_detach(handle);
  attached = false;
}

void* Thread::threadEntry(void* self) {
  static_cast<Thread*>(self)->run();
  return nullptr;
}
