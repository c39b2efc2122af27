#pragma once

// Excerpts for result lists: a short piece of a document's display text
// (display_text.h) where the words of a query stand thickest, with those
// words marked, never the page's title or its site's navigation. Pure
// functions of strings, shared by every view of the results.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/display_text.h"

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

// An excerpt: its text, with "..." where it cuts a sentence of the
// document's text before or after it, and its marks in text order, none
// overlapping.
struct Excerpt {
  std::string text;
  std::vector<ExcerptMark> marks;
};

// The excerpt of `displayText` for a query. A word of the text, cut by the
// rules of wordsOf() (text_folding.h), matches when its folded, lower-cased
// form equals one of `queryWords` (folded and lower-cased by the caller).
//
// The excerpt comes from the text's main pieces: the text less its
// kStretchBreak marks and less the repeats of `title` (the words of the
// title, folded, standing alone: at the start of the text or of a piece, or
// after a sentence's end, and followed by the end, a break or a word that
// does not begin in lower case; a title that ends in "..." repeats the
// text's first words whatever follows). Of the windows of `length` bytes of
// one piece, the excerpt shows the one holding the most distinct query
// words, then the most matching words, the first on ties; when no piece
// holds a query word, the start of the first piece; when there is no piece
// (the text is all title), the text less its breaks is read. The
// window begins a little before its first match (at a sentence's start when
// one is close, else after a blank) and ends at a blank, or at a sentence's
// end past its middle; "..." stands where it cuts a sentence. Every matching
// word inside it is marked. A word longer than `length` is cut inside (or,
// when it is the first match, kept whole). Bytes 0x80-0x9F, which display
// text never holds, are read as Windows-1252 letters where they stand for
// letters only, as separators otherwise. Linear in the size of the text.
[[nodiscard]] Excerpt cutExcerpt(std::string_view displayText,
                                 const std::vector<std::string>& queryWords,
                                 std::size_t length = kExcerptLength, std::string_view title = {});

}  // namespace theme_search
