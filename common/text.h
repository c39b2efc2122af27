#pragma once

#include <string>
#include <string_view>

namespace theme_search {

// Small byte-text helpers shared by both programs. Texts are Latin-1 bytes;
// only ASCII is given a meaning here.

// Lower-cases the bytes 'A' to 'Z' in place and returns the same text; every
// other byte, accented capitals included, is unchanged.
std::string& toLower(std::string& text);

// Lower-cases the capitals of Latin-1 in place, 'A' to 'Z' and the accented
// ones (0xC0 to 0xDE but 0xD7), so two words the index's case-insensitive
// collation takes for one are one text. Returns the same text.
std::string& toLowerLatin1(std::string& text);

// A lower-cased copy (ASCII letters only).
[[nodiscard]] std::string lowered(std::string text);

// True when the texts are equal once their ASCII letters are lower-cased
// ("NoIndex" and "noindex"); every other byte compares as it is.
[[nodiscard]] bool equalsIgnoringCase(std::string_view text, std::string_view other);

// True when text begins with prefix, compared byte for byte.
[[nodiscard]] bool startsWith(std::string_view text, std::string_view prefix);
// The text with every "%XY" of two hexadecimal digits replaced by the byte
// XY; a '%' without them stays as it is.
[[nodiscard]] std::string percentDecoded(std::string_view text);

// True when text ends with suffix, compared byte for byte.
[[nodiscard]] bool endsWith(std::string_view text, std::string_view suffix);

// Space, tab, line feed, vertical tab, form feed or carriage return.
[[nodiscard]] bool isAsciiSpace(char byte);

// 'A' to 'Z' or 'a' to 'z'.
[[nodiscard]] bool isAsciiLetter(char byte);

}  // namespace theme_search
