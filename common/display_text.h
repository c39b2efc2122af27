#pragma once

// Display text: a document's text as a reader sees it, kept beside the
// folded words of the index so that results can show titles and excerpts.
// Latin-1 bytes, accents, digits and punctuation kept, every run of white
// space one blank, no blank at either end, and no control byte: C0 and C1
// controls and the no-break space read as white space, Windows-1252 bytes
// 0x80-0x9F as their characters. Pure; no dependency on the crawler.

#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// Builds a display text from pieces, in time linear in their size: text as
// it stands in a document, decoded characters and blanks between pieces.
// A plain value; one builder per text, used by one thread.
class DisplayTextBuilder {
 public:
  // Adds Latin-1 text: white space and control bytes give a blank, a byte
  // 0x80-0x9F its Windows-1252 character (addCharacter), every other byte
  // is kept.
  void addText(std::string_view latin1);
  // Adds one character by its code point: a printable Latin-1 character as
  // its byte, 0x80-0x9F read as Windows-1252, a character beyond Latin-1 as
  // its transliteration (text_folding.h); white space, controls, characters
  // the table does not map and values beyond U+10FFFF give a blank.
  void addCharacter(char32_t character);
  // A blank between pieces (a tag that separates words).
  void addBlank() { pendingBlank = !text.empty(); }

  [[nodiscard]] const std::string& str() const { return text; }
  [[nodiscard]] bool empty() const { return text.empty(); }

 private:
  void addVisible(char byte);

  std::string text;
  // A blank is written only before the next visible byte, so runs collapse
  // and the text never ends in one.
  bool pendingBlank = false;
};

// A whole Latin-1 text as display text (one DisplayTextBuilder::addText).
[[nodiscard]] std::string displayTextOf(std::string_view latin1);

// The byte that stands, in a display text read for a result list, for a
// stretch taken out of it (markSharedStretches). Display text never holds it
// (it is a control byte) and the index never stores it; an excerpt
// (excerpt.h) never crosses it and never shows it.
inline constexpr char kStretchBreak = '\x1e';

// Navigation, read from a result page's texts: takes out of each text (a
// display text, modified in place) the stretches that stand in most of the
// page's texts, each replaced by one kStretchBreak. A stretch is a run of
// blank-separated pieces covered by runs of four pieces (fewer at a text's
// start or end, which count as pieces too) found in more than half of the
// non-empty texts, and in three at least; it is taken out when it begins
// or ends its text (a site's header or footer) or holds eight pieces at
// least (a menu in the middle), so that a phrase of the query that many
// results share stays. Only a text's first and last 200 pieces are read
// (a header, a footer, a side menu), so the time and memory are bounded by
// the number of texts: a hash a piece, and a table of the thread's, kept
// between calls, of twice as many entries as runs of pieces. Fewer than
// three texts: nothing is taken out. No I/O; the table makes it one call
// at a time per thread.
void markSharedStretches(const std::vector<std::string*>& texts);

}  // namespace theme_search
