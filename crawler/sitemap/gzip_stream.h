#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace theme_search {

// True when the bytes begin with the gzip magic number (1f 8b): a sitemap
// served compressed as a file (".xml.gz"), not through Content-Encoding.
[[nodiscard]] bool isGzip(std::string_view bytes);

// Inflates gzip data (one member, or several in a row) with zlib, handing the
// decompressed bytes to `sink` piece by piece (64 KiB at most each) as they
// come, so that the whole never needs to be in memory. Stops as soon as more
// than `maxBytes` have come out (a small file can inflate to gigabytes), the
// data is faulty or cut short, or `sink` returns false. Returns why it
// stopped short ("over 50 MiB once decompressed", "not valid gzip data
// (...)", "gzip data cut short"), or nullopt when the data was read to its
// end or `sink` asked to stop. Bytes after the last member are ignored.
// Pure; any thread.
[[nodiscard]] std::optional<std::string> inflateGzip(
    std::string_view data, std::size_t maxBytes,
    const std::function<bool(std::string_view piece)>& sink);

}  // namespace theme_search
