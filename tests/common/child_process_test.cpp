#include "common/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/unique_fd.h"
#include "fd_count.h"

namespace theme_search {
void PrintTo(ChildResult::Outcome outcome, std::ostream* out) {
  static const char* const names[] = {"exited", "killedBySignal", "killedAtDeadline",
                                      "outputTooLarge", "notStarted"};
  *out << names[static_cast<int>(outcome)];
}
}  // namespace theme_search

namespace {

using namespace theme_search;
using namespace std::chrono_literals;
using Outcome = ChildResult::Outcome;
using Clock = std::chrono::steady_clock;

std::string patterned(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 7 % 251);
  return text;
}

// True once the process has exited (it may stay a zombie of another parent),
// waiting at most `limit` for it.
bool exitsWithin(pid_t pid, std::chrono::milliseconds limit) {
  const UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!pidFd.valid()) return errno == ESRCH;
  pollfd fd{pidFd.get(), POLLIN, 0};
  return ::poll(&fd, 1, static_cast<int>(limit.count())) == 1;
}

bool sigpipeBlockedOrPending() {
  sigset_t mask, pending;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  sigpending(&pending);
  return sigismember(&mask, SIGPIPE) == 1 || sigismember(&pending, SIGPIPE) == 1;
}

TEST(RunChild, PassesAMebibyteThroughCatIntact) {
  const std::string input = patterned(1 << 20);
  const ChildResult result = runChild({"cat"}, input, 10s);
  EXPECT_EQ(result.outcome, Outcome::exited) << result.reason;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output.size(), input.size());
  EXPECT_TRUE(result.output == input) << "output differs from input";
}

TEST(RunChild, ChildThatStopsReadingLosesTheRestOfItsInputOnly) {
  const std::string input = patterned(4 << 20);
  const struct {
    std::vector<std::string> argv;
    std::string output;
  } cases[] = {
      {{"true"}, ""},
      {{"head", "-c", "10"}, input.substr(0, 10)},
      {{"sh", "-c", "exec <&-; echo closed"}, "closed\n"},
  };
  for (const auto& c : cases) {
    // A child that is never told its input ended would stay until the deadline.
    const ChildResult result = runChild(c.argv, input, 5s);
    EXPECT_TRUE(result.succeeded()) << c.argv[0] << ": " << result.reason;
    EXPECT_EQ(result.output, c.output) << c.argv[0];
    EXPECT_FALSE(sigpipeBlockedOrPending()) << c.argv[0];
  }
}

