#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/robots_directives.h"
#include "index/page_writer.h"

namespace theme_search {

// What the analysis of one fetched document gives: what the index records
// of it, and the links the parse stage queues.
struct PageAnalysis {
  // The page's links in document order, duplicates kept; absolute unless
  // the page is a redirect from outside the site. None for a nofollow page.
  std::vector<std::string> links;
  // What PageWriter writes: for a document analysed, its type, keywords,
  // theme-word count and, on theme, its title and text, under its
  // canonical URL when it names one inside the site; only the visit for a
  // redirect, a page outside the site, a type that is not accepted or a
  // noindex page.
  PageRecord record;
  // What the page asks of crawlers: its robots metas and its X-Robots-Tag
  // headers together.
  RobotsDirectives robots;
  // The theme-word count that ranks the page's links (see linkPriority):
  // the record's, and for a noindex page the count it would have been
  // indexed with.
  int themeWordCount = 0;
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
// absolute. The robots directives then apply: noindex leaves the record
// its visit only, nofollow drops the links. The canonical link counts when,
// made absolute as links are, it lies inside the site and differs from the
// page's URL; otherwise the page is indexed under its own URL. Touches no database; blocks on the
// converter, which runs as a child process for PDF and PostScript. Any thread.
[[nodiscard]] PageAnalysis analysePage(const std::string& url, std::string reply,
                                       const EngineConfig& config);

}  // namespace theme_search
