#pragma once

#include <csignal>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>

#include "common/unique_fd.h"

namespace theme_search {

// How the console ended.
enum class ConsoleEnd { exitTyped, endOfInput, stopSignal };

// The operator's console: every whitespace-separated word read from the
// descriptor `input` (blank, tab, line feed, carriage return, vertical tab
// and form feed separate words) is handed to `queue`, which queues it as a
// start URL with priority 0. The word "exit" (exact) is not a URL: it ends
// the console; so does the end of the input (a last word without a
// line end still counts), and so does a byte readable on `wake`, the
// descriptor StopSignals writes to when a stop signal arrives. Blocks; runs
// on the main thread while the crawl threads work.
ConsoleEnd readConsole(const std::function<void(const std::string&)>& queue, int input, int wake);

// The process's handling of SIGINT and SIGTERM while it lives: the handler
// only writes a byte to a pipe, whose reading end (wakeDescriptor()) the
// console watches, so the main thread stops the crawl in order. A second
// SIGINT ends the process at once (status 130), after removing the
// conversion's temporary files. One instance at a time, made on the main
// thread before any other thread starts; the destructor puts the earlier
// handlers back. Not copyable.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  [[nodiscard]] int wakeDescriptor() const { return readEnd.get(); }

 private:
  UniqueFd readEnd;
  UniqueFd writeEnd;
  struct sigaction previousInterrupt {};
  struct sigaction previousTerminate {};
};

// Watches the descriptor StopSignals writes to, for a run that reads no
// console: its thread calls `onSignal` once, when a stop signal arrives. The
// destructor ends the watch without calling it (through a pipe of its own)
// and joins the thread; whatever `onSignal` uses must outlive the object.
// Throws std::system_error when the pipe or the thread cannot be made. Not
// copyable.
class StopSignalWatch {
 public:
  StopSignalWatch(int wake, std::function<void()> onSignal);
  ~StopSignalWatch();
  StopSignalWatch(const StopSignalWatch&) = delete;
  StopSignalWatch& operator=(const StopSignalWatch&) = delete;

 private:
  void run(int wake);

  std::function<void()> onSignal;
  UniqueFd quitRead;
  UniqueFd quitWrite;
  std::thread thread;
};

// Blocks the given signals in the calling thread for its lifetime, so that
// threads started meanwhile inherit the block and the signals go to the
// thread that made it. Not copyable.
class BlockedSignals {
 public:
  explicit BlockedSignals(std::initializer_list<int> signals);
  ~BlockedSignals();
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t previous{};
};

}  // namespace theme_search
