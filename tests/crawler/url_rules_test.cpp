#include "crawler/fetch/url_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crawler/config/engine_config.h"

namespace {

using namespace theme_search;

const char* const kRemoved = "<removed>";

EngineConfig siteConfig(const std::string& host, const std::string& path) {
  EngineConfig config;
  config.siteHost = host;
  config.sitePath = path;
  return config;
}

// Normalises one link on its own; kRemoved when it is dropped.
std::string normalizedOne(std::string baseUrl, const std::string& link) {
  std::vector<std::string> links{link};
  normalizeLinks(baseUrl, links);
  if (links.empty()) return kRemoved;
  EXPECT_EQ(links.size(), 1u) << "link: " << link;
  return links.front();
}

TEST(SiteUrl, SplitsHostAndPathAfterTheScheme) {
  struct Case {
    std::string url, host, path;
  } cases[] = {
      {"http://srv.lan/docs/", "srv.lan", "docs/"},
      {"http://srv.lan/docs/a.html", "srv.lan", "docs/a.html"},
      {"http://srv.lan", "srv.lan", ""},
      {"http://srv.lan/", "srv.lan", ""},
      {"http://srv//x", "srv", "/x"},
      // The first seven characters go whatever they are.
      {"ftp://xsrv/x", "srv", "x"},
      {"HTTP://Srv/X", "srv", "X"},
      {"https://Srv:443/Docs/", "srv", "Docs/"},
      {"http://srv:8080/docs/", "srv:8080", "docs/"},
      // Shorter than the scheme: padded, so nothing of the value is lost.
      {"srv", "srv", ""},
      {"a/b", "a", "b"},
      {"a/", "a", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hostPart(c.url), c.host) << "url: " << c.url;
    EXPECT_EQ(pathPart(c.url), c.path) << "url: " << c.url;
  }
}

TEST(SiteScope, HostMatchesFromItsEndAtALabelBoundary) {
  const EngineConfig config = siteConfig("srv.lan", "");
  struct Case {
    std::string url;
    bool inScope;
  } cases[] = {
      {"http://srv.lan/", true},
      {"http://srv.lan", true},
      {"http://a.b.srv.lan/x.html", true},
      {"http://xsrv.lan/", false},
      {"http://srv.lan.net/", false},
      {"http://SRV.lan/", false},
      {"http://lan/", false},
      {"http://other.lan/srv.lan", false},
      // A URL shorter than the scheme has no host at all.
      {"srv", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(config.inScope(c.url), c.inScope) << "url: " << c.url;
}

TEST(SiteScope, PathIsExactUnlessTheSitePathEndsInASlash) {
  struct Case {
    std::string sitePath, url;
    bool inScope;
  } cases[] = {
      {"docs/", "http://srv/docs/", true},        {"docs/", "http://srv/docs/a/b.html", true},
      {"docs/", "http://srv/docs", false},        {"docs/", "http://srv/", false},
      {"docs/", "http://srv/other/docs/", false}, {"docs", "http://srv/docs", true},
      {"docs", "http://srv/docs/", false},        {"docs", "http://srv/docs/a.html", false},
      {"docs", "http://srv/docsx", false},        {"docs", "http://srv/doc", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(siteConfig("", c.sitePath).inScope(c.url), c.inScope)
        << "sitePath: " << c.sitePath << " url: " << c.url;
  }
}

TEST(SiteScope, NeedsBothTestsAndAcceptsAllWithoutASite) {
  const EngineConfig site = siteConfig("srv", "docs/");
  EXPECT_TRUE(site.inScope("http://srv/docs/a.html"));
  EXPECT_FALSE(site.inScope("http://other/docs/a.html"));
  EXPECT_FALSE(site.inScope("http://srv/img/a.gif"));

  const EngineConfig anywhere = siteConfig("", "");
  for (const std::string url : {"http://any.host/any/path", "file:/etc/x", "", "x"})
    EXPECT_TRUE(anywhere.inScope(url)) << "url: " << url;
}

TEST(BaseUrl, DropsAFileNameAndKeepsADirectory) {
  struct Case {
    std::string url, base;
  } cases[] = {
      {"http://srv/dir/page.html", "http://srv/dir"},
      {"http://srv/dir/sub", "http://srv/dir/sub"},
      {"http://srv/dir/", "http://srv/dir/"},
      {"http://Srv/Dir/a.html", "http://Srv/Dir"},
      {"http://srv/dir//a.html", "http://srv/dir"},
      // Only the segment up to a space counts; a space right after the
      // last '/' drops that run of slashes.
      {"http://srv/dir/a.html x", "http://srv/dir"},
      {"http://srv/dir/sub x.y", "http://srv/dir/sub"},
      {"http://srv/dir/ x", "http://srv/dir"},
      {"http://srv/dir.d/sub", "http://srv/dir.d/sub"},
  };
  for (Case c : cases) EXPECT_EQ(computeBase(c.url), c.base) << "url: " << c.url;
}

TEST(BaseUrl, UrlWithoutPathIsItsOwnBaseInLowerCase) {
  struct Case {
    std::string url, base;
  } cases[] = {
      {"http://Srv", "http://srv"},
      {"HTTP://SRV.lan", "http://srv.lan"},
      {"http://Srv more", "http://srv"},
      // A doubled slash elsewhere lower-cases the base too.
      {"http://Srv/X//a.html", "http://srv/x"},
      // A single '/' before the last one does not.
      {"HTTP://SRV/", "HTTP://SRV/"},
  };
  for (Case c : cases) EXPECT_EQ(computeBase(c.url), c.base) << "url: " << c.url;
}

TEST(BaseUrl, OddUrlsAreTheirOwnBaseAndLoseLeadingSpaces) {
  struct Case {
    std::string url, base, trimmedUrl;
  } cases[] = {
      {"   http://srv/dir/a.html", "http://srv/dir", "http://srv/dir/a.html"},
      {"  srv.lan", "srv.lan", "srv.lan"},
      {"srv", "srv", "srv"},
      {"", "", ""},
      {"   ", "", ""},
      {"/", "/", "/"},
      {" //", "//", "//"},
      {"/////", "/////", "/////"},
      {"///////", "///////", "///////"},
      {"/a.html", "/", "/a.html"},
  };
  for (Case c : cases) {
    const std::string original = c.url;
    EXPECT_EQ(computeBase(c.url), c.base) << "url: '" << original << "'";
    EXPECT_EQ(c.url, c.trimmedUrl) << "url: '" << original << "'";
  }
}

TEST(LinkNormalisation, MakesLinksAbsoluteAgainstTheBase) {
  struct Case {
    std::string link, result;
  } cases[] = {
      {"a.html", "http://srv/dir/a.html"},
      {"sub", "http://srv/dir/sub/"},
      {"sub/", "http://srv/dir/sub/"},
      {"/img/x.gif", "http://srv/img/x.gif"},
      {"  /img/x.gif", "http://srv/img/x.gif"},
      {"//img/x.gif", "http://img/x.gif"},
      {"www2.lan/a.html", "http://www2.lan/a.html"},
      {"WWW.lan", "http://www.lan/"},
      {"http://other.lan/x.html", "http://other.lan/x.html"},
      {"http://other.lan/", "http://other.lan/"},
      {"http://other.lan", "http://other.lan/"},
      {"HTTP://Other.lan/Doc", "http://other.lan/Doc/"},
      {"https://Other.lan:443/A.html", "https://other.lan/A.html"},
      {"file:/tmp/x.txt", "file:/tmp/x.txt"},
      {"a b.html  ", "http://srv/dir/a b.html"},
      {"a\r\n\tb.html", "http://srv/dir/ab.html"},
      {"./a.html", "http://srv/dir/a.html"},
      {"../a.html", "http://srv/a.html"},
      {"a#b/c.html", "http://srv/dir/a#b/c.html"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalizedOne("http://srv/dir", c.link), c.result) << "link: " << c.link;
}

TEST(LinkNormalisation, TakesTheLastEmbeddedAbsoluteUrl) {
  struct Case {
    std::string link, result;
  } cases[] = {
      {"http://srv/cgi?u=http://other.lan/x.html", "http://other.lan/x.html"},
      {"/go?to=HTTP://Other.lan/A.html", "http://other.lan/A.html"},
      {"/go?a=http://one.lan/x.html&b=http://two.lan/y.html", "http://two.lan/y.html"},
      {"x?u=file:/etc/p.txt", "file:/etc/p.txt"},
      {"go?https://x.lan/a.html", "https://x.lan/a.html"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalizedOne("http://srv/dir", c.link), c.result) << "link: " << c.link;
}

TEST(LinkNormalisation, DropsFragmentsForeignSchemesAndDeadEnds) {
  for (const std::string link :
       {"page.html#top", "#top", "dir/#x", "/dir/#x", "ftp://srv/f", "MAILTO:someone", "mailto:a@b",
        "javascript:void(0)", "JavaScript:go()", "../../a.html"}) {
    EXPECT_EQ(normalizedOne("http://srv/dir", link), kRemoved) << "link: " << link;
  }
}

TEST(LinkNormalisation, EmptyAndDotLinksGetADoubledSlash) {
  struct Case {
    std::string link, result;
  } cases[] = {
      {"", "http://srv/dir//"},
      {"  / /", "http://srv/dir//"},
      {"./", "http://srv/dir//"},
      {"../", "http://srv//"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalizedOne("http://srv/dir", c.link), c.result) << "link: '" << c.link << "'";
  // A lone "." is a name with a dot: no directory slash.
  EXPECT_EQ(normalizedOne("http://srv/dir", "."), "http://srv/dir/.");
}

TEST(LinkNormalisation, BoundsTheLinkAfterItsLeadingSlashes) {
  const std::string name200(200, 'a');
  EXPECT_EQ(normalizedOne("http://srv", name200), "http://srv/" + name200 + "/");
  EXPECT_EQ(normalizedOne("http://srv", " /" + name200), "http://srv/" + name200 + "/");
  EXPECT_EQ(normalizedOne("http://srv", name200 + "a"), kRemoved);
  const std::string url200 = "http://srv/" + std::string(184, 'b') + ".html";
  ASSERT_EQ(url200.size(), 200u);
  EXPECT_EQ(normalizedOne("http://srv", url200), url200);
  EXPECT_EQ(normalizedOne("http://srv", url200 + "l"), kRemoved);
}

TEST(LinkNormalisation, TrimsTheBaseAndKeepsTheOrderOfTheRest) {
  std::string baseUrl = "http://srv/dir// ";
  std::vector<std::string> links{"a.html", "#top", "b.html", "mailto:x", "c/"};
  normalizeLinks(baseUrl, links);
  EXPECT_EQ(baseUrl, "http://srv/dir");
  EXPECT_EQ(links, (std::vector<std::string>{"http://srv/dir/a.html", "http://srv/dir/b.html",
                                             "http://srv/dir/c/"}));

  // The base keeps its first character whatever it is.
  std::string slashOnly = "///";
  std::vector<std::string> none;
  normalizeLinks(slashOnly, none);
  EXPECT_EQ(slashOnly, "/");
}

TEST(LinkNormalisation, RootedAndSchemeRelativeLinksFollowThePage) {
  struct Case {
    std::string baseUrl, link, result;
  } cases[] = {
      {"http://srv/dir", "/", "http://srv/"},
      {"http://srv/dir", "/Img/X.gif", "http://srv/Img/X.gif"},
      {"http://srv/dir", "/docs", "http://srv/docs/"},
      {"http://srv/dir", "/../a.html", kRemoved},
      {"http://srv/dir", "/./a.html", "http://srv/a.html"},
      {"https://srv:8443/dir/sub", "/a.html", "https://srv:8443/a.html"},
      {"https://srv/dir", "//Cdn.lan/x.js", "https://cdn.lan/x.js"},
      {"http://srv:8080/dir", "//cdn.lan:80/x.js", "http://cdn.lan/x.js"},
      {"https://srv/dir", "a.html", "https://srv/dir/a.html"},
      {"https://srv/dir", "../a.html", "https://srv/a.html"},
      {"https://srv/dir", "http://Srv:80/", "http://srv/"},
      // A base that is no web URL keeps the old directory rule.
      {"file:/tmp/dir", "/a.html", "file:/tmp/dir/a.html"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(normalizedOne(c.baseUrl, c.link), c.result)
        << "baseUrl: " << c.baseUrl << " link: " << c.link;
}

TEST(CanonicalUrl, LowerCasesSchemeAndHostAndDropsTheDefaultPort) {
  struct Case {
    std::string url, canonical, origin;
  } cases[] = {
      {"HTTP://Srv.LAN/Docs/A.html", "http://srv.lan/Docs/A.html", "http://srv.lan"},
      {"http://srv:80/x", "http://srv/x", "http://srv"},
      {"https://srv:443/x", "https://srv/x", "https://srv"},
      {"https://srv:80/x", "https://srv:80/x", "https://srv:80"},
      {"http://srv:8080", "http://srv:8080", "http://srv:8080"},
      {"http://srv:443/", "http://srv:443/", "http://srv:443"},
      {"HtTpS://SRV", "https://srv", "https://srv"},
      {"http://srv/A:80/", "http://srv/A:80/", "http://srv"},
      {"file:/Tmp/X", "file:/Tmp/X", ""},
      {"ftp://Srv/", "ftp://Srv/", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(canonicalUrl(c.url), c.canonical) << "url: " << c.url;
    EXPECT_EQ(originOf(canonicalUrl(c.url)), c.origin) << "url: " << c.url;
  }
}

TEST(SiteScope, HttpAndHttpsAreOneSiteAndAnotherPortIsAnotherHost) {
  struct Case {
    std::string site, url;
    bool inScope;
  } cases[] = {
      {"http://srv.lan/docs/", "https://srv.lan/docs/a.html", true},
      {"https://srv.lan/docs/", "http://srv.lan/docs/a.html", true},
      {"https://Srv.Lan:443/docs/", "https://srv.lan/docs/a.html", true},
      {"http://srv.lan:80/", "http://srv.lan/a.html", true},
      {"http://srv.lan/", "http://srv.lan:8080/a.html", false},
      {"http://srv.lan:8080/", "http://srv.lan:8080/a.html", true},
      {"http://srv.lan:8080/", "http://srv.lan/a.html", false},
      {"https://srv.lan/docs/", "https://srv.lan/other/", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(siteConfig(hostPart(c.site), pathPart(c.site)).inScope(c.url), c.inScope)
        << "site: " << c.site << " url: " << c.url;
}

TEST(DotLink, ClimbsOneDirectoryPerParentStep) {
  struct Case {
    std::string baseUrl, link, result;
  } cases[] = {
      {"http://srv/dir/sub", "./a.html", "http://srv/dir/sub/a.html"},
      {"http://srv/dir/sub", "../a.html", "http://srv/dir/a.html"},
      {"http://srv/dir/sub", "../../a.html", "http://srv/a.html"},
      {"http://srv/dir/sub", "../../../a.html", "refused"},
      {"http://srv/dir/sub", ".hidden", "http://srv/dir/sub/.hidden"},
      {"http://srv/dir/sub", "./.././a.html", "http://srv/dir/a.html"},
      {"http://srv/dir/sub", "...", "http://srv/dir/sub/..."},
      {"http://srv/dir/sub", "../", "http://srv/dir/"},
      {"http://srv/dir/sub//", "../a.html", "http://srv/dir/a.html"},
      {"http://srv//dir", "../a.html", "http://srv/a.html"},
      {"HTTP://srv", "../a.html", "refused"},
      {"file:/tmp/x", "../../a", "refused"},
      {"file:/tmp/x", "../a", "file:/tmp/a"},
      {"srv", "../a", "refused"},
      {"", "./a", "refused"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(resolveDotLink(c.baseUrl, c.link).value_or("refused"), c.result)
        << "baseUrl: " << c.baseUrl << " link: " << c.link;
}

}  // namespace
