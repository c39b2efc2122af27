#pragma once

// The HTTP client's inner steps, for its tests: the program only ever goes
// through httpGet (port 80).

#include <cstddef>
#include <cstdint>
#include <string>

#include "crawler/fetch/http_client.h"

namespace theme_search::http_detail {

// A reply larger than this fails the download, so that no server can make
// the crawler exhaust its memory.
inline constexpr std::size_t kMaxReplySize = std::size_t{64} << 20;

// httpGet to `port` of the target's host instead of port 80.
[[nodiscard]] FetchResult fetchFrom(const EngineConfig& config, const std::string& target,
                                    std::uint16_t port);

// The receiving half of httpGet on a connected descriptor, which it does not
// close: reads at most `chunkSize` bytes at a time, each read after a fresh
// wait of at most 2 seconds, until end of stream or a failed read (fetched).
// Fails without reading on when the first chunk is refused, when a wait
// times out, or when more than `maxSize` bytes arrive (the reply is then
// emptied to give its memory back).
[[nodiscard]] FetchResult readReply(const EngineConfig& config, int socket, std::size_t chunkSize,
                                    std::size_t maxSize = kMaxReplySize);

}  // namespace theme_search::http_detail
