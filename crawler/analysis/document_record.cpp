// Titles and stored texts of indexed documents.
#include "crawler/analysis/document_record.h"

#include "common/display_text.h"
#include "common/stored_text.h"
#include "common/text_folding.h"

namespace theme_search {

namespace {

constexpr std::string_view kEllipsis = "...";

// The text's first `length` bytes at most, ending before a blank; cut inside
// its first word only when that word alone is longer.
std::string_view cutAtBlank(std::string_view text, std::size_t length) {
  if (text.size() <= length) return text;
  if (text[length] == ' ') return text.substr(0, length);
  const std::size_t blank = text.rfind(' ', length);
  if (blank == std::string_view::npos || blank == 0) return text.substr(0, length);
  return text.substr(0, blank);
}

// The text's first `count` blank-separated words.
std::string_view firstWords(std::string_view text, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t words = 0; words < count && end < text.size(); ++words) {
    end = text.find(' ', end + 1);
    if (end == std::string_view::npos) return text;
  }
  return text.substr(0, end);
}

std::string withEllipsisIfCut(std::string_view kept, std::string_view whole) {
  std::string text(kept);
  if (kept.size() < whole.size()) text += kEllipsis;
  return text;
}

}  // namespace

std::string documentTitle(std::string_view title, std::string_view displayText) {
  if (!title.empty()) return withEllipsisIfCut(cutAtBlank(title, kMaxTitleLength), title);
  const std::string_view words =
      cutAtBlank(firstWords(displayText, kUntitledWords), kUntitledLength);
  return withEllipsisIfCut(words, displayText);
}

std::uint64_t textHash(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  return hash;
}

DocumentRecord makeDocumentRecord(std::string_view title, std::string_view displayText) {
  DocumentRecord record{documentTitle(title, displayText),
                        compressStoredText(cutAtBlank(displayText, kMaxStoredTextLength)),
                        std::nullopt};
  if (!displayText.empty()) record.textHash = textHash(displayText);
  return record;
}

std::string convertedDisplayText(std::string_view converterText) {
  return displayTextOf(utf8ToLatin1(converterText));
}

}  // namespace theme_search
