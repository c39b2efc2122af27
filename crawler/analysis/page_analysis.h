#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "crawler/analysis/keyword_indexer.h"
#include "crawler/config/engine_config.h"

namespace theme_search {

// What the analysis of one fetched document gave the parse stage.
struct PageAnalysis {
  // The page's links in document order, duplicates kept; absolute unless
  // the page is a redirect from outside the site.
  std::vector<std::string> links;
  // Number of theme words the indexer found; 0 when the page is not indexed.
  int themeWordCount = 0;
  // The indexer's "EXCEPTION ..." lines, for the stage to print.
  std::string messages;
  // Lines for the crawl's log: "ERROR CONVERSION <url> : <reason>" when a
  // PDF or PostScript document could not be converted (it is then indexed
  // with an empty text).
  std::string logLines;
  // True when a stop came before the document was committed: nothing of it
  // was written, and its links are not worth queueing.
  bool stopped = false;
  // Time spent turning the document into words and links (the HTML scanner
  // or the conversion), for the crawl's timing report.
  std::chrono::nanoseconds scanTime{0};
};

// Analyses one fetched document: the base URL, the reading of the reply, the
// cut down to the body, then, for a page inside the site, the redirect
// target or, by document type ("html", "pdf", "ps", each only when accepted
// by the configuration), the HTML scanner or the text conversion (each on
// the document converted to Latin-1 from its character set), the
// keyword indexer, and the links made absolute. A page that is not indexed
// (outside the site, a redirect, a type not accepted) has its visit recorded
// all the same (KeywordIndexer::recordVisit). `replacing`: the page is in
// the index from an earlier visit, and its rows are replaced.
//
// Used by the parse thread only, with its keyword indexer. Blocks on the
// database and the converter; database errors (MysqlBadQuery) propagate.
[[nodiscard]] PageAnalysis analysePage(const std::string& url, std::string reply,
                                       const EngineConfig& config, KeywordIndexer& indexer,
                                       bool replacing = false);

}  // namespace theme_search
