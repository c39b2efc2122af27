#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "engine_config.h"
#include "index_connection.h"
#include "keyword_indexer.h"

// The analysis of one fetched document, done entirely by the constructor:
// the base URL, the reading of the reply, the cut down to the body, then,
// for a page inside the site, the redirect target or, by document type
// ("html", "pdf", "ps", each only when accepted by the configuration), the
// HTML scanner or the text conversion, the keyword indexer, and the links
// made absolute. The parse stage then reads the links and the theme-word
// count.
//
// Used by the parse thread only. Works on the caller's texts: the URL may
// lose leading blanks and the reply is cut down to the body; both must
// outlive the object. Keeps its own copy of the configuration. Database
// errors of the indexer (MysqlBadQuery) leave the constructor.
class Page {
 public:
  Page(std::string& url, std::string& reply, const EngineConfig& config,
       IndexConnection& indexerConnection, std::ostream& messages);
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // The page's links in document order, duplicates kept; absolute unless
  // the page is a redirect from outside the site.
  [[nodiscard]] const std::vector<std::string>& links() const { return pageLinks; }
  // Number of theme words the indexer found; 0 when the page is not indexed.
  [[nodiscard]] int themeWordCount() const { return themeWords; }

 private:
  void analyse();
  void index(const std::string& kind, const std::string& text);

  std::string& reply;
  int themeWords = 0;
  std::string url;
  bool redirected = false;
  std::string baseUrl;
  std::string documentType;
  std::vector<std::string> pageLinks;
  EngineConfig config;
  WordCounts wordCounts;
  IndexConnection& indexerConnection;
  std::ostream& messages;
};
