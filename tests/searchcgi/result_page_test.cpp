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

TEST(ResultPage, LinksUseTheRequestsSchemeHostAndPort) {
  struct Case {
    bool https;
    std::optional<std::string> port;
    std::string base;
  } cases[] = {
      {false, std::nullopt, "http://h:8080/s"},
      {true, std::nullopt, "https://h:8080/s"},
      {false, "80", "http://h/s"},
      {true, "443", "https://h/s"},
      {false, "443", "http://h:443/s"},
      {true, "80", "https://h:80/s"},
      {false, "8081", "http://h:8081/s"},
      {false, "", "http://h/s"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(linkBase(c.https, "h", c.port, "/s"), c.base)
        << "https " << c.https << " port " << c.port.value_or("(none)");
  EXPECT_EQ(navigationLink("http://h/s", "caf%E9+-a", 2, true),
            "http://h/s?keyword=caf%E9+-a&page=2&verif=Verifier+l%27ortographe");
  EXPECT_EQ(navigationLink("http://h/s", "a", 0, false), "http://h/s?keyword=a&page=0");
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
