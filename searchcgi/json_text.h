#pragma once

// Texts of the index (Latin-1), and of the query (UTF-8), written into UTF-8
// JSON. Every byte of Latin-1 is one character, U+0000-U+00FF, so any byte
// string converts, and offsets counted in Latin-1 bytes are offsets in
// characters (and in the UTF-16 units of JavaScript strings) of the
// converted text. Pure.

#include <string>
#include <string_view>

#include "common/excerpt.h"

namespace theme_search {

// Each byte as the UTF-8 of the character of the same number: ASCII as
// itself, 0x80-0xFF as two bytes.
[[nodiscard]] std::string latin1ToUtf8(std::string_view latin1);

// The text as a JSON string, quotes included, always valid JSON: '"' and
// '\' backslash-escaped, the controls U+0000-U+001F, U+007F and
// U+0080-U+009F as \u00XX, every other character in UTF-8.
[[nodiscard]] std::string jsonString(std::string_view latin1);

// The same, appended to `json`.
void appendJsonString(std::string& json, std::string_view latin1);

// A text of the query (its words as typed, UTF-8) appended to `json` as a
// JSON string, escaped as jsonString escapes; bytes that are not valid
// UTF-8 are read as utf8OrLatin1Characters reads them.
void appendJsonStringOfUtf8(std::string& json, std::string_view utf8);

// An excerpt as a JSON object:
// {"text":"...","marks":[{"offset":3,"length":7},...]}
// with offsets and lengths in characters of the text.
[[nodiscard]] std::string excerptJson(const Excerpt& excerpt);

}  // namespace theme_search
