#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crawler/fetch/http_client.h"
#include "crawler/fetch/robots.h"

namespace theme_search {

struct EngineConfig;
class StopSignal;

// The politeness option of a crawl: each host's robots.txt is fetched once
// per run and obeyed (a 4xx reply allows everything; a 5xx reply, or none,
// disallows the host for the run), and requests to one host keep the
// host's Crawl-delay, or `defaultDelay`, between them.
//
// Used by the download thread only. The configuration and the stop signal
// must outlive the object.
class Politeness {
 public:
  // The longest Crawl-delay obeyed: a larger one would stall the crawl.
  static constexpr std::chrono::seconds kMaxDelay{30};

  Politeness(const EngineConfig& config, const StopSignal& stop,
             std::chrono::milliseconds defaultDelay = std::chrono::seconds(1));
  Politeness(const Politeness&) = delete;
  Politeness& operator=(const Politeness&) = delete;

  // Blocks: fetches robots.txt the first time the URL's host is seen, then
  // waits until the host's delay since its last request has passed. Returns
  // nullopt when the URL may be fetched now, or the reason for the "ERROR
  // DOWNLOAD" line ("disallowed by robots.txt", "crawl stopped").
  [[nodiscard]] std::optional<std::string> admit(const std::string& url);

  // Notes that a request to the URL's host has just ended: the host's next
  // request waits for its delay from now.
  void requestEnded(const std::string& url);

  // The "Sitemap:" lines of the robots.txt files read since the last call,
  // in the order read; each robots.txt is read once a run.
  [[nodiscard]] std::vector<std::string> takeSitemaps() { return std::exchange(sitemaps, {}); }

 private:
  struct Host {
    RobotsRules rules;
    std::string unavailable;  // why the whole host is disallowed; empty if not
    std::chrono::milliseconds delay{0};
    std::chrono::steady_clock::time_point nextRequest;
  };
  Host& hostOf(const std::string& origin);

  const EngineConfig& config;
  const StopSignal& stop;
  const std::chrono::milliseconds defaultDelay;
  std::map<std::string, Host> hosts;
  std::vector<std::string> sitemaps;
};

// What a robots.txt download says: the rules of a 2xx reply, everything
// allowed after a 4xx reply (or an unfollowable redirect), and the host
// disallowed (the reason in `unavailable`) after a 5xx reply or a failure.
[[nodiscard]] RobotsRules robotsRulesFrom(const FetchResult& fetched, std::string& unavailable);

}  // namespace theme_search
