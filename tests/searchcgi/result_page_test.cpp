#include "searchcgi/result_page.h"

#include <sstream>

#include <gtest/gtest.h>

#include "searchcgi/html_escape.h"

namespace {

using namespace theme_search;

TEST(ResultPage, EscapesMarkupButKeepsAmpersands) {
  EXPECT_EQ(htmlEscape("a<b>\"c'&d\xe9"), "a&lt;b&gt;&quot;c&#39;&d\xe9");
  EXPECT_EQ(entryLine("http://x/?a=1&b=<s>"),
            "<A HREF=\"http://x/?a=1&b=&lt;s&gt;\">http://x/?a=1&b=&lt;s&gt;</A><BR><BR>\n");
}

TEST(ResultPage, WriteLinesFlushesEveryLine) {
  // A stream buffer that records what each flush delivered.
  struct Recorder : std::stringbuf {
    std::vector<std::string> flushed;
    int sync() override {
      flushed.push_back(str());
      str("");
      return 0;
    }
  } recorder;
  std::ostream page(&recorder);
  writeLines(page, "a\nbc\n\nd");
  EXPECT_EQ(recorder.flushed, (std::vector<std::string>{"a\n", "bc\n", "\n", "d"}));
}

}  // namespace
