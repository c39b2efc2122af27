#include "common/text.h"

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

TEST(LowerCase, ChangesOnlyAsciiCapitalsInPlace) {
  std::string text = "HTTP://Srv.LAN/A-Z@[`{ \xC0\xC9\xE9";
  std::string& same = toLower(text);
  EXPECT_EQ(&same, &text);
  EXPECT_EQ(text, "http://srv.lan/a-z@[`{ \xC0\xC9\xE9");
}

}  // namespace
