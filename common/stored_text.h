#pragma once

// The stored form of a document's display text: compressed with zlib in the
// layout of the database server's COMPRESS(), so that UNCOMPRESS() reads it
// back in plain SQL. Written by the crawler, read by the search program.
// Pure functions of byte strings.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace theme_search {

// The longest text expandStoredText() accepts: a stored form declaring more
// is refused rather than allocated.
inline constexpr std::size_t kMaxExpandedTextLength = 16u << 20;

// The text compressed: empty for an empty text; otherwise the text's length
// in four bytes, low byte first, then one zlib stream. Texts longer than
// kMaxExpandedTextLength are never stored (the caller cuts them first).
// Empty too when zlib runs out of memory.
[[nodiscard]] std::string compressStoredText(std::string_view text);

// The text of a stored form; nullopt when the bytes are not one (too
// short, a length over kMaxExpandedTextLength, a broken stream, or a
// stream whose length differs from the one declared). Bytes after the
// stream are ignored, as UNCOMPRESS() ignores the '.' that COMPRESS() adds
// after the stream of a text that ends in a blank.
[[nodiscard]] std::optional<std::string> expandStoredText(std::string_view stored);

}  // namespace theme_search
