#pragma once

// Texts of the index shown in the Latin-1 HTML result page: titles and
// excerpts. Pure.

#include <string>
#include <string_view>

#include "common/excerpt.h"

namespace theme_search {

// The text made safe as HTML text or attribute value and shown as written:
// '&', '<', '>', '"' and '\'' become character references, control bytes
// (which HTML forbids) blanks; every other byte is kept.
[[nodiscard]] std::string htmlText(std::string_view latin1);

// The excerpt as HTML (htmlText), each mark wrapped in <b>...</b>. Marks
// that overlap an earlier one or run past the text are left out.
[[nodiscard]] std::string excerptHtml(const Excerpt& excerpt);

}  // namespace theme_search
