#include "crawler/pipeline/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/unique_fd.h"

namespace {

using namespace theme_search;
using namespace std::chrono_literals;

struct Pipe {
  Pipe() {
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    read.reset(ends[0]);
    write.reset(ends[1]);
  }
  void put(const std::string& text) {
    EXPECT_EQ(::write(write.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  UniqueFd read, write;
};

// Words typed in pieces, as a terminal or a pipe delivers them.
TEST(Console, QueuesEachWordUntilExitOrTheEndOfInput) {
  struct Case {
    std::vector<std::string> pieces;
    bool closeInput;
    std::vector<std::string> queued;
    ConsoleEnd end;
  } cases[] = {
      {{"http://a/ http://b/\n"}, true, {"http://a/", "http://b/"}, ConsoleEnd::endOfInput},
      {{"http://a", "/x\thttp://b/\r\n\v\f", "exit\n"},
       false,
       {"http://a/x", "http://b/"},
       ConsoleEnd::exitTyped},
      {{"EXIT exitx ex", "it http://late/\n"}, false, {"EXIT", "exitx"}, ConsoleEnd::exitTyped},
      {{"http://last/"}, true, {"http://last/"}, ConsoleEnd::endOfInput},  // no line end
      {{""}, true, {}, ConsoleEnd::endOfInput},
  };
  for (const Case& c : cases) {
    Pipe input;
    for (const std::string& piece : c.pieces) input.put(piece);
    if (c.closeInput) input.write.reset();
    std::vector<std::string> queued;
    const ConsoleEnd end =
        readConsole([&](const std::string& word) { queued.push_back(word); }, input.read.get(), -1);
    EXPECT_EQ(queued, c.queued) << "typed: " << ::testing::PrintToString(c.pieces);
    EXPECT_EQ(end, c.end) << "typed: " << ::testing::PrintToString(c.pieces);
  }
}

// A stop signal wakes a console that waits for input, and ends it.
TEST(Console, AByteOnTheWakeDescriptorEndsIt) {
  Pipe input, wake;
  std::vector<std::string> queued;
  auto console = std::async(std::launch::async, [&] {
    return readConsole([&](const std::string& word) { queued.push_back(word); }, input.read.get(),
                       wake.read.get());
  });
  input.put("http://a/ ");
  EXPECT_EQ(console.wait_for(100ms), std::future_status::timeout);
  wake.put("x");
  ASSERT_EQ(console.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(console.get(), ConsoleEnd::stopSignal);
  EXPECT_EQ(queued, std::vector<std::string>{"http://a/"});
}

// The handler only wakes the console: SIGTERM, and a first SIGINT, leave a
// byte on the wake descriptor and the process running.
TEST(StopSignals, ASignalWakesTheConsole) {
  for (const int signal : {SIGTERM, SIGINT}) {
    const StopSignals signals;
    ASSERT_EQ(::raise(signal), 0);
    Pipe input;
    const ConsoleEnd end =
        readConsole([](const std::string&) {}, input.read.get(), signals.wakeDescriptor());
    EXPECT_EQ(end, ConsoleEnd::stopSignal) << "signal " << signal;
  }
}

}  // namespace
