#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>

namespace theme_search {

struct EngineConfig;

// The crawler's HTTP client: one HTTP/1.1 GET to port 80 of the target's
// host, the reply kept byte for byte (status line, headers, body). No
// redirects are followed, no body is decoded, no port other than 80 is used.
// Blocking; used by the download thread only, one connection at a time.

// What a download gave. `reply` holds the bytes received (a refused reply
// keeps its first chunk, for tests and logs); `reason` says why a download
// failed, in words fit for the "ERROR DOWNLOAD" line.
struct FetchResult {
  enum class Outcome { fetched, failed, timedOut };
  Outcome outcome = Outcome::failed;
  std::string reason;
  std::string reply;

  [[nodiscard]] bool ok() const { return outcome == Outcome::fetched; }
};

// A target "host" or "host/path": the host runs to the first '/', the path
// starts at it ("/" when there is none).
struct HostAndPath {
  std::string host;
  std::string path;
};
[[nodiscard]] HostAndPath splitTarget(const std::string& target);

// The request sent for a host and path: the request line, "Host:" and
// "Connection: close", and the blank line; no other header.
[[nodiscard]] std::string buildRequest(const std::string& host, const std::string& path);

// The first IPv4 address of the host name, unchanged (a ":port" stays part of
// the name), port 80; nullopt when the name does not resolve.
[[nodiscard]] std::optional<sockaddr_in> resolveHost(const std::string& host);

// Fetches "host" or "host/path" (without "http://"). The first chunk of the
// reply is checked with acceptReply and the transfer dropped at once if it is
// refused. Fails on a name that does not resolve, a connection or request
// that fails, a refused reply, a reply over 64 MiB, or no data within 2
// seconds before a read (Outcome::timedOut).
[[nodiscard]] FetchResult httpGet(const EngineConfig& config, const std::string& target);

}  // namespace theme_search
