#pragma once

// The HTTP client's limits, for its tests: the program only ever goes
// through httpGet and httpGetFollowing, with the default limits.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "crawler/fetch/http_client.h"

namespace theme_search::http_detail {

struct FetchLimits {
  // A reply larger than this fails the download, so that no server can make
  // the crawler exhaust its memory (the decoded body counts).
  std::size_t maxSize = std::size_t{64} << 20;
  // No byte for this long, once the request is sent, fails with "ERROR
  // TIMEOUT"; checked about once a second.
  std::chrono::milliseconds silence{2000};
  std::chrono::milliseconds connectTimeout{10000};
  // The whole download, so that a server dripping bytes cannot hold the crawl.
  std::chrono::milliseconds deadline{60000};
};

inline constexpr std::size_t kMaxReplySize = FetchLimits{}.maxSize;

// httpGet with other limits; `anyReply` makes it httpGetFollowing.
[[nodiscard]] FetchResult fetchWith(const EngineConfig& config, const std::string& target,
                                    const FetchLimits& limits, const StopSignal* stop,
                                    bool anyReply = false,
                                    const std::vector<std::string>& conditions = {});

}  // namespace theme_search::http_detail
