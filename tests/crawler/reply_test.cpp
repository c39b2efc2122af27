#include "crawler/fetch/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/url_rules.h"

namespace {

using namespace theme_search;

using namespace std::string_literals;

EngineConfig acceptingHtmlAndPdf() {
  EngineConfig config;
  config.acceptedTypes = {"html", "pdf"};
  return config;
}

struct Interpreted {
  std::string documentType;
  bool redirected = false;
  std::vector<std::string> links;
};

Interpreted interpreted(const std::string& reply, const std::string& baseUrl = "http://srv/dir") {
  const ReplyReading reading = interpretReply(reply, baseUrl);
  Interpreted result{reading.documentType, reading.redirected, {}};
  if (reading.redirectTarget) result.links.push_back(*reading.redirectTarget);
  return result;
}

TEST(EarlyReplyCheck, AcceptsOk200WithAnAcceptedTypeOrARedirect) {
  const EngineConfig config = acceptingHtmlAndPdf();
  struct Case {
    std::string reply;
    bool accepted;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n", true},
      {"HTTP/1.1 200 OK\r\nServer: x\r\nContent-Type: text/html; charset=ISO-8859-1\r\n", true},
      {"HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n\r\n%PDF", true},
      {"HTTP/1.1 302 Found\r\n", true},
      {"HTTP/1.1 302 Found\r\nContent-Type: image/gif\r\n", true},
      {"HTTP/1.1 301 Moved\r\nContent-Type: text/html\r\n", true},
      {"HTTP/1.1 303 See Other\r\n", true},
      {"HTTP/1.1 307 Temporary Redirect\r\n", true},
      {"HTTP/1.1 308 Permanent Redirect\r\n", true},
      {"HTTP/1.1 300 Multiple Choices\r\n", false},
      {"HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\n", false},
      {"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n", false},
      {"HTTP/1.1 200\r\n", false},
      {"HTTP/1.1", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(acceptReply(config, c.reply), c.accepted) << c.reply;
}

TEST(EarlyReplyCheck, ReadsContentTypeAsAHeaderLineInAnySpelling) {
  const EngineConfig config = acceptingHtmlAndPdf();
  struct Case {
    std::string header;
    bool accepted;
  } cases[] = {
      {"CONTENT-TYPE: text/html", true},
      {"content-type: text/html", true},
      {"Content-Type:text/html", true},
      {"Content-Type:\ttext/html;\t", true},
      {"Content-Type :  text/html  ", true},
      {"Content-Type: text/HTML", true},
      {"Content-Type: TEXT/html; charset=ISO-8859-1", true},
      {"Content-Type: text/html;charset=UTF-8", true},
      {"Content-Type: text/html ; charset=\"utf-8\"", true},
      {"Content-Type: text/html charset=utf-8", true},
      {"Content-Type: Application/PDF", true},
      {"Content-Type: html", true},
      // The sub-type is the whole token, never a part or a parameter.
      {"Content-Type: text/htmlx", false},
      {"Content-Type: image/gif; x=html", false},
      {"Content-Type: application/postscript", false},
      // The first Content-Type line with a value counts.
      {"Content-Type: text/plain\r\nContent-Type: text/html", false},
      {"Content-Type:\r\nContent-Type: text/html", true},
      // A line that begins with a blank continues the value.
      {"Content-Type:\r\n  text/html", true},
      // Only a header line's name is a header name.
      {"X-Note: content-type: text/html", false},
      {"X-Content-Type: text/html", false},
      {"Content-Type text/html", false},
      {"Content-Type:", false},
      {"Server: x", false},
  };
  for (const Case& c : cases) {
    const std::string reply = "HTTP/1.1 200 OK\r\n" + c.header + "\r\n";
    EXPECT_EQ(acceptReply(config, reply), c.accepted) << c.header;
  }
}

TEST(EarlyReplyCheck, ReadsNoHeaderPastTheEmptyLine) {
  const EngineConfig config = acceptingHtmlAndPdf();
  struct Case {
    std::string reply;
    bool accepted;
  } cases[] = {
      {"HTTP/1.1 200 OK\nServer: x\nContent-Type: text/html\n\n<html>", true},
      {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\nContent-Type: text/html\r\n", false},
      {"HTTP/1.1 200 OK\nServer: x\n\nContent-Type: text/html\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\nContent-Type: text/html\r\n", false},
      {"HTTP/1.1 200 OK\r\n\r\n\r\nContent-Type: text/html\r\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(acceptReply(config, c.reply), c.accepted) << c.reply;
}

TEST(EarlyReplyCheck, ComparesTheConfiguredTypesWithoutLetterCase) {
  EngineConfig config;
  config.acceptedTypes = {"HTML", "Pdf"};
  for (const std::string type : {"text/html", "TEXT/HTML", "application/pdf", "application/PDF"})
    EXPECT_TRUE(acceptReply(config, "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n")) << type;
  EXPECT_FALSE(acceptReply(config, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"));
  EXPECT_TRUE(config.isAcceptedType("html"));
  EXPECT_TRUE(config.isAcceptedType("PDF"));
  EXPECT_FALSE(config.isAcceptedType("htm"));
  EXPECT_FALSE(config.isAcceptedType("htmll"));
}

TEST(EarlyReplyCheck, NamesWhyAReplyIsRefused) {
  const EngineConfig config = acceptingHtmlAndPdf();
  struct Case {
    std::string reply, reason;
  } cases[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n", "status 404"},
      {"HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n", "content type image/gif not accepted"},
      {"HTTP/1.1 200 OK\r\nContent-Type:image/gif\r\n", "content type image/gif not accepted"},
      {"HTTP/1.1 200 OK\r\ncontent-type: IMAGE/Gif;charset=x\r\n",
       "content type IMAGE/Gif not accepted"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain;\r\n", "content type text/plain not accepted"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain ; charset=utf-8\r\n",
       "content type text/plain not accepted"},
      {"HTTP/1.1 200 OK\r\n\r\n", "no content type"},
      {"HTTP/1.1 200 OK\r\nContent-Type:  \r\n", "no content type"},
      {"HTTP/1.1 200 OK\r\n\r\nContent-Type: text/html\r\n", "no content type"},
      {"HTTP/1.1", "no status line"},
      {"\r\nHTTP/1.1 200 OK\r\nContent-Type: text/html\r\n", "no status line"},
  };
  for (const Case& c : cases) EXPECT_EQ(refusalReason(config, c.reply), c.reason) << c.reply;
}

TEST(ReplyReading, TypesA200ReplyByItsLowerCasedSubType) {
  struct Case {
    std::string reply, documentType;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>", "html"},
      {"HTTP/1.0 200 OK\r\nContent-Type: text/HTML; charset=x\r\n\r\n", "html"},
      {"HTTP/1.1 200 OK\r\ncontent-TYPE: Application/PDF\r\n\r\n", "pdf"},
      {"HTTP/1.1 200 OK\r\nContent-Type: application/postscript\r\n\r\n", "postscript"},
      {"HTTP/1.1 200 OK\r\nContent-Type:text/html\r\n\r\n", "html"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html;charset=UTF-8\r\n\r\n", "html"},
      {"HTTP/1.1 200 OK\r\nContent-Type: TEXT/html; charset=ISO-8859-1\r\n\r\n", "html"},
      {"HTTP/1.1 200 OK\nContent-Type: text/html ; charset=\"utf-8\"\n\n", "html"},
      {"HTTP/1.1 200 OK\r\nContent-Type: PS\r\n\r\n", "ps"},
      {"HTTP/1.1 200 OK\r\n\r\nContent-Type: text/html\r\n", ""},
      {"HTTP/1.1 200 OK\r\n\r\n<html>", ""},
      {"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n", "bad"},
      {"HTTP/1.1 304 Not Modified\r\nLocation: /x\r\n\r\n", "bad"},
      {"", "bad"},
  };
  for (const Case& c : cases) {
    const Interpreted result = interpreted(c.reply);
    EXPECT_EQ(result.documentType, c.documentType) << c.reply;
    EXPECT_FALSE(result.redirected) << c.reply;
    EXPECT_TRUE(result.links.empty()) << c.reply;
  }
}

// Every X-Robots-Tag line of a 200 reply counts (name in any case, folded
// lines joined); lines for another crawler, lines past the header block and
// the headers of any other status do not.
TEST(ReplyReading, CombinesTheXRobotsTagHeadersOfA200Reply) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
  struct Case {
    std::string reply;
    bool noindex, nofollow;
  } cases[] = {
      {ok + "X-Robots-Tag: noindex\r\n\r\n", true, false},
      {ok + "x-robots-tag:NOFOLLOW\r\n\r\n", false, true},
      {ok + "X-Robots-Tag: otherbot: none\r\nX-ROBOTS-TAG: nofollow\r\n"
            "X-Robots-Tag: ThemeSearchCrawler: noindex\r\n\r\n",
       true, true},
      {ok + "X-Robots-Tag: all,\r\n  noindex\r\n\r\n", true, false},
      {ok + "X-Robots-Tag: otherbot: noindex\r\nX-Robots-Tags: none\r\n\r\n", false, false},
      {ok + "\r\nX-Robots-Tag: none\r\n", false, false},
      {"HTTP/1.1 302 Found\r\nLocation: /x\r\nX-Robots-Tag: none\r\n\r\n", false, false},
      {"HTTP/1.1 404 Not Found\r\nX-Robots-Tag: none\r\n\r\n", false, false},
  };
  for (const Case& c : cases) {
    const ReplyReading reading = interpretReply(c.reply, "http://srv/dir");
    EXPECT_EQ(reading.robots.noindex, c.noindex) << c.reply;
    EXPECT_EQ(reading.robots.nofollow, c.nofollow) << c.reply;
  }
}

TEST(ReplyReading, TurnsARedirectTargetIntoOneLinkKeepingItsCase) {
  struct Case {
    std::string baseUrl, location, link;
  } cases[] = {
      {"http://srv/dir", "Location: /new/page.html", "http://srv/new/page.html"},
      {"http://srv/dir", "Location: /Docs/A.html", "http://srv/Docs/A.html"},
      {"http://srv/dir", "Location: page.html", "http://srv/dir/page.html"},
      {"http://srv/dir", "location: Page.HTML", "http://srv/dir/Page.HTML"},
      {"http://srv/dir", "LOCATION: HTTP://Other.lan:80/A.html", "http://other.lan/A.html"},
      {"http://srv/dir", "Location: https://Other.lan/A/", "https://other.lan/A/"},
      {"https://srv:8443/dir", "Location: /A.html", "https://srv:8443/A.html"},
      {"https://srv/dir", "Location: //Mirror.lan/A.html", "https://mirror.lan/A.html"},
      {"http://srv/dir", "Location:/new/page.html", "http://srv/new/page.html"},
      {"http://srv/dir", "location:\tpage.html\t", "http://srv/dir/page.html"},
      {"http://srv/dir", "X-Location: /wrong.html\r\nLocation: /right.html",
       "http://srv/right.html"},
      {"http://srv/dir", "Location:\r\nLocation: /second.html", "http://srv/second.html"},
      {"http://srv/dir/", "Location: page.html", "http://srv/dir//page.html"},
      {"http://srv/dir/", "Location: /page.html", "http://srv/page.html"},
  };
  for (const char* status : {"301 Moved Permanently", "302 Found", "303 See Other",
                             "307 Temporary Redirect", "308 Permanent Redirect"}) {
    for (const Case& c : cases) {
      const Interpreted result = interpreted(
          "HTTP/1.1 " + std::string(status) + "\r\n" + c.location + "\r\n\r\n", c.baseUrl);
      EXPECT_TRUE(result.redirected) << status << " " << c.location;
      EXPECT_EQ(result.documentType, "") << status << " " << c.location;
      EXPECT_EQ(result.links, std::vector<std::string>{c.link}) << status << " " << c.location;
    }
  }
}

TEST(ReplyReading, TakesTheCharsetOfTheContentTypeHeader) {
  struct Case {
    std::string header, charset;
  } cases[] = {
      {"Content-Type: text/html; charset=UTF-8", "utf-8"},
      {"content-type: text/html;charset=\"ISO-8859-1\"", "iso-8859-1"},
      {"Content-Type:text/html; Charset=windows-1252; x=y", "windows-1252"},
      {"Content-Type: text/html;charset=UTF-8", "utf-8"},
      {"Content-Type: text/html ; charset=\"utf-8\"", "utf-8"},
      {"Content-Type: text/html; CHARSET = Latin1 ;x=y", "latin1"},
      {"Content-Type: text/html; charset='UTF-8'", "utf-8"},
      {"Content-Type: text/html; charset=\"utf\\-8\"; x=\"a", "utf-8"},
      // Only a parameter named charset counts, wherever it stands.
      {"Content-Type: text/html; xcharset=koi8-r; charset=utf-8", "utf-8"},
      {"Content-Type: text/html; title=\"a;charset=koi8-r\"; charset=utf-8", "utf-8"},
      {"Content-Type: text/html; title=\"a;charset=koi8-r\"", ""},
      {"Content-Type: text/html; charset", ""},
      {"Content-Type: text/html", ""},
      {"X-Charset: charset=utf-8", ""},
      {"Content-Type: text/html\r\nContent-Type: text/html; charset=koi8-r", ""},
  };
  for (const Case& c : cases) {
    const std::string reply = "HTTP/1.1 200 OK\r\n" + c.header + "\r\n\r\ncharset=koi8-r";
    EXPECT_EQ(interpretReply(reply, "http://srv").charset, c.charset) << c.header;
    EXPECT_EQ(contentTypeCharset(reply), c.charset) << c.header;
  }
}

// Only 404 and 410 say a page is gone; the status is read from the status
// line alone.
TEST(ReplyReading, TellsAPageThatIsGone) {
  for (const char* gone : {"HTTP/1.1 404 Not Found\r\n", "HTTP/2 410\r\n", "HTTP/1.0 404\n\nbody"})
    EXPECT_TRUE(isGoneReply(gone)) << gone;
  for (const char* other : {"HTTP/1.1 200 OK\r\n", "HTTP/1.1 4040 x\r\n", "HTTP/1.1 500\r\n", "",
                            "404 HTTP/1.1 200\r\n", "HTTP/1.1 200 OK\r\n\r\nHTTP/1.1 404\r\n"})
    EXPECT_FALSE(isGoneReply(other)) << other;
}

TEST(ReplyReading, A302WithoutTargetGivesNoLink) {
  for (const std::string reply :
       {"HTTP/1.1 302 Found\r\n\r\n", "HTTP/1.1 302 Found\r\nLocation:\r\n",
        "HTTP/1.1 302 Found\r\nLocation: \t \r\n\r\n", "HTTP/1.1 302 Found\r\nX-Location: /x\r\n",
        "HTTP/1.1 302 Found\r\n\r\nLocation: /x.html\r\n"}) {
    const Interpreted result = interpreted(reply);
    EXPECT_TRUE(result.redirected) << reply;
    EXPECT_TRUE(result.links.empty()) << reply;
  }
}

TEST(ReplyReading, RedirectFromADirectoryPageKeepsItsDoubledSlash) {
  std::string url = "http://srv/dir/";
  std::string baseUrl = computeBase(url);
  std::vector<std::string> links =
      interpreted("HTTP/1.1 302 Found\r\nLocation: page.html\r\n\r\n", baseUrl).links;
  normalizeLinks(baseUrl, links);
  // The entry's last '/' follows another '/', so it also gets a final '/'.
  EXPECT_EQ(links, std::vector<std::string>{"http://srv/dir//page.html/"});
}

TEST(HeaderRemoval, KeepsWhatFollowsTheFirstBlankLine) {
  struct Case {
    std::string reply, body;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nA: b\r\n\r\n<html>", "<html>"},
      {"H\r\n\r\nbody\r\n\r\nmore", "body\r\n\r\nmore"},
      {"H\r\n\r\n", ""},
      {"H\n\nbody", "body"},
      {"H\r\n\r\nbody\n\nmore", "body\n\nmore"},
      {"H\n\nfirst\r\n\r\nsecond", "second"},
      {"HTTP/1.1 200 OK\r\nA: b\r\n", ""},
      {"", ""},
      {"H\r\n\r\n%PDF\0\0\x01\0"s, "%PDF\0\0\x01\0"s},
  };
  for (Case c : cases) {
    const std::string original = c.reply;
    removeHeader(c.reply);
    EXPECT_EQ(c.reply, c.body) << "reply: " << original;
  }
}

}  // namespace
