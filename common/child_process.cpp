#include "common/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "common/fd_io.h"
#include "common/unique_fd.h"

namespace theme_search {

namespace {

using Clock = std::chrono::steady_clock;

std::string errorText(int error) {
  return ::strerror(error);
}

// A descriptor that becomes readable when the process exits, so the wait
// can be bounded by poll. Called through syscall because glibc 2.36's
// <sys/pidfd.h> lacks C linkage for C++.
UniqueFd openPidFd(pid_t pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

ChildResult notStarted(std::string reason) {
  ChildResult result;
  result.outcome = ChildResult::Outcome::notStarted;
  result.reason = std::move(reason);
  return result;
}

// Both pipes of a run. Every end is close-on-exec; the parent's ends are
// non-blocking, the child's ends (placed on its stdin and stdout by the spawn
// file actions) stay blocking, as programs expect.
struct ChildPipes {
  UniqueFd stdinRead, stdinWrite, stdoutRead, stdoutWrite;
};

std::optional<ChildPipes> makeChildPipes() {
  // The stdin pipe is made first: if our fd 0 is closed it takes 0 itself, so
  // the stdout write end can never sit on 0 and be overwritten by the
  // child's first dup2.
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return std::nullopt;
  ChildPipes pipes{UniqueFd(in[0]), UniqueFd(in[1]), {}, {}};
  if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  pipes.stdoutRead.reset(out[0]);
  pipes.stdoutWrite.reset(out[1]);
  for (const int fd : {pipes.stdinWrite.get(), pipes.stdoutRead.get()}) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return std::nullopt;
  }
  return pipes;
}

// The null-terminated pointer array posix_spawn wants; valid while strings is.
std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Child side: the pipe ends on stdin and stdout, every descriptor from 3 up
// closed (so one opened elsewhere without O_CLOEXEC is not inherited either),
// a process group of its own, an empty signal mask and SIGPIPE at its default.
int configureSpawn(posix_spawn_file_actions_t& actions, posix_spawnattr_t& attributes,
                   int childStdin, int childStdout) {
  sigset_t none, sigpipeOnly;
  sigemptyset(&none);
  sigemptyset(&sigpipeOnly);
  sigaddset(&sigpipeOnly, SIGPIPE);
  int error = posix_spawn_file_actions_adddup2(&actions, childStdin, STDIN_FILENO);
  if (error == 0) error = posix_spawn_file_actions_adddup2(&actions, childStdout, STDOUT_FILENO);
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (error == 0) error = posix_spawnattr_setpgroup(&attributes, 0);
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &sigpipeOnly);
  if (error == 0) {
    error = posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  return error;
}

// Starts the program; returns 0 and sets pid, or returns an errno value
// (exec failures included: posix_spawnp reports them).
int spawnChild(const std::vector<std::string>& argv,
               const std::optional<std::vector<std::string>>& environment, int childStdin,
               int childStdout, pid_t& pid) {
  std::vector<char*> args = pointersTo(argv);
  std::vector<char*> env = environment ? pointersTo(*environment) : std::vector<char*>();
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (const int error = posix_spawn_file_actions_init(&actions)) return error;
  int error = posix_spawnattr_init(&attributes);
  if (error == 0) {
    error = configureSpawn(actions, attributes, childStdin, childStdout);
    if (error == 0) {
      error = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(),
                           environment ? env.data() : environ);
    }
    posix_spawnattr_destroy(&attributes);
  }
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

std::string startFailure(const std::string& program, int error) {
  if (error == ENOENT) return "no such program: " + program;
  return "cannot start " + program + ": " + errorText(error);
}

// A started child leading its own process group. Whatever path leaves
// runChild, the destructor kills what is left of the group and reaps the
// child, so nothing outlives the run and no zombie stays behind.
class ChildGroup {
 public:
  explicit ChildGroup(pid_t pid) : pid_(pid) {}
  ~ChildGroup() {
    if (pid_ > 0) (void)killAndReap();
  }
  ChildGroup(const ChildGroup&) = delete;
  ChildGroup& operator=(const ChildGroup&) = delete;

  // Sends SIGKILL to the whole group, then waits for the child itself.
  // Killing before reaping matters: until it is reaped, the child's pid,
  // which names the group, cannot be given to another process. Returns the
  // wait status, or nullopt if waitpid failed (SIGCHLD ignored elsewhere).
  std::optional<int> killAndReap() {
    ::kill(-pid_, SIGKILL);
    int status = 0;
    pid_t reaped;
    do reaped = ::waitpid(pid_, &status, 0);
    while (reaped < 0 && errno == EINTR);
    pid_ = -1;
    return reaped > 0 ? std::optional<int>(status) : std::nullopt;
  }

