#include "crawler/fetch/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client_detail.h"
#include "fd_count.h"

namespace {

using namespace theme_search;

using namespace std::string_literals;

const int kServerWaitMs = 10000;  // bound on every wait of the test server

// Sends the whole text; false once the peer is gone.
bool sendAll(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t count = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

// Reads until end of stream; false when nothing happens for kServerWaitMs.
bool readToEnd(int fd, std::string* into) {
  char buffer[4096];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, kServerWaitMs) <= 0) return false;
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0) return true;
    if (into != nullptr) into->append(buffer, static_cast<std::size_t>(count));
  }
}

// A TCP socket bound to 127.0.0.1 and an ephemeral port, which it sets.
int loopbackSocket(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    ADD_FAILURE() << "cannot bind a loopback socket";
  port = ntohs(address.sin_port);
  return fd;
}

// The server's side of the one connection it serves.
struct Connection {
  int fd;
  std::shared_future<void> released;

  // Keeps the connection open and silent until the test releases it.
  void hold() const { released.wait_for(std::chrono::milliseconds(kServerWaitMs)); }
};

// A one-connection HTTP server on 127.0.0.1 and an ephemeral port, on a
// thread of its own: it accepts one connection, reads the request to its
// end (the client shuts down its sending side), runs the script on the
// connection and closes it. The destructor releases a held connection and
// joins the thread.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::function<void(const Connection&)> script)
      : script(std::move(script)), released(releasePromise.get_future().share()) {
    listener = loopbackSocket(port);
    if (::listen(listener, 1) != 0) ADD_FAILURE() << "test server cannot listen";
    thread = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    finish();
    ::close(listener);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Releases a held connection and waits for the server to close it.
  void finish() {
    std::call_once(releaseOnce, [this] { releasePromise.set_value(); });
    if (thread.joinable()) thread.join();
  }

  // The request as received.
  std::string request() {
    finish();
    return received;
  }

  std::uint16_t port = 0;

 private:
  void serve() {
    pollfd entry{listener, POLLIN, 0};
    if (::poll(&entry, 1, kServerWaitMs) <= 0) return;
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    // A client that stops reading must not block the server for good.
    timeval bound{kServerWaitMs / 1000, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    if (readToEnd(connection, &received)) script(Connection{connection, released});
    ::close(connection);
  }

  std::function<void(const Connection&)> script;
  std::promise<void> releasePromise;
  std::shared_future<void> released;
  std::once_flag releaseOnce;
  int listener = -1;
  std::string received;
  std::thread thread;
};

EngineConfig accepting(std::vector<std::string> types) {
  EngineConfig config;
  config.acceptedTypes = std::move(types);
  return config;
}

// Every test checks that the client leaves no descriptor open.
class HttpClient : public ::testing::Test {
 protected:
  void SetUp() override { descriptors = openDescriptorCount(); }
  void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptors); }

  // Fetches from the server; `last` keeps the whole result.
  bool fetch(const ScriptedServer& server, const std::string& target, std::string& reply) {
    last = http_detail::fetchFrom(config, target, server.port);
    reply = last.reply;
    return last.ok();
  }

  EngineConfig config = accepting({"html", "pdf"});
  FetchResult last;
  int descriptors = 0;
};

TEST(HttpRequest, SplitsTheTargetAndSendsOnlyHostAndConnectionHeaders) {
  struct Case {
    std::string target, host, path;
  } cases[] = {
      {"srv/dir/a.html", "srv", "/dir/a.html"},
      {"srv", "srv", "/"},
      {"srv/", "srv", "/"},
      {"srv:8080/x?q=a b#f", "srv:8080", "/x?q=a b#f"},
      {"HTTP://srv/x", "HTTP:", "//srv/x"},
      {"", "", "/"},
  };
  for (const Case& c : cases) {
    const HostAndPath parts = splitTarget(c.target);
    EXPECT_EQ(parts.host, c.host) << "target: " << c.target;
    EXPECT_EQ(parts.path, c.path) << "target: " << c.target;
  }
  EXPECT_EQ(buildRequest("srv", "/dir/a.html"),
            "GET /dir/a.html HTTP/1.1\r\nHost: srv\r\nConnection: close\r\n\r\n");
}

