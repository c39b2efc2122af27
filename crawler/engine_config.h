#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

// The crawler's settings, read once at start-up from "engineconfig.cfg" and
// the theme-word file it names: the depth limit, the site that bounds the
// crawl, the accepted document types and the weighted theme words. A plain
// copyable value; never changed after construction, so every thread reads
// it without a lock and every page keeps its own copy.
class EngineConfig {
 public:
  // Reads the configuration file and then its theme-word file. A file that
  // cannot be opened prints its message on standard output; the record then
  // holds what could be read (no file at all: depth 0, no site restriction,
  // no accepted type, no theme word).
  explicit EngineConfig(const std::string& fileName);
  // The same, printing the messages to `messages` instead.
  EngineConfig(const std::string& fileName, std::ostream& messages);
  EngineConfig() = default;

  std::int32_t maxDepth = 0;
  std::int32_t reservedValue = 0;
  std::string siteHost;  // empty: any host
  std::string sitePath;  // without its leading '/'; empty: any path
  std::map<std::string, std::uint32_t> themeWords;
  std::vector<std::string> acceptedTypes;

  // True when the URL lies within siteHost and sitePath.
  [[nodiscard]] bool inScope(const std::string& url) const;
  // The early reply check on the first chunk of a reply: status "200" with
  // an accepted content sub-type, or status "302".
  [[nodiscard]] bool acceptReply(const std::string& reply) const;
  // True when the word equals an entry of acceptedTypes, byte for byte.
  [[nodiscard]] bool isAcceptedType(const std::string& type) const;
  // The weight of a theme word; 0 for a required word and for any other word.
  [[nodiscard]] std::uint32_t themeWeight(const std::string& word) const;
};

// Host and path of a site URL: the first 7 characters (the "http://" prefix)
// are dropped, after "XXXXXXX" is put in front of a value shorter than 7.
// The host runs to the first '/', the path is what follows that '/'.
[[nodiscard]] std::string hostPart(const std::string& siteUrl);
[[nodiscard]] std::string pathPart(const std::string& siteUrl);

// Lower-cases the bytes 'A' to 'Z' in place and returns the same text.
std::string& toLower(std::string& text);