 private:
  pid_t pid_;
};

// The parent's side of the exchange: input still to write, output so far.
struct Exchange {
  UniqueFd toChild;    // closed once all input is written or the child stops reading
  UniqueFd fromChild;  // closed at end of file
  std::string_view pendingInput;
  std::string output;
  std::size_t outputLimit;
};

// Time left until the deadline, rounded up, for poll; 0 once it has passed.
int millisecondsUntil(Clock::time_point deadlineAt) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadlineAt - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

// Writes the next piece of input. Any failure but EINTR/EAGAIN (EPIPE: the
// child closed its stdin) ends the input; the child keeps what it has read.
void feedInput(Exchange& exchange) {
  const std::size_t piece = std::min<std::size_t>(exchange.pendingInput.size(), 64 * 1024);
  const ssize_t written = ::write(exchange.toChild.get(), exchange.pendingInput.data(), piece);
  if (written < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (written > 0) exchange.pendingInput.remove_prefix(static_cast<std::size_t>(written));
  if (written < 0 || exchange.pendingInput.empty()) exchange.toChild.reset();
}

// Reads what the child has written. Returns false once the output passes
// the limit; output then holds exactly the first limit bytes.
bool drainOutput(Exchange& exchange) {
  char buffer[64 * 1024];
  const ssize_t got = ::read(exchange.fromChild.get(), buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (got <= 0) {  // end of file, or a read error that ends the output alike
    exchange.fromChild.reset();
    return true;
  }
  const std::size_t room = exchange.outputLimit - exchange.output.size();
  exchange.output.append(buffer, std::min(static_cast<std::size_t>(got), room));
  return static_cast<std::size_t>(got) <= room;
}

enum class PumpEnd { bothClosed, deadline, outputTooLarge };

// Moves input and output until both pipes are closed, the deadline passes or
// the output passes its limit. Must run with SIGPIPE blocked.
PumpEnd pump(Exchange& exchange, Clock::time_point deadlineAt) {
  if (exchange.pendingInput.empty()) exchange.toChild.reset();
  while (exchange.toChild.valid() || exchange.fromChild.valid()) {
    const int waitMs = millisecondsUntil(deadlineAt);
    if (waitMs == 0) return PumpEnd::deadline;
    // poll skips negative descriptors, so a closed end simply drops out.
    pollfd fds[2] = {{exchange.toChild.get(), POLLOUT, 0}, {exchange.fromChild.get(), POLLIN, 0}};
    if (::poll(fds, 2, waitMs) <= 0) continue;  // timeout or EINTR: the deadline decides
    if (fds[0].revents != 0) feedInput(exchange);
    if (fds[1].revents != 0 && !drainOutput(exchange)) return PumpEnd::outputTooLarge;
  }
  return PumpEnd::bothClosed;
}

// Waits for the child to exit. Returns false if the deadline passes first.
bool waitForExit(int pidFd, Clock::time_point deadlineAt) {
  for (;;) {
    const int waitMs = millisecondsUntil(deadlineAt);
    pollfd fd{pidFd, POLLIN, 0};
    if (::poll(&fd, 1, waitMs) > 0) return true;
    if (waitMs == 0) return false;
  }
}

std::string describe(std::chrono::milliseconds duration) {
  if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
  return std::to_string(duration.count()) + " ms";
}

ChildResult fromWaitStatus(std::optional<int> status) {
  ChildResult result;
  result.outcome = ChildResult::Outcome::exited;
  if (!status) {
    result.reason = "exit status lost: " + errorText(ECHILD);
  } else if (WIFEXITED(*status)) {
    result.exitStatus = WEXITSTATUS(*status);
    if (result.exitStatus != 0)
      result.reason = "exited with status " + std::to_string(result.exitStatus);
  } else {
    const int signal = WTERMSIG(*status);
    const char* name = ::sigdescr_np(signal);
    result.outcome = ChildResult::Outcome::killedBySignal;
    result.reason = "died of signal " + std::to_string(signal) + " (" + (name ? name : "?") + ")";
  }
  return result;
}

// Runs the exchange with a started child and turns its end into the result.
ChildResult collect(ChildGroup& child, int pidFd, Exchange& exchange, Clock::time_point deadlineAt,
                    std::chrono::milliseconds deadline) {
  ScopedSigpipeBlock noSigpipe;
  PumpEnd end = pump(exchange, deadlineAt);
  if (end == PumpEnd::bothClosed && !waitForExit(pidFd, deadlineAt)) end = PumpEnd::deadline;
  const std::optional<int> status = child.killAndReap();
  ChildResult result;
  if (end == PumpEnd::bothClosed) {
    result = fromWaitStatus(status);
  } else if (end == PumpEnd::deadline) {
    result.outcome = ChildResult::Outcome::killedAtDeadline;
    result.reason = "killed after " + describe(deadline);
  } else {
    result.outcome = ChildResult::Outcome::outputTooLarge;
    result.reason = "output larger than " + std::to_string(exchange.outputLimit) + " bytes";
  }
  result.output = std::move(exchange.output);
  return result;
}

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv, std::string_view input,
                     std::chrono::milliseconds deadline, std::size_t outputLimit,
                     const std::optional<std::vector<std::string>>& environment) {
  const Clock::time_point deadlineAt = Clock::now() + deadline;
  if (argv.empty()) return notStarted("no program given");
  std::optional<ChildPipes> pipes = makeChildPipes();
  if (!pipes) return notStarted("cannot make pipes: " + errorText(errno));
  pid_t pid = -1;
  const int error =
      spawnChild(argv, environment, pipes->stdinRead.get(), pipes->stdoutWrite.get(), pid);
  if (error != 0) return notStarted(startFailure(argv[0], error));
  ChildGroup child(pid);
  // Our copies of the child's ends must go, or its stdout never reaches end
  // of file and a write to its closed stdin never fails.
  pipes->stdinRead.reset();
  pipes->stdoutWrite.reset();
  const UniqueFd pidFd = openPidFd(pid);
  if (!pidFd.valid()) {
    const std::string why = errorText(errno);
    return notStarted("cannot watch " + argv[0] + ": " + why);
  }
  Exchange exchange{
      std::move(pipes->stdinWrite), std::move(pipes->stdoutRead), input, {}, outputLimit};
  return collect(child, pidFd.get(), exchange, deadlineAt, deadline);
}

}  // namespace theme_search
