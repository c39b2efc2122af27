// HTTP/1.1 GET over a plain IPv4 TCP connection.
#include "http_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "engine_config.h"
#include "http_client_detail.h"

namespace {

const int kReadTimeoutMs = 2000;
const int kStartChunkSize = 128;
const std::uint16_t kHttpPort = 80;

// Owns a socket descriptor and closes it on every path out.
class Socket {
 public:
  explicit Socket(int fd) : fd(fd) {}
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  [[nodiscard]] bool valid() const { return fd >= 0; }
  [[nodiscard]] int get() const { return fd; }

 private:
  int fd;
};

// Each read asks for as much as the socket's receive buffer can hold.
std::size_t receiveBufferSize(int socket) {
  int size = kStartChunkSize;
  socklen_t length = sizeof size;
  if (getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0 || size <= 0)
    return kStartChunkSize;
  return static_cast<std::size_t>(size);
}

ssize_t readSome(int socket, std::vector<char>& buffer, std::size_t chunkSize) {
  ssize_t count;
  do {
    count = ::read(socket, buffer.data(), chunkSize);
  } while (count < 0 && errno == EINTR);
  return count;
}

// Waits, then reads one chunk; false on time-out, after reporting it.
bool readChunk(int socket, std::vector<char>& buffer, std::size_t chunkSize, ssize_t& count,
               std::ostream& messages) {
  if (!waitReadable(socket)) {
    messages << "ERROR TIMEOUT\n" << std::flush;
    return false;
  }
  count = readSome(socket, buffer, chunkSize);
  return true;
}

}  // namespace

void splitTarget(const std::string& target, std::string& host, std::string& path) {
  const std::size_t slash = target.find('/');
  if (slash == std::string::npos) {
    host += target;
    path += "/";
  } else {
    host.append(target, 0, slash);
    path.append(target, slash, std::string::npos);
  }
}

std::string buildRequest(const std::string& host, const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

bool resolveHost(const std::string& target, std::string& host, std::string& path,
                 sockaddr_in& address) {
  std::string name;
  splitTarget(target, name, path);
  host += name;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> hold(found, freeaddrinfo);
  address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  address.sin_port = htons(kHttpPort);
  return true;
}

bool waitReadable(int socket) {
  pollfd entry{socket, POLLIN, 0};
  return ::poll(&entry, 1, kReadTimeoutMs) > 0;
}

bool httpGet(const EngineConfig& config, const std::string& target, std::string& reply,
             std::ostream& messages) {
  return http_detail::fetchFrom(config, target, reply, kHttpPort, messages);
}

namespace http_detail {

bool fetchFrom(const EngineConfig& config, const std::string& target, std::string& reply,
               std::uint16_t port, std::ostream& messages) {
  std::string host;
  std::string path;
  sockaddr_in address{};
  if (!resolveHost(target, host, path, address)) return false;
  address.sin_port = htons(port);
  // Close-on-exec: the converter started by the parse thread must not
  // inherit an open connection.
  const Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return false;
  const std::size_t chunkSize = receiveBufferSize(socket.get());
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return false;
  // One send, not repeated when short; no SIGPIPE if the server is gone.
  const std::string request = buildRequest(host, path);
  if (::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) return false;
  ::shutdown(socket.get(), SHUT_WR);
  return readReply(config, socket.get(), chunkSize, reply, messages);
}

bool readReply(const EngineConfig& config, int socket, std::size_t chunkSize, std::string& reply,
               std::ostream& messages, std::size_t maxSize) {
  std::vector<char> buffer(chunkSize + 1);
  std::size_t received = 0;
  for (bool firstChunk = true;; firstChunk = false) {
    ssize_t count = 0;
    if (!readChunk(socket, buffer, chunkSize, count, messages)) return false;
    if (count > 0) {
      received += static_cast<std::size_t>(count);
      if (received > maxSize) {
        std::string().swap(reply);
        return false;
      }
      reply.append(buffer.data(), static_cast<std::size_t>(count));
    }
    // Only the first chunk is checked: an unwanted reply is never read on.
    if (firstChunk && !config.acceptReply(reply)) return false;
    if (count <= 0) return true;
  }
}

}  // namespace http_detail
