#include "posix_semaphore.h"

#include <cerrno>

Semaphore::Semaphore(unsigned initialValue) {
  sem_init(&semaphore, 0, initialValue);
}

Semaphore::~Semaphore() {
  sem_destroy(&semaphore);
}

void Semaphore::wait() {
  // A signal delivered to the waiting thread interrupts sem_wait; the wait
  // goes on, since no caller can do anything useful without the unit.
  while (sem_wait(&semaphore) != 0 && errno == EINTR) {
  }
}

void Semaphore::post() {
  sem_post(&semaphore);
}

int Semaphore::value() const {
  int current = 0;
  sem_getvalue(&semaphore, &current);
  return current;
}
