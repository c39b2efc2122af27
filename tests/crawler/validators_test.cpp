#include "crawler/fetch/validators.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace theme_search;

const std::string kDate = "Tue, 15 Nov 1994 12:45:26 GMT";

TEST(Validators, KeepsASafeValueOfA200ReplyByteForByte) {
  struct Case {
    std::string name, reply, etag, lastModified;
  } cases[] = {
      {"both, odd bytes kept",
       "HTTP/1.1 200 OK\r\nETag:  W/\"x;  y\xe9\t1\" \r\nLast-Modified: " + kDate + "\r\n\r\nbody",
       "W/\"x;  y\xe9\t1\"", kDate},
      {"names in any case", "HTTP/1.0 200 OK\nETAG: \"a\"\nlast-modified: " + kDate + "\n\n",
       "\"a\"", kDate},
      {"the first line of a name", "HTTP/1.1 200 OK\r\nETag: \"1\"\r\nETag: \"2\"\r\n\r\n", "\"1\"",
       ""},
      {"a folded value joined", "HTTP/1.1 200 OK\r\nETag: \"a\r\n b\"\r\n\r\n", "\"a b\"", ""},
      {"none", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "", ""},
      {"not a 200", "HTTP/1.1 304 Not Modified\r\nETag: \"a\"\r\n\r\n", "", ""},
      {"a redirect", "HTTP/1.1 301 Moved\r\nETag: \"a\"\r\nLocation: /b\r\n\r\n", "", ""},
      // A carriage return inside a line would end the header line in the
      // next request and start one of the server's choosing.
      {"bare CR",
       "HTTP/1.1 200 OK\r\nETag: \"a\"\rX-Evil: 1\r\nLast-Modified: " + kDate + "\r\n\r\n", "",
       kDate},
      {"NUL", std::string("HTTP/1.1 200 OK\r\nETag: \"a\0b\"\r\n\r\n", 30), "", ""},
      {"too long", "HTTP/1.1 200 OK\r\nETag: \"" + std::string(254, 'e') + "\"\r\n\r\n", "", ""},
      {"longest kept", "HTTP/1.1 200 OK\r\nETag: \"" + std::string(253, 'e') + "\"\r\n\r\n",
       "\"" + std::string(253, 'e') + "\"", ""},
  };
  for (const Case& c : cases) {
    const PageValidators validators = replyValidators(c.reply);
    EXPECT_EQ(validators.etag, c.etag) << c.name;
    EXPECT_EQ(validators.lastModified, c.lastModified) << c.name;
  }
}

TEST(Validators, ConditionalLinesCarryOnlySafeValues) {
  EXPECT_EQ(conditionalHeaders({"\"a\"", kDate}),
            (std::vector<std::string>{"If-None-Match: \"a\"", "If-Modified-Since: " + kDate}));
  EXPECT_EQ(conditionalHeaders({"", kDate}),
            std::vector<std::string>{"If-Modified-Since: " + kDate});
  EXPECT_EQ(conditionalHeaders({"\"a\"", ""}), std::vector<std::string>{"If-None-Match: \"a\""});
  EXPECT_TRUE(conditionalHeaders({}).empty());
  // Values from elsewhere than a reply (an index written by hand) are
  // checked again.
  EXPECT_TRUE(conditionalHeaders({"\"a\"\r\nX-Evil: 1", "Tue\n"}).empty());
  EXPECT_TRUE(conditionalHeaders({std::string(256, 'e'), "\x7f"}).empty());
}

}  // namespace
