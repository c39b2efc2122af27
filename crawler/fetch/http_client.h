#pragma once

#include <string>
#include <vector>

namespace theme_search {

struct EngineConfig;
class StopSignal;

// The crawler's name towards web servers: the product token that robots.txt
// groups and X-Robots-Tag headers name, and the "User-Agent" sent under the
// politeness option.
inline constexpr char kProductToken[] = "ThemeSearchCrawler";
inline constexpr char kUserAgent[] = "ThemeSearchCrawler/1.0 (theme-focused search engine crawler)";

// The crawler's HTTP client, built on libcurl: one HTTP/1.1 GET (never
// HTTP/2) over http:// or https:// to any port, with exactly the request
// line, "Host:" (with the port when it is not the scheme's default) and
// "Connection: close" (plus "User-Agent" when the configuration is polite,
// and the conditional lines of a revisit).
// Chunked and compressed bodies are decoded; certificates are checked
// against the system store and EngineConfig::extraCaFile. The reply is kept
// as its header block, as received, followed by the decoded body.
// Blocking; used by the download thread only, one transfer at a time.

// What a download gave. `reply` holds the bytes received (a refused reply
// keeps its header block, for tests and logs); `reason` says why a download
// failed, in words fit for the "ERROR DOWNLOAD" line. A conditional request
// answered "304" ends notModified, with the header block in `reply` and the
// reason "status 304".
struct FetchResult {
  enum class Outcome { fetched, failed, timedOut, notModified };
  Outcome outcome = Outcome::failed;
  std::string reason;
  std::string reply;

  [[nodiscard]] bool ok() const { return outcome == Outcome::fetched; }
};

// A target "host[:port]/path" (plain HTTP, as the download stage hands it
// over), or a whole "http://..." or "https://..." URL: the host runs to the
// first '/', the path starts at it ("/" when there is none) and is sent as
// it stands, query, fragment and blanks included.
struct FetchTarget {
  bool secure = false;
  std::string host;
  std::string path;
};
[[nodiscard]] FetchTarget splitTarget(const std::string& target);

// Fetches the target. The reply check (refusalReason) runs as soon as the
// header block is complete and drops an unwanted transfer at once. Fails on
// a host that does not resolve or cannot be reached, a refused certificate,
// a refused reply, a reply over 64 MiB, no data for 2 seconds
// (Outcome::timedOut), a download longer than 60 seconds, or a stop request.
// `conditions` are header lines sent after the others exactly as given (a
// revisit's "If-None-Match" and "If-Modified-Since", see conditionalHeaders);
// with any, a "304" reply is accepted and ends Outcome::notModified.
[[nodiscard]] FetchResult httpGet(const EngineConfig& config, const std::string& target,
                                  const StopSignal* stop = nullptr,
                                  const std::vector<std::string>& conditions = {});

// Fetches the target whatever its status and type, following up to five
// redirects (to any host): for files such as robots.txt whose status is an
// answer in itself. Same limits and failures as httpGet otherwise.
[[nodiscard]] FetchResult httpGetFollowing(const EngineConfig& config, const std::string& target,
                                           const StopSignal* stop = nullptr);

}  // namespace theme_search