TEST(RunChild, ReportsHowTheChildEnded) {
  const struct {
    std::vector<std::string> argv;
    std::string input;
    std::size_t outputLimit;
    Outcome outcome;
    int exitStatus;
    std::string output;
    std::string reason;
  } cases[] = {
      {{"sh", "-c", "read line; echo \"got $line\""},
       "hi\n",
       100,
       Outcome::exited,
       0,
       "got hi\n",
       ""},
      {{"sh", "-c", "echo out; exit 3"},
       "",
       100,
       Outcome::exited,
       3,
       "out\n",
       "exited with status 3"},
      {{"sh", "-c", "printf part; kill -SEGV $$"},
       "",
       100,
       Outcome::killedBySignal,
       -1,
       "part",
       "died of signal 11 (Segmentation fault)"},
      {{"printf", "abc"}, "", 3, Outcome::exited, 0, "abc", ""},
      {{"printf", "abc"}, "", 2, Outcome::outputTooLarge, -1, "ab", "output larger than 2 bytes"},
      {{"cat", "/dev/zero"},
       "",
       100000,
       Outcome::outputTooLarge,
       -1,
       std::string(100000, '\0'),
       "output larger than 100000 bytes"},
      {{"no-such-program-xq7"},
       "",
       100,
       Outcome::notStarted,
       -1,
       "",
       "no such program: no-such-program-xq7"},
      {{"/no/such/dir/prog"},
       "x",
       100,
       Outcome::notStarted,
       -1,
       "",
       "no such program: /no/such/dir/prog"},
      {{"/dev/null"},
       "",
       100,
       Outcome::notStarted,
       -1,
       "",
       "cannot start /dev/null: Permission denied"},
      {{}, "", 100, Outcome::notStarted, -1, "", "no program given"},
  };
  const int descriptorsBefore = openDescriptorCount();
  for (const auto& c : cases) {
    const std::string shown = c.argv.empty() ? "(empty)" : c.argv.back();
    const ChildResult result = runChild(c.argv, c.input, 10s, c.outputLimit);
    EXPECT_EQ(result.outcome, c.outcome) << shown << ": " << result.reason;
    EXPECT_EQ(result.exitStatus, c.exitStatus) << shown;
    EXPECT_TRUE(result.output == c.output) << shown << ": output of " << result.output.size();
    EXPECT_EQ(result.reason, c.reason) << shown;
  }
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

// Each script starts a 30 s grandchild and prints its pid. Whether the run
// ends at the deadline or by a normal exit, the grandchild must be gone.
TEST(RunChild, EndOfRunKillsTheWholeProcessGroup) {
  const struct {
    std::string script;
    Outcome outcome;
    std::string reason;
  } cases[] = {
      // the grandchild holds the output pipe open
      {"sleep 30 & echo $!; wait", Outcome::killedAtDeadline, "killed after 300 ms"},
      // output closed, but the child itself never exits
      {"sleep 30 >/dev/null & echo $!; exec >&-; wait", Outcome::killedAtDeadline,
       "killed after 300 ms"},
      // the child exits at once and leaves a straggler behind
      {"sleep 30 >/dev/null & echo $!", Outcome::exited, ""},
  };
  const int descriptorsBefore = openDescriptorCount();
  for (const auto& c : cases) {
    const auto started = Clock::now();
    const ChildResult result = runChild({"sh", "-c", c.script}, "", 300ms);
    const auto elapsed = Clock::now() - started;
    EXPECT_EQ(result.outcome, c.outcome) << c.script;
    EXPECT_EQ(result.reason, c.reason) << c.script;
    EXPECT_LT(elapsed, 5s) << c.script;
    if (c.outcome == Outcome::killedAtDeadline) {
      EXPECT_GE(elapsed, 300ms) << c.script;
    }
    const pid_t grandchild = std::atoi(result.output.c_str());
    ASSERT_GT(grandchild, 1) << c.script << " printed: " << result.output;
    EXPECT_TRUE(exitsWithin(grandchild, 5s)) << c.script;
    ::kill(grandchild, SIGKILL);  // clean up after a failure; harmless otherwise
  }
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(RunChild, ChildInheritsOnlyStdinStdoutAndStderr) {
  // Without close-on-exec, as careless code elsewhere in the process might
  // leave it (F_DUPFD does not set it); placed above 10 so it cannot be mistaken
  // for stdin even when ours is closed.
  const UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const UniqueFd careless(::fcntl(devNull.get(), F_DUPFD, 10));
  ASSERT_GE(careless.get(), 10);
  const ChildResult result = runChild({"sh", "-c", "ls /proc/$$/fd"}, "", 10s);
  ASSERT_TRUE(result.succeeded()) << result.reason;
  std::istringstream listing(result.output);
  std::vector<int> descriptors;
  for (int fd; listing >> fd;) descriptors.push_back(fd);
  ASSERT_GE(descriptors.size(), 2u) << result.output;
  EXPECT_EQ(descriptors[0], 0) << result.output;
  EXPECT_EQ(descriptors[1], 1) << result.output;
  for (const int fd : descriptors) EXPECT_LT(fd, 3) << "listing: " << result.output;
}

TEST(RunChild, EnvironmentIsOursUnlessGiven) {
  ASSERT_EQ(::setenv("RUN_CHILD_TEST_VALUE", "inherited", 1), 0);
  const std::vector<std::string> argv = {"sh", "-c", "echo \"$RUN_CHILD_TEST_VALUE\""};
  EXPECT_EQ(runChild(argv, "", 10s).output, "inherited\n");
  EXPECT_EQ(
      runChild(argv, "", 10s, 100, std::vector<std::string>{"RUN_CHILD_TEST_VALUE=given"}).output,
      "given\n");
  EXPECT_EQ(runChild(argv, "", 10s, 100, std::vector<std::string>{}).output, "\n");
  ::unsetenv("RUN_CHILD_TEST_VALUE");
}

}  // namespace
