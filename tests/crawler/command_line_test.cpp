#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/config/command_line.h"

namespace {

using namespace theme_search;
using Arguments = std::vector<std::string>;

std::string joined(const Arguments& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += "[" + argument + "]";
  return text;
}

// The options as one comparable text.
std::string shown(const CrawlerOptions& options) {
  std::string text = options.polite ? "polite " : "";
  if (options.refreshDays) text += "refresh=" + std::to_string(*options.refreshDays) + " ";
  for (const std::string& url : options.startUrls) text += "start=" + url + " ";
  for (const std::string& url : options.sitemaps) text += "sitemap=" + url + " ";
  if (options.untilIdle) text += "until-idle ";
  if (options.help) text += "help ";
  if (options.version) text += "version ";
  return text;
}

TEST(CommandLine, ReadsEveryOptionInAnyOrder) {
  struct Case {
    Arguments arguments;
    std::string options;
  } cases[] = {
      {{}, ""},
      {{"--polite"}, "polite "},
      {{"--refresh", "0"}, "refresh=0 "},
      {{"--refresh", "1000000", "--polite"}, "polite refresh=1000000 "},
      {{"--refresh", "3", "--refresh", "7"}, "refresh=7 "},
      {{"--start", "http://a/", "--until-idle", "--start", "http://b/x.html"},
       "start=http://a/ start=http://b/x.html until-idle "},
      {{"--until-idle", "--refresh", "30"}, "refresh=30 until-idle "},
      {{"--sitemap", "http://a/s.xml", "--start", "http://a/", "--sitemap", "http://a/t.xml.gz"},
       "start=http://a/ sitemap=http://a/s.xml sitemap=http://a/t.xml.gz "},
      {{"--version"}, "version "},
      {{"--help", "--polite"}, "polite help "},
  };
  for (const Case& c : cases) {
    const CommandLineReading reading = readCommandLine(c.arguments);
    EXPECT_EQ(reading.error, "") << "arguments: " << joined(c.arguments);
    EXPECT_EQ(shown(reading.options), c.options) << "arguments: " << joined(c.arguments);
  }
}

// Each error names what was wrong; the first one found is the one reported.
TEST(CommandLine, NamesTheUnknownOptionOrTheBadValue) {
  struct Case {
    Arguments arguments;
    std::string error;
  } cases[] = {
      {{"--bogus"}, "crawler: unknown option: --bogus\n"},
      {{"--polite", "-x", "--bogus"}, "crawler: unknown option: -x\n"},
      {{"--until-idle=yes"}, "crawler: unknown option: --until-idle=yes\n"},
      {{"http://a/"},
       "crawler: unexpected argument: http://a/ (start URLs follow --start, or come on "
       "standard input)\n"},
      {{"--refresh"}, "crawler: --refresh needs a value\n"},
      {{"--polite", "--start"}, "crawler: --start needs a value\n"},
      {{"--refresh", "x"},
       "crawler: bad value for --refresh: \"x\" (expected a number of days, 0 to 1000000)\n"},
      {{"--refresh", "-1"},
       "crawler: bad value for --refresh: \"-1\" (expected a number of days, 0 to 1000000)\n"},
      {{"--refresh", "1000001"},
       "crawler: bad value for --refresh: \"1000001\" (expected a number of days, 0 to "
       "1000000)\n"},
      {{"--refresh", ""},
       "crawler: bad value for --refresh: \"\" (expected a number of days, 0 to 1000000)\n"},
      // An option where the URL should be is a forgotten URL, not a URL.
      {{"--start", "--until-idle"},
       "crawler: bad value for --start: \"--until-idle\" (expected a URL)\n"},
      {{"--start", ""}, "crawler: bad value for --start: \"\" (expected a URL)\n"},
      {{"--sitemap"}, "crawler: --sitemap needs a value\n"},
      {{"--sitemap", "--polite"},
       "crawler: bad value for --sitemap: \"--polite\" (expected a URL)\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(readCommandLine(c.arguments).error, c.error) << "arguments: " << joined(c.arguments);
}

}  // namespace
