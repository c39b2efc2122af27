#include "common/fd_io.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <future>

#include <gtest/gtest.h>

#include "common/unique_fd.h"
#include "fd_count.h"

namespace {

using namespace theme_search;

struct Pipe {
  UniqueFd readEnd, writeEnd;
};

Pipe makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

bool sigpipeBlockedOrPending() {
  sigset_t mask, pending;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  sigpending(&pending);
  return sigismember(&mask, SIGPIPE) == 1 || sigismember(&pending, SIGPIPE) == 1;
}

// Contents well past a pipe's buffer, so reader and writer must take turns.
TEST(FdIo, ReadAllStopsAtTheLimitAndSaysSo) {
  const std::string content(200000, 'x');
  const struct {
    std::size_t limit;
    std::size_t dataSize;
    std::string reason;
    std::string writerReason;
  } cases[] = {
      {200000, 200000, "", ""},
      // The reader reads one byte past the limit: here, all there is.
      {199999, 199999, "more than 199999 bytes", ""},
      // The reader leaves more than a pipe holds unread.
      {0, 0, "more than 0 bytes", "write failed: Broken pipe"},
  };
  for (const auto& c : cases) {
    Pipe pipe = makePipe();
    ASSERT_TRUE(pipe.readEnd.valid());
    // The writer gets EPIPE (not SIGPIPE) once the reader gives up early.
    auto writer = std::async(std::launch::async, [&] {
      const WriteResult written = writeAll(pipe.writeEnd.get(), content);
      pipe.writeEnd.reset();
      return written;
    });
    const ReadResult read = readAll(pipe.readEnd.get(), c.limit);
    pipe.readEnd.reset();
    ASSERT_EQ(writer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(read.data.size(), c.dataSize) << "limit " << c.limit;
    EXPECT_EQ(read.reason, c.reason) << "limit " << c.limit;
    EXPECT_EQ(writer.get().reason, c.writerReason) << "limit " << c.limit;
  }
}

TEST(FdIo, FailuresComeBackAsReasons) {
  EXPECT_EQ(readAll(-1, 10).reason, "read failed: Bad file descriptor");
  EXPECT_EQ(writeAll(-1, "x").reason, "write failed: Bad file descriptor");
  Pipe pipe = makePipe();
  pipe.readEnd.reset();
  EXPECT_EQ(writeAll(pipe.writeEnd.get(), "nobody reads this").reason, "write failed: Broken pipe");
  EXPECT_FALSE(sigpipeBlockedOrPending());
}

TEST(UniqueFd, ClosesWhatItOwnsExactlyOnce) {
  const int before = openDescriptorCount();
  {
    UniqueFd kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    UniqueFd moved(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    kept = std::move(moved);  // closes the descriptor kept had
    EXPECT_FALSE(moved.valid());
    EXPECT_EQ(openDescriptorCount(), before + 1);
    kept.reset(kept.get());  // taking the same descriptor again must not close it
    EXPECT_GE(::fcntl(kept.get(), F_GETFD), 0);
    const int raw = kept.release();
    EXPECT_EQ(openDescriptorCount(), before + 1);
    kept.reset(raw);
  }
  EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
