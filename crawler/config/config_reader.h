#pragma once

#include <string>

#include "crawler/config/engine_config.h"

namespace theme_search {

// What reading the configuration gave: the configuration, the site URL as
// written (before it is split into host and path), and the messages for the
// files that could not be opened, each a whole line, for the caller to print.
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
// The theme-word file holds "word weight" pairs; the first weight of a word
// stays; reading stops at a last word without weight or a weight that is not
// an unsigned number (that word is not stored).
[[nodiscard]] ConfigReading readEngineConfig(const std::string& fileName);

// The two messages, each with its line end.
[[nodiscard]] std::string configFileMissingMessage(const std::string& fileName);
[[nodiscard]] std::string themeFileMissingMessage(const std::string& fileName);

}  // namespace theme_search
