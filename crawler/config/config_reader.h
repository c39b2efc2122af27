#pragma once

#include <string>

#include "crawler/config/engine_config.h"

namespace theme_search {

// What reading the configuration gave: the configuration, the site URL as
// written (before it is split into host and path), the theme-word file name
// as written, and the messages, each a whole Latin-1 line, for the caller to
// print: for a file that could not be opened, and for each theme-word entry
// that is not one word.
//
// A crawl may start only when `usable` is set: both files were opened and
// no mistake was found. `mistake` holds the first mistake found, one whole
// line naming the file, the line when there is one, and what was expected
// (configMistake); a file that could not be opened has its message in
// `messages` instead.
struct ConfigReading {
  EngineConfig config;
  std::string siteUrl;
  std::string themeFileName;
  std::string messages;
  std::string mistake;
  bool usable = false;
};

// Reads the configuration file ("engineconfig.cfg") and, only if it could be
// opened and holds no mistake, the theme-word file it names. Never fails: a
// missing file adds its message and the configuration keeps what could be
// read (no file at all: depth 0, no site restriction, no accepted type, no
// theme word).
//
// The configuration file is read line by line into a 256-byte buffer (so at
// most 255 characters a line); a line whose first or second character is
// '/' is a comment. The values, in order: the depth limit, a reserved
// number, a block of accepted type words closed by a comment line, the
// quoted site URL and the theme-word file name (up to its first blank).
// Values are taken literally (numbers as atoi reads them, a type as the
// line's leading letters, the site up to its closing quote), and then
// checked, so that a misplaced or missing line is a mistake rather than a
// crawl with other settings than the ones meant:
//   - each value is on a line of its own: the file ending before a value, or
//     a line over 255 characters, is a mistake;
//   - both numbers are whole numbers that fit 32 bits, after optional blanks
//     and sign, followed by nothing or by white space;
//   - the type block holds at least one type and ends at a comment line; a
//     line beginning with a double quote in it is the site, which means the
//     comment line after the types is missing;
//   - the site is between double quotes, and is empty (no restriction) or
//     begins with http:// or https:// and a host;
//   - the theme-word file name is not empty, and the file gives a word.
//
// The theme-word file holds "word weight" pairs separated by any white
// space; reading stops at a last word without weight or a weight that is not
// an unsigned 32-bit number (that word is not stored). The file is read as
// UTF-8 when it is valid UTF-8 with at least one multi-byte character,
// otherwise as Latin-1 (its bytes 0x80-0x9F as Windows-1252). Each entry is
// cut into words and folded as page words are (wordsOf), then lower-cased,
// so "Dependances" with an e-acute and "dependances" are one theme word; the
// first weight of a word stays. An entry that gives no word ("l'", "-", a
// single letter, which pages never yield as a word) or several words
// ("pomme-de-terre") is not stored, since no page word could ever equal it,
// and adds a message naming the file, the entry's line and its text:
//   theme word file themes.txt, line 4: "pomme-de-terre" gives several words; ignored
//   theme word file themes.txt, line 5: "l'" gives no word; ignored
[[nodiscard]] ConfigReading readEngineConfig(const std::string& fileName);

// The two messages, each with its line end.
[[nodiscard]] std::string configFileMissingMessage(const std::string& fileName);
[[nodiscard]] std::string themeFileMissingMessage(const std::string& fileName);

}  // namespace theme_search
