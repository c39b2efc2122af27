#pragma once

#include <string>

#include "crawler/config/engine_config.h"

namespace theme_search {

// What reading the configuration gave: the configuration, the site URL as
// written (before it is split into host and path), and the messages, each a
// whole Latin-1 line, for the caller to print: for a file that could not be
// opened, and for each theme-word entry that is not one word.
struct ConfigReading {
  EngineConfig config;
  std::string siteUrl;
  std::string messages;
};

// Reads the configuration file ("engineconfig.cfg") and, only if it could be
// opened, the theme-word file it names. Never fails: a missing file adds its
// message and the configuration keeps what could be read (no file at all:
// depth 0, no site restriction, no accepted type, no theme word).
//
// The configuration file is read line by line into a 256-byte buffer (so at
// most 255 characters a line); a line whose first or second character is
// '/' is a comment. The values, in order: the depth limit, a reserved
// number, a block of accepted type words closed by a comment line, the
// quoted site URL and the theme-word file name (up to its first blank).
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
