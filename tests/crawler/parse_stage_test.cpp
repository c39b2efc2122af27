#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "crawler/pipeline/crawl_log.h"
#include "crawler/pipeline/parse_stage.h"

namespace {

using namespace theme_search;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

std::string shown(std::optional<std::int32_t> priority) {
  return priority ? std::to_string(*priority) : "refused";
}

TEST(LinkPriority, OnThemeCountFirstThenOneStepDownUntilBelowMinusMaxDepth) {
  struct Case {
    int themeWordCount;
    std::int32_t pagePriority, maxDepth;
    std::optional<std::int32_t> expected;
  } cases[] = {
      // An on-theme page passes its count on, whatever its own priority.
      {3, -5, 0, 3},
      {1, 7, 2, 1},
      // An off-theme chain from a console URL with depth 2: 0, -1, -2, -3
      // are all analysed; the links of the page at -3 are refused.
      {0, 0, 2, -1},
      {0, -2, 2, -3},
      {0, -3, 2, std::nullopt},
      {0, 0, 0, -1},
      {0, -1, 0, std::nullopt},
      // A negative depth refuses the links of pages below its negation.
      {0, 2, -3, std::nullopt},
      {0, 3, -3, 2},
      // The extremes of the configured depth.
      {0, kMax, kMin, std::nullopt},
      {0, 0, kMin, std::nullopt},
      {0, -kMax, kMax, kMin},
      {0, kMin, kMax, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shown(linkPriority(c.themeWordCount, c.pagePriority, c.maxDepth)), shown(c.expected))
        << "themeWordCount " << c.themeWordCount << ", page priority " << c.pagePriority
        << ", maxDepth " << c.maxDepth;
  }
}

TEST(ParseLine, PriorityGluedToParseThenBlankAndUrl) {
  EXPECT_EQ(parseLine(0, "http://srv/a.html"), "PARSE0 http://srv/a.html\n");
  EXPECT_EQ(parseLine(-12, "http://srv/a.html"), "PARSE-12 http://srv/a.html\n");
  EXPECT_EQ(parseLine(3, ""), "PARSE3 \n");
}

}  // namespace
