// HTTP/1.1 GET over a plain IPv4 TCP connection.
#include "crawler/fetch/http_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "common/unique_fd.h"
#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client_detail.h"
#include "crawler/fetch/reply.h"

namespace theme_search {

namespace {

const int kReadTimeoutMs = 2000;
const int kStartChunkSize = 128;
const std::uint16_t kHttpPort = 80;

FetchResult failure(std::string reason, std::string reply = std::string()) {
  return FetchResult{FetchResult::Outcome::failed, std::move(reason), std::move(reply)};
}

// errno's text, starting in lower case to read well after a colon.
std::string systemReason(int error) {
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

// Each read asks for as much as the socket's receive buffer can hold.
std::size_t receiveBufferSize(int socket) {
  int size = kStartChunkSize;
  socklen_t length = sizeof size;
  if (getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0 || size <= 0)
    return kStartChunkSize;
  return static_cast<std::size_t>(size);
}

// Blocks until the descriptor has something to read (or end of stream), at
// most 2 seconds; false on time-out or when the wait fails.
bool waitReadable(int socket) {
  pollfd entry{socket, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, kReadTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

ssize_t readSome(int socket, std::vector<char>& buffer, std::size_t chunkSize) {
  ssize_t count;
  do {
    count = ::read(socket, buffer.data(), chunkSize);
  } while (count < 0 && errno == EINTR);
  return count;
}

}  // namespace

HostAndPath splitTarget(const std::string& target) {
  const std::size_t slash = target.find('/');
  if (slash == std::string::npos) return {target, "/"};
  return {target.substr(0, slash), target.substr(slash)};
}

std::string buildRequest(const std::string& host, const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

std::optional<sockaddr_in> resolveHost(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
    return std::nullopt;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> hold(found, freeaddrinfo);
  sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  address.sin_port = htons(kHttpPort);
  return address;
}

FetchResult httpGet(const EngineConfig& config, const std::string& target) {
  return http_detail::fetchFrom(config, target, kHttpPort);
}

namespace http_detail {

FetchResult fetchFrom(const EngineConfig& config, const std::string& target, std::uint16_t port) {
  const HostAndPath parts = splitTarget(target);
  std::optional<sockaddr_in> address = resolveHost(parts.host);
  if (!address) return failure("host not found");
  address->sin_port = htons(port);
  // Close-on-exec: the converter started by the parse thread must not
  // inherit an open connection.
  const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return failure("socket: " + systemReason(errno));
  const std::size_t chunkSize = receiveBufferSize(socket.get());
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
    return failure(systemReason(errno));
  // One send, not repeated when short; no SIGPIPE if the server is gone.
  const std::string request = buildRequest(parts.host, parts.path);
  if (::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) < 0)
    return failure("request not sent: " + systemReason(errno));
  ::shutdown(socket.get(), SHUT_WR);
  return readReply(config, socket.get(), chunkSize);
}

FetchResult readReply(const EngineConfig& config, int socket, std::size_t chunkSize,
                      std::size_t maxSize) {
  std::vector<char> buffer(chunkSize + 1);
  FetchResult result;
  for (bool firstChunk = true;; firstChunk = false) {
    if (!waitReadable(socket)) {
      result.outcome = FetchResult::Outcome::timedOut;
      result.reason = "no data for 2 s";
      return result;
    }
    const ssize_t count = readSome(socket, buffer, chunkSize);
    if (count > 0) {
      if (result.reply.size() + static_cast<std::size_t>(count) > maxSize)
        return failure("reply over " + std::to_string(maxSize >> 20) + " MiB");
      result.reply.append(buffer.data(), static_cast<std::size_t>(count));
    }
    // Only the first chunk is checked: an unwanted reply is never read on.
    if (firstChunk) {
      if (std::optional<std::string> refused = refusalReason(config, result.reply))
        return failure(std::move(*refused), std::move(result.reply));
    }
    if (count <= 0) {
      result.outcome = FetchResult::Outcome::fetched;
      return result;
    }
  }
}

}  // namespace http_detail

}  // namespace theme_search
