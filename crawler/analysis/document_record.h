#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "index/page_writer.h"

namespace theme_search {

// The longest title kept, without its "..." mark.
inline constexpr std::size_t kMaxTitleLength = 200;
// A document without a title is named by its first words: at most this
// many, and at most this many bytes.
inline constexpr std::size_t kUntitledWords = 10;
inline constexpr std::size_t kUntitledLength = 80;
// The longest display text kept: excerpts come from this much of a
// document, and it bounds the index's size per document (about 12 KiB once
// compressed, for prose).
inline constexpr std::size_t kMaxStoredTextLength = 32u << 10;

// The title a reader is shown: the document's own title (as the HTML
// scanner's getTitle() gives it) when it has one, else the first words of
// its display text; "..." where either was cut.
[[nodiscard]] std::string documentTitle(std::string_view title, std::string_view displayText);

// The hash by which identical display texts are found: 64-bit FNV-1a of
// the text's bytes, so two different texts share one by a chance of about
// one in 2^64.
[[nodiscard]] std::uint64_t textHash(std::string_view text);

// The record of a document from its title (empty when it has none) and its
// display text: the title a reader is shown (documentTitle: Latin-1, at most
// kMaxTitleLength bytes and "..."), compressStoredText() of the display
// text's first kMaxStoredTextLength bytes, cut at a blank, and the
// textHash() of the whole display text (none when it is empty).
[[nodiscard]] DocumentRecord makeDocumentRecord(std::string_view title,
                                                std::string_view displayText);

// The display text of a PDF or PostScript document from the converter's
// UTF-8 text: Latin-1 with its accents (utf8ToLatin1), white space collapsed.
[[nodiscard]] std::string convertedDisplayText(std::string_view converterText);

}  // namespace theme_search
