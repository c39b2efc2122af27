#include "crawler/fetch/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "common/child_process.h"
#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client_detail.h"
#include "crawler/fetch/stop_signal.h"
#include "fd_count.h"

namespace {

using namespace theme_search;

using namespace std::string_literals;
using namespace std::chrono_literals;

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

// Reads the request up to its blank line; false when nothing happens for
// kServerWaitMs or the peer leaves first.
bool readRequest(int fd, std::string& into) {
  char buffer[4096];
  while (into.find("\r\n\r\n") == std::string::npos) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, kServerWaitMs) <= 0) return false;
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(count));
  }
  return true;
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
  // Sends the text in pieces of `piece` bytes, each in a segment of its own.
  bool sendInPieces(const std::string& text, std::size_t piece) const {
    for (std::size_t at = 0; at < text.size(); at += piece) {
      if (!sendAll(fd, text.substr(at, piece))) return false;
      std::this_thread::sleep_for(20ms);  // lets each piece leave on its own
    }
    return true;
  }
};

// A one-connection HTTP server on 127.0.0.1 and an ephemeral port, on a
// thread of its own: it accepts one connection, reads the request up to
// its blank line, runs the script on the connection and closes it. The
// destructor releases a held connection and joins the thread.
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

  // "127.0.0.1:port" followed by the path.
  std::string target(const std::string& path = "/") const {
    return "127.0.0.1:" + std::to_string(port) + path;
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
    if (readRequest(connection, received)) script(Connection{connection, released});
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

std::string gzipped(const std::string& text) {
  const ChildResult run = runChild({"gzip", "-c"}, text, std::chrono::seconds(10));
  EXPECT_TRUE(run.succeeded()) << run.reason;
  return run.output;
}

const std::string kHtmlHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";

// Every test checks that the client leaves no descriptor open.
class HttpClient : public ::testing::Test {
 protected:
  void SetUp() override { descriptors = openDescriptorCount(); }
  void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptors); }

  FetchResult fetch(const std::string& target, const http_detail::FetchLimits& limits = {}) {
    return http_detail::fetchWith(config, target, limits, nullptr);
  }

  EngineConfig config = accepting({"html", "pdf"});
  int descriptors = 0;
};

TEST(HttpTarget, SplitsSchemeHostAndPath) {
  struct Case {
    std::string target, host, path;
    bool secure;
  } cases[] = {
      {"srv/dir/a.html", "srv", "/dir/a.html", false},
      {"srv", "srv", "/", false},
      {"srv:8080/x?q=a b#f", "srv:8080", "/x?q=a b#f", false},
      {"http://srv:8080/x", "srv:8080", "/x", false},
      {"https://srv/x", "srv", "/x", true},
      {"https://srv", "srv", "/", true},
      {"HTTP://srv/x", "HTTP:", "//srv/x", false},
      {"", "", "/", false},
  };
  for (const Case& c : cases) {
    const FetchTarget parts = splitTarget(c.target);
    EXPECT_EQ(parts.host, c.host) << "target: " << c.target;
    EXPECT_EQ(parts.path, c.path) << "target: " << c.target;
    EXPECT_EQ(parts.secure, c.secure) << "target: " << c.target;
  }
}

TEST_F(HttpClient, SendsOnlyTheRequestLineHostAndConnectionAndKeepsTheWholeReply) {
  struct Case {
    std::string path, requestLine;
    bool polite;
  } cases[] = {
      {"/dir/a.html", "GET /dir/a.html HTTP/1.1", false},
      {"", "GET / HTTP/1.1", false},
      {"/a b?q=1#f", "GET /a b?q=1#f HTTP/1.1", false},
      {"/p.html", "GET /p.html HTTP/1.1", true},
  };
  const std::string answer = kHtmlHead + "\r\n<html></html>";
  for (const Case& c : cases) {
    config.polite = c.polite;
    ScriptedServer server([&](const Connection& connection) { sendAll(connection.fd, answer); });
    const FetchResult result = fetch(server.target(c.path));
    EXPECT_TRUE(result.ok()) << "path: " << c.path << " " << result.reason;
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
    const std::string agent = c.polite ? "User-Agent: "s + kUserAgent + "\r\n" : "";
    EXPECT_EQ(server.request(), c.requestLine + "\r\n" + host + agent + "Connection: close\r\n\r\n")
        << "path: " << c.path;
    EXPECT_EQ(result.reply, answer) << "path: " << c.path;
  }
}

