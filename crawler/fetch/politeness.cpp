// robots.txt once per host, and a delay between requests to one host.
#include "crawler/fetch/politeness.h"

#include <algorithm>

#include "crawler/fetch/reply.h"
#include "crawler/fetch/stop_signal.h"
#include "crawler/fetch/url_rules.h"

namespace theme_search {

namespace {

using Clock = std::chrono::steady_clock;

const std::size_t kMaxRobotsSize = 512 * 1024;  // read at most this much of it
const char kDisallowed[] = "disallowed by robots.txt";

// The path and query of an http(s) URL, "/" when it has none.
std::string pathAndQuery(const std::string& url, const std::string& origin) {
  const std::string rest = url.substr(origin.size());
  return rest.empty() ? "/" : rest;
}

std::string statusOf(const std::string& reply) {
  const std::size_t space = reply.find(' ');
  if (space == std::string::npos) return std::string();
  return reply.substr(space + 1, 3);
}

}  // namespace

RobotsRules robotsRulesFrom(const FetchResult& fetched, std::string& unavailable) {
  RobotsRules rules;
  if (!fetched.ok()) {
    unavailable = "robots.txt unreachable: " + fetched.reason;
    rules.disallowAll = true;
    return rules;
  }
  const std::string status = statusOf(fetched.reply);
  if (status.size() == 3 && status[0] == '2') {
    std::string body = fetched.reply;
    removeHeader(body);
    body.resize(std::min(body.size(), kMaxRobotsSize));
    return parseRobots(body, kProductToken);
  }
  if (status.size() == 3 && (status[0] == '3' || status[0] == '4')) return rules;
  unavailable = "robots.txt status " + status;
  rules.disallowAll = true;
  return rules;
}

Politeness::Politeness(const EngineConfig& config, const StopSignal& stop,
                       std::chrono::milliseconds defaultDelay)
    : config(config), stop(stop), defaultDelay(defaultDelay) {}

Politeness::Host& Politeness::hostOf(const std::string& origin) {
  auto found = hosts.find(origin);
  if (found != hosts.end()) return found->second;
  Host host;
  const FetchResult fetched = httpGetFollowing(config, origin + "/robots.txt", &stop);
  host.rules = robotsRulesFrom(fetched, host.unavailable);
  sitemaps.insert(sitemaps.end(), host.rules.sitemaps.begin(), host.rules.sitemaps.end());
  host.delay =
      std::min<std::chrono::milliseconds>(host.rules.crawlDelay.value_or(defaultDelay), kMaxDelay);
  host.nextRequest = Clock::now() + host.delay;
  return hosts.emplace(origin, std::move(host)).first->second;
}

std::optional<std::string> Politeness::admit(const std::string& url) {
  const std::string origin = originOf(url);
  if (origin.empty()) return std::nullopt;
  Host& host = hostOf(origin);
  if (!host.unavailable.empty()) return std::string(kDisallowed) + " (" + host.unavailable + ")";
  if (!host.rules.allows(pathAndQuery(url, origin))) return std::string(kDisallowed);
  if (!stop.waitUntil(host.nextRequest)) return std::string("crawl stopped");
  return std::nullopt;
}

void Politeness::requestEnded(const std::string& url) {
  const auto found = hosts.find(originOf(url));
  if (found != hosts.end()) found->second.nextRequest = Clock::now() + found->second.delay;
}

}  // namespace theme_search
