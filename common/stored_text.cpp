// Stored display text: zlib streams behind a four-byte length.
#include "common/stored_text.h"

#include <zlib.h>

namespace theme_search {

namespace {

constexpr std::size_t kLengthBytes = 4;
// Best compression: texts are written once by the crawler and read many
// times; the level does not change the cost of reading.
constexpr int kCompressionLevel = 9;

}  // namespace

std::string compressStoredText(std::string_view text) {
  if (text.empty()) return {};
  uLongf compressedLength = compressBound(static_cast<uLong>(text.size()));
  std::string stored(kLengthBytes + compressedLength, '\0');
  for (std::size_t i = 0; i < kLengthBytes; ++i)
    stored[i] = static_cast<char>((text.size() >> (8 * i)) & 0xFF);
  // Into a buffer of compressBound() bytes, only a lack of memory fails.
  if (compress2(reinterpret_cast<Bytef*>(&stored[kLengthBytes]), &compressedLength,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                kCompressionLevel) != Z_OK)
    return {};
  stored.resize(kLengthBytes + compressedLength);
  return stored;
}

std::optional<std::string> expandStoredText(std::string_view stored) {
  if (stored.empty()) return std::string();
  if (stored.size() <= kLengthBytes) return std::nullopt;
  std::size_t length = 0;
  for (std::size_t i = 0; i < kLengthBytes; ++i)
    length |= static_cast<std::size_t>(static_cast<unsigned char>(stored[i])) << (8 * i);
  if (length == 0 || length > kMaxExpandedTextLength) return std::nullopt;
  std::string text(length, '\0');
  uLongf expandedLength = static_cast<uLongf>(length);
  const int status = uncompress(reinterpret_cast<Bytef*>(text.data()), &expandedLength,
                                reinterpret_cast<const Bytef*>(stored.data() + kLengthBytes),
                                static_cast<uLong>(stored.size() - kLengthBytes));
  // Z_BUF_ERROR: the stream holds more than declared, or ends early.
  if (status != Z_OK || expandedLength != length) return std::nullopt;
  return text;
}

}  // namespace theme_search
