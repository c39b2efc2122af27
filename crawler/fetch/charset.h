#pragma once

#include <string>
#include <string_view>

namespace theme_search {

// Conversion of fetched documents to the Latin-1 bytes that the index holds.
// Code points come from the C library's iconv (never its locale-dependent
// transliteration); a code point beyond Latin-1 becomes its Latin-1 spelling
// from beyondLatin1, or a blank when it has none. Pure functions of text,
// safe on any thread.

// The Latin-1 spelling of a character beyond Latin-1 (U+0100 and above):
// "oe" for U+0153, "'" for U+2019, "EUR" for U+20AC, ...; empty when it has
// none. The same table (common/text_folding.h) spells these characters in
// HTML entities and search keywords.
[[nodiscard]] std::string beyondLatin1(char32_t codePoint);

// True when the text is valid UTF-8 holding at least one multi-byte sequence.
[[nodiscard]] bool isMultiByteUtf8(std::string_view text);

// The lower-cased character set that a <meta charset="..."> or a <meta
// http-equiv="Content-Type" content="...; charset=..."> names within the
// first 4 KiB of an HTML document; empty when there is none.
[[nodiscard]] std::string metaCharset(std::string_view html);

// The text, written in `charset`, in Latin-1. An empty charset, or one that
// iconv does not know, is guessed: UTF-8 when the bytes are valid multi-byte
// UTF-8, else Latin-1. Latin-1 is read as Windows-1252 (its bytes 0x80 to
// 0x9F are the typographic characters), so a Latin-1 text without such bytes
// comes back unchanged. A byte that is not valid in a UTF-8 text is read as
// Windows-1252; one that the charset does not define becomes a blank.
[[nodiscard]] std::string toLatin1(std::string_view text, std::string_view charset);

}  // namespace theme_search
