#include "crawler/config/command_line.h"

namespace theme_search {

namespace {

const char kUsage[] =
    "usage: crawler [--polite] [--refresh DAYS] [--start URL]... [--sitemap URL]...\n"
    "               [--until-idle]\n"
    "       crawler --help | --version\n"
    "  --polite          obey each host's robots.txt, wait between requests to one\n"
    "                    host (its Crawl-delay, else 1 s) and send a User-Agent\n"
    "  --refresh DAYS    fetch again the site's pages analysed DAYS days ago or\n"
    "                    more, and replace what the index holds for them\n"
    "  --start URL       queue URL as a start URL (may be repeated)\n"
    "  --sitemap URL     queue the site's pages that the sitemap (or index of\n"
    "                    sitemaps) at URL lists (may be repeated)\n"
    "  --until-idle      batch mode: do not read standard input, and end with\n"
    "                    status 0 once nothing is queued or being fetched or parsed\n"
    "  --version         print the program's name and version\n"
    "Without --until-idle, start URLs are also read from standard input; \"exit\",\n"
    "the end of the input, SIGINT or SIGTERM ends the crawl and saves its queue\n"
    "for the next run. While work is queued, a PROGRESS line every 5 s.\n"
    "Exit status: 0 done, 1 failure while running, 2 bad option or configuration\n"
    "(or, with --until-idle, no index database at start).\n"
    "SE_CA_FILE names a PEM file of certificates trusted besides the system's.\n";

std::string badValue(const std::string& option, const std::string& value,
                     const std::string& expected) {
  return "crawler: bad value for " + option + ": \"" + value + "\" (expected " + expected + ")\n";
}

}  // namespace

const char* crawlerUsage() {
  return kUsage;
}

std::optional<unsigned> dayCount(const std::string& text) {
  if (text.empty()) return std::nullopt;
  unsigned long days = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return std::nullopt;
    days = days * 10 + static_cast<unsigned>(digit - '0');
    if (days > 1000000) return std::nullopt;
  }
  return static_cast<unsigned>(days);
}

CommandLineReading readCommandLine(const std::vector<std::string>& arguments) {
  CommandLineReading reading;
  CrawlerOptions& options = reading.options;
  for (std::size_t i = 0; i < arguments.size() && reading.error.empty(); ++i) {
    const std::string& argument = arguments[i];
    const bool takesValue =
        argument == "--refresh" || argument == "--start" || argument == "--sitemap";
    if (takesValue && i + 1 == arguments.size()) {
      reading.error = "crawler: " + argument + " needs a value\n";
    } else if (argument == "--refresh") {
      options.refreshDays = dayCount(arguments[++i]);
      if (!options.refreshDays)
        reading.error = badValue(argument, arguments[i], "a number of days, 0 to 1000000");
    } else if (argument == "--start" || argument == "--sitemap") {
      if (arguments[++i].empty() || arguments[i][0] == '-')
        reading.error = badValue(argument, arguments[i], "a URL");
      else
        (argument == "--start" ? options.startUrls : options.sitemaps).push_back(arguments[i]);
    } else if (argument == "--polite") {
      options.polite = true;
    } else if (argument == "--until-idle") {
      options.untilIdle = true;
    } else if (argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (!argument.empty() && argument[0] == '-') {
      reading.error = "crawler: unknown option: " + argument + "\n";
    } else {
      reading.error = "crawler: unexpected argument: " + argument +
                      " (start URLs follow --start, or come on standard input)\n";
    }
  }
  return reading;
}

}  // namespace theme_search
