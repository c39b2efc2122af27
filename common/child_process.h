#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// How a run of an outside program ended, with what it wrote on its stdout.
// A plain value.
struct ChildResult {
  enum class Outcome {
    exited,            // exited by itself; exitStatus holds its exit code
    killedBySignal,    // died of a signal it was not sent by us (reason names it)
    killedAtDeadline,  // still running or holding its stdout at the deadline
    outputTooLarge,    // wrote more than the output limit and was killed
    notStarted,        // could not be started at all
  };
  Outcome outcome = Outcome::notStarted;
  int exitStatus = -1;  // the exit code when outcome is exited, else -1
  std::string output;   // stdout as collected, also when killed (at most the limit)
  std::string reason;   // empty for exit code 0, else a human text such as
                        // "no such program: aspell" or "killed after 2 s"

  bool succeeded() const { return outcome == Outcome::exited && exitStatus == 0; }
};

inline constexpr std::size_t kDefaultChildOutputLimit = 16 * 1024 * 1024;

// Runs argv[0] (searched in PATH, no shell) with the arguments argv[1..],
// writes input to its stdin and collects its stdout; its stderr is ours.
// Blocks the calling thread until the child's stdout is closed and the child
// has exited, or until the deadline, whichever comes first; input and output
// are moved concurrently, so neither side can stall the other.
//
// The child runs in a process group of its own and inherits no descriptor of
// ours besides stdin, stdout and stderr. Whenever the run ends, whatever is
// left of that group is killed with SIGKILL (at the deadline, at the output
// limit, and also the stragglers of a child that exited normally), and the
// child is reaped on every path. A process that moved to another group
// (setsid) escapes this.
//
// environment: "NAME=value" entries for the child; nullopt passes ours on.
// A child that stops reading early just loses the rest of its input: SIGPIPE
// is blocked in this thread while writing and never reaches the process.
// Never throws for a failure of the child; failures are in the result.
[[nodiscard]] ChildResult runChild(
    const std::vector<std::string>& argv, std::string_view input,
    std::chrono::milliseconds deadline, std::size_t outputLimit = kDefaultChildOutputLimit,
    const std::optional<std::vector<std::string>>& environment = std::nullopt);

}  // namespace theme_search
