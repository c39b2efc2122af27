#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "crawler/config/engine_config.h"
#include "index/page_writer.h"

namespace theme_search {

// What the analysis of one fetched document gives: what the index records
// of it, and the links the parse stage queues.
struct PageAnalysis {
  // The page's links in document order, duplicates kept; absolute unless
  // the page is a redirect from outside the site.
  std::vector<std::string> links;
  // What PageWriter writes: for a document analysed, its type, keywords,
  // theme-word count and, on theme, its title and text; only the visit for
  // a redirect, a page outside the site or a type that is not accepted.
  PageRecord record;
  // Why a PDF or PostScript document could not be converted (it is then
  // indexed with an empty text); none when it was, or needed no conversion.
  std::optional<std::string> conversionFailure;
  // Time spent turning the document into words and links (the HTML scanner
  // or the conversion), for the crawl's timing report.
  std::chrono::nanoseconds scanTime{0};
};

// Analyses one fetched document: the base URL, the reading of the reply, the
// cut down to the body, then, for a page inside the site, the redirect
// target or, by document type ("html", "pdf", "ps", each only when accepted
// by the configuration), the HTML scanner or the text conversion (each on
// the document converted to Latin-1 from its character set), the keyword
// selection (its theme decision), the document's record, and the links made
// absolute. Touches no database; blocks on the converter, which runs as a
// child process for PDF and PostScript. Any thread.
[[nodiscard]] PageAnalysis analysePage(const std::string& url, std::string reply,
                                       const EngineConfig& config);

}  // namespace theme_search