// A revisit's validators go out after the usual lines, byte for byte; a
// "304" answers it (and only it), with no body read.
TEST_F(HttpClient, SendsConditionsAsTheyStandAndTakes304AsNotModified) {
  const std::vector<std::string> conditions = {"If-None-Match: W/\"a;  b\xe9\"",
                                               "If-Modified-Since: Tue, 15 Nov 1994 12:45:26 GMT"};
  const std::string notModified = "HTTP/1.1 304 Not Modified\r\nETag: W/\"a;  b\xe9\"\r\n\r\n";
  const std::string changed = kHtmlHead + "Content-Length: 6\r\n\r\n<html>";
  struct Case {
    std::string name, answer;
    bool conditional;
    FetchResult::Outcome outcome;
    std::string reason;
  } cases[] = {
      {"304 to a conditional request", notModified, true, FetchResult::Outcome::notModified,
       "status 304"},
      {"200 to a conditional request", changed, true, FetchResult::Outcome::fetched, ""},
      {"304 to a plain request", notModified, false, FetchResult::Outcome::failed, "status 304"},
  };
  for (const Case& c : cases) {
    ScriptedServer server([&](const Connection& connection) { sendAll(connection.fd, c.answer); });
    const std::vector<std::string> sent = c.conditional ? conditions : std::vector<std::string>();
    const FetchResult result =
        http_detail::fetchWith(config, server.target("/p.html"), {}, nullptr, false, sent);
    EXPECT_EQ(result.outcome, c.outcome) << c.name << ": " << result.reason;
    EXPECT_EQ(result.reason, c.reason) << c.name;
    EXPECT_EQ(result.reply, c.answer) << c.name;
    std::string expected =
        "GET /p.html HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port) +
        "\r\nConnection: close\r\n";
    for (const std::string& line : sent) expected += line + "\r\n";
    EXPECT_EQ(server.request(), expected + "\r\n") << c.name;
  }
}

TEST_F(HttpClient, DecodesChunkedAndCompressedBodiesWhateverTheSegments) {
  const std::string page = "<html>abeilles <a href=\"ruche.html\">x</a></html>";
  // Chunk boundaries inside a word and inside a link.
  std::string chunked;
  for (const std::string piece :
       {"<html>", "abei", "lles <a href=\"ru", "che.html\">x</a></html>"}) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  const std::string gzip = gzipped(page);
  struct Case {
    std::string name, head, body;
    std::size_t piece;
  } cases[] = {
      {"chunked", kHtmlHead + "Transfer-Encoding: chunked\r\n\r\n", chunked, 1 << 20},
      {"chunked, in small segments", kHtmlHead + "Transfer-Encoding: chunked\r\n\r\n", chunked, 7},
      {"gzip, unasked", kHtmlHead + "Content-Encoding: gzip\r\n\r\n", gzip, 1 << 20},
      {"status line alone", kHtmlHead + "\r\n", page, 17},  // "HTTP/1.1 200 OK\r\n"
  };
  for (const Case& c : cases) {
    ScriptedServer server(
        [&](const Connection& connection) { connection.sendInPieces(c.head + c.body, c.piece); });
    const FetchResult result = fetch(server.target("/a.html"));
    EXPECT_TRUE(result.ok()) << c.name << ": " << result.reason;
    EXPECT_EQ(result.reply, c.head + page) << c.name;
  }
}

