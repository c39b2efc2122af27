#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace theme_search {

// The crawler's settings: the depth limit, the site that bounds the crawl,
// the accepted document types and the weighted theme words. A plain
// copyable value, read once at start-up (config_reader.h) and never changed
// afterwards, so every thread reads it without a lock.
struct EngineConfig {
  std::int32_t maxDepth = 0;
  std::int32_t reservedValue = 0;
  std::string siteHost;  // empty: any host
  std::string sitePath;  // without its leading '/'; empty: any path
  // Theme words as page words are counted: folded to their unaccented
  // letters and lower-cased (config_reader.h).
  std::map<std::string, std::uint32_t> themeWords;
  std::vector<std::string> acceptedTypes;
  // Set by the crawler's entry, not read from the file: the politeness
  // option (robots.txt, a delay between requests to one host, a
  // "User-Agent"), and a PEM file of certificates trusted besides the
  // system's store (empty: none).
  bool polite = false;
  std::string extraCaFile;
  // Sitemaps whose pages seed the crawl (the --sitemap option), as typed.
  std::vector<std::string> sitemaps;
  // The language of pages that name none (html lang, Content-Language),
  // for their word stems: SE_LANGUAGE, French by default.
  std::string defaultLanguage = "fr";

  // True when the URL lies within siteHost and sitePath: the host ends with
  // siteHost at a label boundary, and the path is sitePath or lies in the
  // directory sitePath names. A leading "https://" is the scheme; otherwise
  // the first seven characters are taken as the scheme without looking at
  // them. A port other than the default one is part of the host. URLs are
  // expected in canonical form (canonicalUrl).
  [[nodiscard]] bool inScope(const std::string& url) const;
  // True when the word equals an entry of acceptedTypes, the letter case of
  // A-Z ignored ("HTML" accepts "html"); document types are ASCII tokens.
  [[nodiscard]] bool isAcceptedType(const std::string& type) const;
  // The weight of a theme word; 0 for a required word and for any other word.
  [[nodiscard]] std::uint32_t themeWeight(const std::string& word) const;
};

// Host and path of a site URL, in canonical form: the scheme ("https://",
// else the first 7 characters) is dropped, after "XXXXXXX" is put in front of
// a value shorter than 7.
// The host runs to the first '/', the path is what follows that '/'.
[[nodiscard]] std::string hostPart(const std::string& siteUrl);
[[nodiscard]] std::string pathPart(const std::string& siteUrl);

}  // namespace theme_search
