// An HTTP client for the search benchmarks: CLIENTS threads, each with one
// keep-alive connection to 127.0.0.1:PORT, send GET requests for the query
// strings of QUERY_FILE (one a line, taken in turn from a random start)
// until SECONDS have passed or each client has sent MAX requests, then
// report requests per second, latency percentiles and errors:
//
//   search_load PORT PATH QUERY_FILE CLIENTS SECONDS [MAX] [--check]
//
// With --check, every query is first fetched once alone, and every reply
// under load must be byte-identical to that reference: a reply that lists
// another query's results counts as wrong. A reply whose status is not 200
// is an error. Only loopback is ever contacted; every wait is bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;
using theme_search::UniqueFd;

struct Reply {
  int status = 0;
  std::string body;
};

// One keep-alive HTTP/1.1 connection to the loopback server.
class Connection {
 public:
  explicit Connection(int port) : port(port) {}

  // One GET; nullopt when the connection failed (it is reopened next time).
  std::optional<Reply> get(const std::string& target) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!fd.valid() && !open()) return std::nullopt;
      const std::string request =
          "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
      if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
        if (std::optional<Reply> reply = readReply()) return reply;
      }
      fd = UniqueFd();
      buffer.clear();
    }
    return std::nullopt;
  }

 private:
  bool open() {
    fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    timeval wait{10, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      fd = UniqueFd();
      return false;
    }
    return true;
  }

  bool fill() {
    char chunk[65536];
    const ssize_t n = ::recv(fd.get(), chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  // Reads up to a line end (CRLF) in the buffer; the line without it.
  std::optional<std::string> line() {
    std::size_t end;
    while ((end = buffer.find("\r\n")) == std::string::npos)
      if (!fill()) return std::nullopt;
    std::string text = buffer.substr(0, end);
    buffer.erase(0, end + 2);
    return text;
  }

  bool take(std::size_t count, std::string& into) {
    while (buffer.size() < count)
      if (!fill()) return false;
    into.append(buffer, 0, count);
    buffer.erase(0, count);
    return true;
  }

  std::optional<Reply> readReply() {
    std::optional<std::string> status = line();
    if (!status || status->size() < 12) return std::nullopt;
    Reply reply;
    reply.status = std::atoi(status->c_str() + 9);
    long long length = -1;
    bool chunked = false, close = false;
    for (std::optional<std::string> header; (header = line()) && !header->empty();) {
      std::string lower = *header;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      if (lower.rfind("content-length:", 0) == 0) length = std::atoll(lower.c_str() + 15);
      if (lower.find("transfer-encoding: chunked") == 0) chunked = true;
      if (lower.find("connection: close") == 0) close = true;
    }
    if (chunked) {
      for (;;) {
        std::optional<std::string> size = line();
        if (!size) return std::nullopt;
        const std::size_t count = std::strtoul(size->c_str(), nullptr, 16);
        std::string ignored;
        if (count == 0) return line() ? std::optional<Reply>(reply) : std::nullopt;
        if (!take(count, reply.body) || !take(2, ignored)) return std::nullopt;
      }
    }
    if (length < 0) return std::nullopt;
    if (!take(static_cast<std::size_t>(length), reply.body)) return std::nullopt;
    if (close) fd = UniqueFd();
    return reply;
  }

  int port;
  UniqueFd fd;
  std::string buffer;
};

struct Totals {
  std::mutex lock;
  std::vector<double> latencies;  // milliseconds
  long errors = 0, wrong = 0;
};

double percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const std::size_t at = std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()));
  return sorted[at];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::cerr << "usage: search_load PORT PATH QUERY_FILE CLIENTS SECONDS [MAX] [--check]\n";
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string path = argv[2];
  const int clients = std::atoi(argv[4]);
  const auto duration = std::chrono::milliseconds(static_cast<long>(1000 * std::atof(argv[5])));
  const long maxPerClient = argc > 6 && argv[6][0] != '-' ? std::atol(argv[6]) : 0;
  const bool check = std::string(argv[argc - 1]) == "--check";
  std::vector<std::string> queries;
  std::ifstream file(argv[3]);
  for (std::string query; std::getline(file, query);) queries.push_back(query);
  if (queries.empty()) return 2;

  std::map<std::string, std::string> reference;
  if (check) {
    Connection alone(port);
    for (const std::string& query : queries) {
      std::optional<Reply> reply = alone.get(path + "?" + query);
      if (!reply || reply->status != 200) {
        std::cerr << "reference request failed: " << query << '\n';
        return 1;
      }
      reference[query] = reply->body;
    }
  }

  Totals totals;
  const Clock::time_point start = Clock::now(), end = start + duration;
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      Connection connection(port);
      std::vector<double> mine;
      long errors = 0, wrong = 0;
      std::size_t next = (static_cast<std::size_t>(c) * 7919) % queries.size();
      for (long n = 0; Clock::now() < end && (maxPerClient == 0 || n < maxPerClient); ++n) {
        const std::string& query = queries[next++ % queries.size()];
        const Clock::time_point sent = Clock::now();
        std::optional<Reply> reply = connection.get(path + "?" + query);
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        if (!reply || reply->status != 200)
          ++errors;
        else if (check && reply->body != reference[query])
          ++wrong;
      }
      std::lock_guard<std::mutex> guard(totals.lock);
      totals.latencies.insert(totals.latencies.end(), mine.begin(), mine.end());
      totals.errors += errors;
      totals.wrong += wrong;
    });
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(totals.latencies.begin(), totals.latencies.end());
  std::printf(
      "requests %zu  rps %.0f  p50 %.2f ms  p95 %.2f ms  p99 %.2f ms  errors %ld  wrong %ld\n",
      totals.latencies.size(), totals.latencies.size() / seconds,
      percentile(totals.latencies, 0.50), percentile(totals.latencies, 0.95),
      percentile(totals.latencies, 0.99), totals.errors, totals.wrong);
  return totals.errors == 0 && totals.wrong == 0 ? 0 : 1;
}