TEST_F(HttpClient, ReadsRedirectsAndDocumentsToTheirEndWhateverTheirBytes) {
  std::string body;
  for (int line = 0; body.size() < 600000; ++line) body += "line " + std::to_string(line) + "\n";
  const std::string pdf = "%PDF\0\0\x01\0end"s;
  struct Case {
    std::string head, body;
  } cases[] = {
      {"HTTP/1.1 301 Moved Permanently\r\nLocation: /B.html\r\n\r\n", body},
      {"HTTP/1.1 302 Found\r\nLocation: /b.html\r\n\r\n", ""},
      {"HTTP/1.1 308 Permanent Redirect\r\nLocation: /b.html\r\n\r\n", ""},
      {"HTTP/1.0 200 OK\r\nContent-Type: application/pdf\r\n\r\n", pdf},
      // Content-Type in the spellings HTTP allows.
      {"HTTP/1.1 200 OK\r\ncontent-type:TEXT/Html;charset=UTF-8\r\n\r\n",
       "<p>\xc3\xa9t\xc3\xa9</p>"},
      {"HTTP/1.1 200 OK\r\nContent-Type:  application/PDF ; name=\"a;b\"\r\n\r\n", pdf},
  };
  for (const Case& c : cases) {
    ScriptedServer server([&](const Connection& connection) {
      sendAll(connection.fd, c.head);
      for (std::size_t at = 0; at < c.body.size(); at += 50000)
        sendAll(connection.fd, c.body.substr(at, 50000));
    });
    const FetchResult result = fetch(server.target("/a.html"));
    EXPECT_TRUE(result.ok()) << c.head << result.reason;
    EXPECT_TRUE(result.reply == c.head + c.body) << c.head;
  }
}

TEST_F(HttpClient, RefusedReplyIsDroppedOnceItsHeaderBlockIsComplete) {
  struct Case {
    std::string head, reason;
  } cases[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n", "status 404"},
      {"HTTP/1.1 304 Not Modified\r\n\r\n", "status 304"},
      {"HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n", "content type image/gif not accepted"},
      {"HTTP/1.1 200 OK\r\nContent-Type:IMAGE/Gif;charset=x\r\n\r\n",
       "content type IMAGE/Gif not accepted"},
      // A header line is read whole: a type named inside a value is no type.
      {"HTTP/1.1 200 OK\r\nX-Note: Content-Type: text/html\r\n\r\n", "no content type"},
      // The type arrives in a segment of its own: still seen.
      {"HTTP/1.1 200 OK\r\nServer: x\r\nContent-Type: image/png\r\n\r\n",
       "content type image/png not accepted"},
  };
  for (const Case& c : cases) {
    // The body is held back until the client has returned: a client that
    // read on would wait for it in vain and time out.
    ScriptedServer server([&](const Connection& connection) {
      connection.sendInPieces(c.head, 20);
      connection.hold();
      sendAll(connection.fd, "<html>never read</html>");
    });
    const FetchResult result = fetch(server.target());
    EXPECT_EQ(result.outcome, FetchResult::Outcome::failed) << c.head;
    EXPECT_EQ(result.reason, c.reason) << c.head;
    EXPECT_EQ(result.reply, c.head);
  }
}

