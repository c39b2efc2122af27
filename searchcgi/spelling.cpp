#include "spelling.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "query_string.h"

namespace {

// An owned descriptor, closed by its destructor.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }

  int get() const { return fd; }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

 private:
  int fd;
};

std::array<int, 2> openPipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {-1, -1};
  return {ends[0], ends[1]};
}

// A pipe whose ends are not inherited by the commands the program starts.
struct Pipe {
  Pipe() : Pipe(openPipe()) {}
  bool isOpen() const { return read.get() >= 0; }

  Descriptor read, write;

 private:
  explicit Pipe(std::array<int, 2> ends) : read(ends[0]), write(ends[1]) {}
};

// Puts source on descriptor target (0 or 1) for its lifetime and then puts
// back what target was before (or closes it if it was closed).
class Redirection {
 public:
  Redirection(int target, int source) : target(target), saved(::fcntl(target, F_DUPFD_CLOEXEC, 3)) {
    ::dup2(source, target);
  }
  Redirection(const Redirection&) = delete;
  Redirection& operator=(const Redirection&) = delete;
  ~Redirection() {
    if (saved.get() >= 0)
      ::dup2(saved.get(), target);
    else
      ::close(target);
  }

 private:
  int target;
  Descriptor saved;
};

// Writes all of text without blocking; false when the pipe cannot take it.
bool writeWhole(int fd, const std::string& text) {
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads fd to its end in chunks of at most 254 bytes.
std::string readAll(int fd) {
  std::string reply;
  char buffer[254 + 1];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, 254);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer[n] = '\0';
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  return reply;
}

bool isCommandCharacter(char c) {
  return c != '\0' && std::strchr("*&@+-~#!%^$", c) != nullptr;
}

}  // namespace

std::string checkerInput(const std::string& word) {
  std::string input;
  input.reserve(word.size() + 2);
  bool lineStart = true;
  for (char byte : word) {
    if (lineStart && isCommandCharacter(byte)) input += '^';
    input += byte;
    lineStart = byte == '\n';
  }
  return input + '\n';
}

std::string suggestionText(const std::string& reply) {
  std::string discarded;
  return splitAt(reply, discarded, ':');
}

std::string spellSuggestions(const std::string& word, const std::string& command) {
  Pipe toChecker, fromChecker;
  if (!toChecker.isOpen() || !fromChecker.isOpen()) return std::string();
  if (!writeWhole(toChecker.write.get(), checkerInput(word))) return std::string();
  toChecker.write.reset();

  std::string reply;
  std::thread reader([&reply, fd = fromChecker.read.get()] { reply = readAll(fd); });
  {
    // Whatever the program has buffered for its own output goes out first.
    std::fflush(stdout);
    Redirection input(0, toChecker.read.get());
    Redirection output(1, fromChecker.write.get());
    const int status = std::system(command.c_str());
    static_cast<void>(status);  // the checker's exit status says nothing useful
    fromChecker.write.reset();
  }
  reader.join();
  return reply;
}

void writeSpellingBlock(std::ostream& page, const std::string& word, const std::string& command) {
  page << "<B>Corrections possibles"
       << " :</B><P>\n"
       << std::flush;
  page << suggestionText(spellSuggestions(word, command)) << "<BR>\n" << std::flush;
}
