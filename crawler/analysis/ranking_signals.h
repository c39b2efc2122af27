#pragma once

#include <string>

#include "index/page_writer.h"

namespace theme_search {

// What the readable views rank an on-theme page by, made from the page's
// parts. Pure functions of text.

// A page's fields as its analysis found them: the title as a reader sees
// it, the words of its headings and of its description (any word form:
// each is cut and folded again by the page word rules), and its language.
struct PageFields {
  std::string title;
  std::string headings;
  std::string description;
  std::string language;
};

// The words of a URL's path that name the page: the path after the host,
// without its query, its fragment and the file name's extension
// ("http://srv/doc/asyncio-queue.html?x" gives "doc asyncio queue"), cut
// and folded by the page word rules.
[[nodiscard]] std::string urlPathWords(const std::string& url);

// The ranking signals of an on-theme page: its length (`wordCount`), each
// field's length and those of its words that are among the page's
// keywords, with their counts (lower-cased as keywords are), and its
// language: the page's own, else `defaultLanguage`. Only the primary
// subtag is kept, lower-cased ("fr-FR" gives "fr").
[[nodiscard]] RankingSignals rankingSignals(const std::string& url, unsigned wordCount,
                                            const PageFields& fields, const WordCounts& keywords,
                                            const std::string& defaultLanguage);

}  // namespace theme_search
