#pragma once

// The HTTP client's inner steps, for its tests: the program only ever goes
// through httpGet (port 80).

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

class EngineConfig;

namespace http_detail {

// A reply larger than this fails the download, so that no server can make
// the crawler exhaust its memory.
inline constexpr std::size_t kMaxReplySize = std::size_t{64} << 20;

// httpGet to `port` of the target's host instead of port 80.
[[nodiscard]] bool fetchFrom(const EngineConfig& config, const std::string& target,
                             std::string& reply, std::uint16_t port, std::ostream& messages);

// The receiving half of httpGet on a connected descriptor, which it does not
// close: reads at most `chunkSize` bytes at a time, each read after a fresh
// wait of at most 2 seconds, until end of stream or a failed read (true).
// False, without reading on, when the first chunk is refused, when a wait
// times out ("ERROR TIMEOUT" on `messages`), or when more than `maxSize`
// bytes arrive (the reply is then emptied to give its memory back).
[[nodiscard]] bool readReply(const EngineConfig& config, int socket, std::size_t chunkSize,
                             std::string& reply, std::ostream& messages,
                             std::size_t maxSize = kMaxReplySize);

}  // namespace http_detail