TEST(HttpRequest, ResolvesTheHostPartToItsIpv4AddressOnPort80) {
  const std::optional<sockaddr_in> address = resolveHost("localhost");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->sin_family, AF_INET);
  EXPECT_EQ(ntohl(address->sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(ntohs(address->sin_port), 80);
  EXPECT_FALSE(resolveHost("localhost:8080"));
}

TEST_F(HttpClient, SendsTheRequestAndKeepsTheWholeReply) {
  struct Case {
    std::string target, request;
  } cases[] = {
      {"127.0.0.1/dir/a.html",
       "GET /dir/a.html HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"},
      {"127.0.0.1", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"},
      {"localhost/a b?q=1#f",
       "GET /a b?q=1#f HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"},
  };
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html></html>";
  for (const Case& c : cases) {
    ScriptedServer server([&](const Connection& c) { sendAll(c.fd, answer); });
    std::string reply;
    EXPECT_TRUE(fetch(server, c.target, reply)) << "target: " << c.target;
    EXPECT_EQ(server.request(), c.request) << "target: " << c.target;
    EXPECT_EQ(reply, answer) << "target: " << c.target;
  }
}

TEST_F(HttpClient, ReadsAnAcceptedReplyToItsEndWhateverItsBytes) {
  // A redirect with a body larger than one read, sent in pieces.
  std::string body;
  for (int line = 0; body.size() < 600000; ++line) body += "line " + std::to_string(line) + "\n";
  const std::string redirect = "HTTP/1.1 302 Found\r\nLocation: /b.html\r\n\r\n";
  // A document holding zero bytes.
  const std::string pdf =
      "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n\r\n%PDF\0\0\x01\0end"s;
  struct Case {
    std::string name, head, tail;
  } cases[] = {{"redirect", redirect, body}, {"pdf", pdf, ""}};
  for (const Case& c : cases) {
    ScriptedServer server([&](const Connection& connection) {
      sendAll(connection.fd, c.head);
      for (std::size_t at = 0; at < c.tail.size(); at += 50000)
        sendAll(connection.fd, c.tail.substr(at, 50000));
    });
    std::string reply;
    EXPECT_TRUE(fetch(server, "127.0.0.1/a.html", reply)) << c.name;
    EXPECT_EQ(reply.size(), c.head.size() + c.tail.size()) << c.name;
    EXPECT_TRUE(reply == c.head + c.tail) << c.name;
  }
}

TEST_F(HttpClient, RefusedReplyIsDroppedAfterTheFirstChunk) {
  const std::string cases[] = {
      "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: text/HTML\r\n\r\n",
  };
  for (const std::string& head : cases) {
    // The body is held back until the client has returned: a client that
    // read on would wait for it in vain and time out.
    ScriptedServer server([&](const Connection& c) {
      sendAll(c.fd, head);
      c.hold();
      sendAll(c.fd, "<html>never read</html>");
    });
    std::string reply;
    EXPECT_FALSE(fetch(server, "127.0.0.1/", reply)) << head;
    EXPECT_EQ(reply, head);
    EXPECT_EQ(last.outcome, FetchResult::Outcome::failed) << head;
  }
  EXPECT_EQ(last.reason, "content type text/HTML not accepted");
}

TEST_F(HttpClient, ConnectionClosedWithoutAReplyIsRefused) {
  ScriptedServer server([](const Connection&) {});
  std::string reply;
  EXPECT_FALSE(fetch(server, "127.0.0.1/", reply));
  EXPECT_EQ(reply, "");
}

TEST_F(HttpClient, PauseOfMoreThanTwoSecondsTimesOut) {
  // Silent from the start, and silent after an accepted first chunk.
  for (const std::string head : {"", "HTTP/1.1 302 Found\r\nLocation: x\r\n"}) {
    ScriptedServer server([&](const Connection& c) {
      sendAll(c.fd, head);
      c.hold();
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchResult result = http_detail::fetchFrom(config, "127.0.0.1/", server.port);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << head;
    EXPECT_EQ(result.outcome, FetchResult::Outcome::timedOut) << head;
    EXPECT_EQ(result.reason, "no data for 2 s") << head;
  }
}

TEST_F(HttpClient, ReplyOverTheSizeCapFails) {
  const std::size_t block = std::size_t{1} << 20;
  std::atomic<std::size_t> sent{0};
  // Streams zeros until the client hangs up, or well past the cap.
  ScriptedServer server([&](const Connection& c) {
    sendAll(c.fd, "HTTP/1.1 302 Found\r\nLocation: x\r\n\r\n");
    const std::string zeros(block, '\0');
    while (sent < http_detail::kMaxReplySize + 16 * block && sendAll(c.fd, zeros)) sent += block;
  });
  std::string reply;
  EXPECT_FALSE(fetch(server, "127.0.0.1/", reply));
  server.request();
  EXPECT_LT(sent, http_detail::kMaxReplySize + 16 * block);
  EXPECT_EQ(last.reply.capacity(), std::string().capacity());
  EXPECT_EQ(last.reason, "reply over 64 MiB");
}

TEST_F(HttpClient, TargetsThatCannotBeReachedFail) {
  // A port with nobody listening on it.
  std::uint16_t unused = 0;
  ::close(loopbackSocket(unused));
  const FetchResult refused = http_detail::fetchFrom(config, "127.0.0.1/", unused);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.reason, "connection refused");

  for (const std::string target :
       {"no-such-host.invalid/a.html", "localhost:8080/x", "HTTP://localhost/x", "", "/x"}) {
    const FetchResult result = httpGet(config, target);
    EXPECT_FALSE(result.ok()) << "target: " << target;
    EXPECT_EQ(result.reason, "host not found") << "target: " << target;
    EXPECT_EQ(result.reply, "") << "target: " << target;
  }
}

// The read loop on its own, through a socket pair whose writing end holds
// the whole reply, and is closed, before the first read.
bool readThroughSocketPair(const std::string& sent, std::size_t chunkSize, std::string& reply,
                           std::size_t maxSize) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    ADD_FAILURE() << "no socket pair";
    return false;
  }
  EXPECT_TRUE(sendAll(ends[1], sent));
  ::close(ends[1]);
  const FetchResult result =
      http_detail::readReply(accepting({"html"}), ends[0], chunkSize, maxSize);
  ::close(ends[0]);
  reply = result.reply;
  return result.ok();
}

TEST(ReadLoop, ChecksOnlyTheFirstChunk) {
  const std::string page = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>";
  struct Case {
    std::size_t chunkSize;
    bool accepted;
  } cases[] = {
      {128, true}, {40, true},  // ends right after "text/html"
      {39, false},              // "text/htm"
      {30, false},              // "Content-Type:" without its value
      {16, false},              // inside the status line
      {1, false},
  };
  for (const Case& c : cases) {
    std::string reply;
    const bool accepted =
        readThroughSocketPair(page, c.chunkSize, reply, http_detail::kMaxReplySize);
    EXPECT_EQ(accepted, c.accepted) << "chunk size " << c.chunkSize;
    if (accepted) {
      EXPECT_EQ(reply, page) << "chunk size " << c.chunkSize;
    }
  }
}

TEST(ReadLoop, CapIsTheLargestReplyKept) {
  const std::string redirect = "HTTP/1.1 302 Found\r\nLocation: x\r\n\r\n" + std::string(100, 'z');
  std::string reply;
  EXPECT_TRUE(readThroughSocketPair(redirect, 64, reply, redirect.size()));
  EXPECT_EQ(reply, redirect);
  reply.clear();
  EXPECT_FALSE(readThroughSocketPair(redirect, 64, reply, redirect.size() - 1));
  EXPECT_EQ(reply, "");
}

}  // namespace
