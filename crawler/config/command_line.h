#pragma once

#include <optional>
#include <string>
#include <vector>

namespace theme_search {

// What the crawler's command line asks for. A plain value.
struct CrawlerOptions {
  // --polite: robots.txt, a delay between requests to one host, a User-Agent.
  bool polite = false;
  // --refresh DAYS: fetch again the site's pages analysed that long ago.
  std::optional<unsigned> refreshDays;
  // --start URL, in the order given: queued before anything else is read.
  std::vector<std::string> startUrls;
  // --sitemap URL, in the order given: sitemaps whose pages seed the crawl.
  std::vector<std::string> sitemaps;
  // --until-idle: standard input is not read; the run ends once nothing is
  // queued or in flight (or at SIGINT or SIGTERM).
  bool untilIdle = false;
  // --help and --version: print and end.
  bool help = false;
  bool version = false;
};

// The options read, or the reason they could not be: one whole line that
// names the unknown option or the bad value (empty when the line was read).
struct CommandLineReading {
  CrawlerOptions options;
  std::string error;
};

// Reads the arguments after the program name. Every option is read, in any
// order; --start and --sitemap may be given several times, and a later --refresh replaces
// an earlier one. An unknown option, an argument that is not an option, an
// option without its value and a bad value are errors; the first one found
// is reported. Pure.
[[nodiscard]] CommandLineReading readCommandLine(const std::vector<std::string>& arguments);

// The usage text, several whole lines.
[[nodiscard]] const char* crawlerUsage();

// The number of days of --refresh: decimal digits only, at most 1,000,000.
[[nodiscard]] std::optional<unsigned> dayCount(const std::string& text);

}  // namespace theme_search
