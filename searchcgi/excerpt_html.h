#pragma once

// Texts shown in the Latin-1 HTML result page: the index's titles and
// excerpts, the query's words. Pure.

#include <string>
#include <string_view>

#include "common/excerpt.h"

namespace theme_search {

// The text made safe as HTML text or attribute value and shown as written:
// '&', '<', '>', '"' and '\'' become character references, control bytes
// (which HTML forbids) blanks; every other byte is kept.
[[nodiscard]] std::string htmlText(std::string_view latin1);

// A text of the query (its words as typed, UTF-8) made safe the same way
// for the Latin-1 page: a character of Latin-1 as its byte, escaped as
// htmlText escapes it; any other as a numeric character reference
// ("&#339;" for oe). Bytes that are not valid UTF-8 are read as
// utf8OrLatin1Characters reads them.
[[nodiscard]] std::string htmlTextOfUtf8(std::string_view utf8);

// The excerpt as HTML (htmlText), each mark wrapped in <b>...</b>. Marks
// that overlap an earlier one or run past the text are left out.
[[nodiscard]] std::string excerptHtml(const Excerpt& excerpt);

}  // namespace theme_search
