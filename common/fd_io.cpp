#include "common/fd_io.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace theme_search {

namespace {

sigset_t sigpipeOnly() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

bool sigpipePending() {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

ReadResult readAll(int fd, std::size_t limit) {
  ReadResult result;
  char buffer[64 * 1024];
  for (;;) {
    // Ask for one byte past the limit, so "exactly limit bytes" and "more"
    // can be told apart without reading on.
    const std::size_t wanted = std::min(sizeof buffer, limit + 1 - result.data.size());
    const ssize_t got = ::read(fd, buffer, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.reason = std::string("read failed: ") + std::strerror(errno);
      return result;
    }
    if (got == 0) return result;
    result.data.append(buffer, static_cast<std::size_t>(got));
    if (result.data.size() > limit) {
      result.data.resize(limit);
      result.reason = "more than " + std::to_string(limit) + " bytes";
      return result;
    }
  }
}

WriteResult writeAll(int fd, std::string_view text) {
  ScopedSigpipeBlock noSigpipe;
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return {std::string("write failed: ") + std::strerror(errno)};
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

ScopedSigpipeBlock::ScopedSigpipeBlock() {
  const sigset_t pipeOnly = sigpipeOnly();
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &previousMask_);
  // Checked after blocking: a SIGPIPE pending now was not raised by us.
  alreadyPending_ = sigpipePending();
}

ScopedSigpipeBlock::~ScopedSigpipeBlock() {
  const sigset_t pipeOnly = sigpipeOnly();
  if (!alreadyPending_ && sigpipePending()) {
    const timespec noWait{0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

}  // namespace theme_search
