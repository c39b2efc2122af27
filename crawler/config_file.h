#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

// Reads "engineconfig.cfg" and the theme-word file it names; EngineConfig is
// built from it and then drops it. Lines of the configuration file are read
// into a 256-byte buffer (so at most 255 characters a line); a line whose
// first or second character is '/' is a comment. The values, in order: the
// depth limit, a reserved number, a block of accepted type words closed by a
// comment line, the quoted site URL and the theme-word file name.
class ConfigFile {
 public:
  // Reads the configuration file, then (only if it could be opened) the
  // theme-word file. The two "cannot open" messages go to `messages`.
  ConfigFile(const std::string& fileName, std::ostream& messages);

  // Reads the five values; returns the theme-word file name, or the empty
  // name when the file cannot be opened (after printing its message).
  std::string readConfigFile(const std::string& fileName);
  // Reads "word weight" pairs; the first weight of a word stays. Reading
  // stops at a last word without weight or a weight that is not an
  // unsigned number (that word is not stored).
  void readThemeFile(const std::string& fileName);

  std::int32_t reservedValue = 0;
  std::int32_t maxDepth = 0;
  std::string siteUrl;
  std::vector<std::string> acceptedTypes;
  std::map<std::string, std::uint32_t> themeWords;

 private:
  std::ostream& messages;
  bool configOpened = false;
};

// The two messages, each with its line end.
[[nodiscard]] std::string configFileMissingMessage(const std::string& fileName);
[[nodiscard]] std::string themeFileMissingMessage(const std::string& fileName);