TEST_F(HttpClient, SilenceOfTwoSecondsTimesOut) {
  // Silent from the start, silent after the header block, silent in the
  // middle of it.
  for (const std::string& head : {""s, kHtmlHead + "\r\n<html>", "HTTP/1.1 200 OK\r\n"s}) {
    ScriptedServer server([&](const Connection& connection) {
      sendAll(connection.fd, head);
      connection.hold();
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchResult result = fetch(server.target());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 2s) << head;
    EXPECT_LT(elapsed, 4s) << head;
    EXPECT_EQ(result.outcome, FetchResult::Outcome::timedOut) << head;
    EXPECT_EQ(result.reason, "no data for 2 s") << head;
  }
}

TEST_F(HttpClient, DeadlineEndsADownloadThatNeverFinishes) {
  std::atomic<bool> done{false};
  ScriptedServer server([&](const Connection& connection) {
    sendAll(connection.fd, kHtmlHead + "\r\n");
    for (int i = 0; i < 100 && !done && sendAll(connection.fd, "x"); ++i)
      std::this_thread::sleep_for(100ms);
  });
  http_detail::FetchLimits limits;
  limits.deadline = 2s;
  const auto start = std::chrono::steady_clock::now();
  const FetchResult result = fetch(server.target(), limits);
  done = true;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_EQ(result.outcome, FetchResult::Outcome::failed);
  EXPECT_EQ(result.reason, "download not complete within 2 s");
}

TEST_F(HttpClient, TlsHandshakeThatNeverEndsHitsTheConnectLimit) {
  // A plain TCP server that never answers the TLS greeting.
  ScriptedServer server([](const Connection&) {});
  http_detail::FetchLimits limits;
  limits.connectTimeout = 1s;
  const auto start = std::chrono::steady_clock::now();
  const FetchResult result = fetch("https://" + server.target(), limits);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(result.reason, "no connection within 1 s");
}

TEST_F(HttpClient, StopRequestAbortsATransferInProgress) {
  ScriptedServer server([&](const Connection& connection) {
    sendAll(connection.fd, kHtmlHead + "\r\n<html>");
    connection.hold();
  });
  StopSignal stop;
  auto fetching = std::async(std::launch::async, [&] {
    return http_detail::fetchWith(config, server.target(), {}, &stop);
  });
  EXPECT_EQ(fetching.wait_for(300ms), std::future_status::timeout);
  stop.request();
  ASSERT_EQ(fetching.wait_for(1500ms), std::future_status::ready);
  EXPECT_EQ(fetching.get().reason, "crawl stopped");
}

TEST_F(HttpClient, ReplyOverTheSizeCapFailsDecodedBodiesIncluded) {
  http_detail::FetchLimits limits;
  limits.maxSize = std::size_t{1} << 20;
  const std::string zeros(4 << 20, '\0');
  struct Case {
    std::string name, head, body;
  } cases[] = {
      {"plain", "HTTP/1.1 302 Found\r\nLocation: x\r\n\r\n", zeros},
      {"announced", "HTTP/1.1 302 Found\r\nLocation: x\r\nContent-Length: 4194304\r\n\r\n", zeros},
      // A small compressed body that decodes to four times the cap.
      {"gzip", kHtmlHead + "Content-Encoding: gzip\r\n\r\n", gzipped(zeros)},
  };
  for (const Case& c : cases) {
    ScriptedServer server(
        [&](const Connection& connection) { sendAll(connection.fd, c.head + c.body); });
    const FetchResult result = fetch(server.target(), limits);
    EXPECT_FALSE(result.ok()) << c.name;
    EXPECT_EQ(result.reason, "reply over 1 MiB") << c.name;
    EXPECT_EQ(result.reply, "") << c.name;
  }
}

TEST_F(HttpClient, FailuresNameTheirCause) {
  // A port with nobody listening on it.
  std::uint16_t unused = 0;
  ::close(loopbackSocket(unused));
  ScriptedServer silent([](const Connection&) {});
  ScriptedServer notHttp([](const Connection& c) { sendAll(c.fd, "hello\r\n\r\n"); });
  struct Case {
    std::string target, reason;
  } cases[] = {
      {"127.0.0.1:" + std::to_string(unused) + "/", "connection refused"},
      {silent.target(), "no reply"},
      {notHttp.target(), "not an HTTP reply"},
      {"no-such-host.invalid/a.html", "host not found"},
      {"", "no host name"},
      {"/x", "no host name"},
      {"HTTP://localhost/x", "bad host name HTTP:"},
      {"localhost:80a/x", "bad host name localhost:80a"},
      {"a b/x", "bad host name a b"},
  };
  for (const Case& c : cases) {
    const FetchResult result = fetch(c.target);
    EXPECT_FALSE(result.ok()) << "target: " << c.target;
    EXPECT_EQ(result.reason, c.reason) << "target: " << c.target;
    EXPECT_EQ(result.reply, "") << "target: " << c.target;
  }
}

TEST_F(HttpClient, FollowingFetchTakesAnyStatusAfterItsRedirects) {
  ScriptedServer final([](const Connection& c) {
    sendAll(c.fd, "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n\r\nnone");
  });
  ScriptedServer first([&](const Connection& c) {
    sendAll(c.fd, "HTTP/1.1 301 Moved\r\nLocation: http://" + final.target("/robots.txt") +
                      "\r\nContent-Length: 0\r\n\r\n");
  });
  const FetchResult result =
      http_detail::fetchWith(config, first.target("/robots.txt"), {}, nullptr, true);
  EXPECT_TRUE(result.ok()) << result.reason;
  EXPECT_EQ(result.reply, "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n\r\nnone");
  EXPECT_EQ(final.request().substr(0, 24), "GET /robots.txt HTTP/1.1");
}

}  // namespace
