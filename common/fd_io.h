#pragma once

#include <signal.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace theme_search {

// What readAll produced: the bytes read, and why it stopped short if it did.
struct [[nodiscard]] ReadResult {
  std::string data;    // everything read, at most the limit, also on failure
  std::string reason;  // empty on success, else e.g. "read failed: Bad file descriptor"
  bool ok() const { return reason.empty(); }
};

// Whether writeAll wrote everything, and why not.
struct [[nodiscard]] WriteResult {
  std::string reason;  // empty on success, else e.g. "write failed: Broken pipe"
  bool ok() const { return reason.empty(); }
};

// Reads a blocking descriptor until end of file, retrying interrupted reads.
// Blocks until the writer closes. Fails with "more than <limit> bytes" if
// the descriptor holds more than limit bytes (data then has the first limit).
ReadResult readAll(int fd, std::size_t limit);

// Writes all of text to a blocking descriptor, retrying interrupted and
// partial writes. A pipe or socket whose reader has gone gives "write
// failed: Broken pipe" instead of SIGPIPE (see ScopedSigpipeBlock).
WriteResult writeAll(int fd, std::string_view text);
inline WriteResult writeAll(int fd, const char* text) {
  return writeAll(fd, std::string_view(text));
}

// While alive, SIGPIPE is blocked in the calling thread, so a write to a pipe
// whose reader has gone fails with EPIPE instead of killing the process. On
// destruction a SIGPIPE raised meanwhile is taken off the pending set (unless
// one was already pending before), then the thread's previous signal mask is
// restored. The process's signal dispositions are never touched, so other
// threads and later code see no change. A SIGPIPE sent from outside during
// the guard's life is discarded with ours. Create and destroy on one thread.
class ScopedSigpipeBlock {
 public:
  ScopedSigpipeBlock();
  ~ScopedSigpipeBlock();
  ScopedSigpipeBlock(const ScopedSigpipeBlock&) = delete;
  ScopedSigpipeBlock& operator=(const ScopedSigpipeBlock&) = delete;

 private:
  sigset_t previousMask_;
  bool alreadyPending_ = false;
};

}  // namespace theme_search
