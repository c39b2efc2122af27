#pragma once

// Excerpts for result lists: a short piece of a document's display text
// (display_text.h) around the first words of a query, with those words
// marked. Pure functions of strings, shared by every view of the results.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// The length, in bytes (Latin-1 characters), of an excerpt's text without
// its "..." marks.
inline constexpr std::size_t kExcerptLength = 200;

// A query word within an excerpt's text: byte offset and length. In
// Latin-1 a byte is a character, so these are character offsets too.
struct ExcerptMark {
  std::size_t offset;
  std::size_t length;

  bool operator==(const ExcerptMark& other) const {
    return offset == other.offset && length == other.length;
  }
};

// An excerpt: its text, with "..." where the document's text was cut before
// or after it, and its marks in text order, none overlapping.
struct Excerpt {
  std::string text;
  std::vector<ExcerptMark> marks;
};

// The excerpt of `displayText` for a query. A word of the text, cut by the
// rules of wordsOf() (text_folding.h), matches when its folded, lower-cased
// form equals one of `queryWords` (folded and lower-cased by the caller).
// The excerpt holds at most `length` bytes of the text, cut at blanks, from
// shortly before the first matching word (or from the start when none
// matches); every matching word inside it is marked. A word longer than
// `length` is cut inside (or, when it is the first match, kept whole). Bytes
// 0x80-0x9F, which display text never holds, are read as Windows-1252
// letters where they stand for letters only, as separators otherwise.
// Linear in the size of the text up to the excerpt's end.
[[nodiscard]] Excerpt cutExcerpt(std::string_view displayText,
                                 const std::vector<std::string>& queryWords,
                                 std::size_t length = kExcerptLength);

}  // namespace theme_search
