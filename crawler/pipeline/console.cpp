#include "crawler/pipeline/console.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "common/text.h"
#include "crawler/analysis/document_text.h"

namespace theme_search {

namespace {

// Hands on the complete words of `pending` and keeps its unfinished tail;
// true once "exit" has been handed on.
bool handWords(std::string& pending, bool complete,
               const std::function<void(const std::string&)>& queue) {
  std::string::size_type end = 0;
  while (true) {
    std::string::size_type begin = end;
    while (begin < pending.size() && isAsciiSpace(pending[begin])) ++begin;
    end = begin;
    while (end < pending.size() && !isAsciiSpace(pending[end])) ++end;
    if (begin == end || (end == pending.size() && !complete)) {
      pending.erase(0, begin);
      return false;
    }
    const std::string word = pending.substr(begin, end - begin);
    if (word == "exit") return true;
    queue(word);
  }
}

// The write end of the signal pipe, for the handler; -1 when none.
std::atomic<int> signalPipe{-1};
std::atomic<int> interrupts{0};

extern "C" void onStopSignal(int signal) {
  const int savedErrno = errno;
  if (signal == SIGINT && interrupts.fetch_add(1) >= 1) {
    removeTemporaryFilesNow();
    ::_exit(128 + SIGINT);
  }
  const char byte = static_cast<char>(signal);
  // A full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t written = ::write(signalPipe.load(), &byte, 1);
  errno = savedErrno;
}

}  // namespace

ConsoleEnd readConsole(const std::function<void(const std::string&)>& queue, int input, int wake) {
  std::string pending;
  char buffer[4096];
  while (true) {
    pollfd watched[2] = {{input, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(watched, wake >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return ConsoleEnd::endOfInput;
    }
    if (wake >= 0 && (watched[1].revents & POLLIN) != 0) return ConsoleEnd::stopSignal;
    if (watched[0].revents == 0) continue;
    const ssize_t got = ::read(input, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    const bool ended = got <= 0;
    if (!ended) pending.append(buffer, static_cast<std::size_t>(got));
    if (handWords(pending, ended, queue)) return ConsoleEnd::exitTyped;
    if (ended) return ConsoleEnd::endOfInput;
  }
}

StopSignals::StopSignals() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "signal pipe");
  readEnd.reset(ends[0]);
  writeEnd.reset(ends[1]);
  signalPipe.store(writeEnd.get());
  interrupts.store(0);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previousInterrupt);
  ::sigaction(SIGTERM, &action, &previousTerminate);
}

StopSignals::~StopSignals() {
  ::sigaction(SIGINT, &previousInterrupt, nullptr);
  ::sigaction(SIGTERM, &previousTerminate, nullptr);
  signalPipe.store(-1);
}

StopSignalWatch::StopSignalWatch(int wake, std::function<void()> onSignal)
    : onSignal(std::move(onSignal)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "signal watch pipe");
  quitRead.reset(ends[0]);
  quitWrite.reset(ends[1]);
  thread = std::thread(&StopSignalWatch::run, this, wake);
}

StopSignalWatch::~StopSignalWatch() {
  // Closing the write end makes the read end readable: the thread ends.
  quitWrite.reset();
  thread.join();
}

void StopSignalWatch::run(int wake) {
  while (true) {
    pollfd watched[2] = {{wake, POLLIN, 0}, {quitRead.get(), POLLIN, 0}};
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((watched[1].revents & (POLLIN | POLLHUP)) != 0) return;
    if ((watched[0].revents & POLLIN) != 0) {
      onSignal();
      return;
    }
  }
}

BlockedSignals::BlockedSignals(std::initializer_list<int> signals) {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : signals) sigaddset(&blocked, signal);
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
}

BlockedSignals::~BlockedSignals() {
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace theme_search
