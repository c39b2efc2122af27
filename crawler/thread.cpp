#include "thread.h"

#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "log_write.h"

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
  // Last resort: an exception leaving a thread would end the whole process.
  // The thread ends with one line instead; stop and join still work.
  try {
    static_cast<Thread*>(self)->run();
  } catch (const std::exception& error) {
    writeLog(std::cerr, std::string("ERROR THREAD ") + error.what() + "\n");
  }
  return nullptr;
}
