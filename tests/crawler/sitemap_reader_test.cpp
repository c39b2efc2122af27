#include "crawler/sitemap/sitemap_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "crawler/sitemap/gzip_stream.h"
#include "crawler/sitemap/w3c_datetime.h"

namespace {

using namespace theme_search;

const std::string kSpace = "http://www.sitemaps.org/schemas/sitemap/0.9";

// The text as one gzip member, at the given compression level.
std::string gzipped(const std::string& text, int level = Z_DEFAULT_COMPRESSION) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string packed(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  packed.resize(stream.total_out);
  deflateEnd(&stream);
  return packed;
}

std::string urlSet(const std::string& urls) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<urlset xmlns=\"" + kSpace + "\">" + urls +
         "</urlset>";
}

std::string manyUrls(std::size_t count) {
  std::string urls;
  for (std::size_t i = 0; i < count; ++i)
    urls += "<url><loc>http://s/" + std::to_string(i) + "</loc></url>";
  return urlSet(urls);
}

std::vector<std::string> locations(const SitemapReading& reading) {
  std::vector<std::string> found;
  for (const SitemapEntry& entry : reading.entries) found.push_back(entry.location);
  return found;
}

TEST(SitemapReader, ReadsEachPagesLocationAndLastmodWhereTheProtocolPutsThem) {
  const std::string document = urlSet(
      "<url>\n  <loc>\n    http://s/a.html?x=1&amp;y=2\n  </loc>\n"
      "  <lastmod>2024-03-01T10:00:00+01:00</lastmod><changefreq>daily</changefreq></url>"
      "<url><loc>http://s/caf\xc3\xa9.html</loc><lastmod>not a date</lastmod></url>"
      // An extension's elements are not the page's.
      "<url xmlns:image=\"http://www.google.com/schemas/sitemap-image/1.1\">"
      "<image:image><image:loc>http://s/photo.jpg</image:loc></image:image>"
      "<loc>http://s/b.html</loc></url>"
      "<url><lastmod>2024-01-01</lastmod></url>"
      "<url><loc>" +
      std::string(9000, 'x') +
      "</loc></url>"
      "<other><url><loc>http://s/nested.html</loc></url></other>"
      "<loc>http://s/stray.html</loc>");
  const SitemapReading reading = readSitemap(document);
  ASSERT_FALSE(reading.refusal) << *reading.refusal;
  EXPECT_EQ(reading.kind, SitemapReading::Kind::pages);
  EXPECT_EQ(locations(reading),
            (std::vector<std::string>{"http://s/a.html?x=1&y=2", "http://s/caf\xe9.html",
                                      "http://s/b.html"}));
  EXPECT_EQ(reading.entries[0].lastModified, 1709283600);  // 09:00 UTC
  EXPECT_FALSE(reading.entries[1].lastModified);
  EXPECT_FALSE(reading.entries[2].lastModified);

  // Without a namespace, or with a prefix on every element, it reads the same.
  EXPECT_EQ(locations(readSitemap("<urlset><url><loc>http://s/p</loc></url></urlset>")),
            std::vector<std::string>{"http://s/p"});
  EXPECT_EQ(locations(readSitemap("<s:urlset xmlns:s=\"" + kSpace +
                                  "\"><s:url><s:loc>http://s/q</s:loc></s:url></s:urlset>")),
            std::vector<std::string>{"http://s/q"});
  // Elements of another namespace than the root's are not the protocol's.
  EXPECT_TRUE(readSitemap("<urlset xmlns=\"" + kSpace +
                          "\"><url xmlns=\"urn:other\"><loc>http://s/r</loc></url></urlset>")
                  .entries.empty());
}

TEST(SitemapReader, ReadsAnIndexOfSitemapsPlainOrGzipped) {
  const std::string index = "<sitemapindex xmlns=\"" + kSpace +
                            "\"><sitemap><loc>http://s/one.xml</loc>"
                            "<lastmod>2024-01-02</lastmod></sitemap>"
                            "<sitemap><loc>http://s/two.xml.gz</loc></sitemap></sitemapindex>";
  for (const std::string& document : {index, gzipped(index)}) {
    const SitemapReading reading = readSitemap(document);
    ASSERT_FALSE(reading.refusal) << *reading.refusal;
    EXPECT_EQ(reading.kind, SitemapReading::Kind::index);
    EXPECT_EQ(locations(reading),
              (std::vector<std::string>{"http://s/one.xml", "http://s/two.xml.gz"}));
    EXPECT_EQ(reading.entries[0].lastModified, 1704153600);
  }
  // Members in a row are one stream; what follows the last is ignored.
  const std::string whole =
      urlSet("<url><loc>http://s/a</loc></url><url><loc>http://s/b</loc></url>");
  const std::size_t half = whole.size() / 2;
  EXPECT_EQ(locations(readSitemap(gzipped(whole.substr(0, half)) + gzipped(whole.substr(half)) +
                                  "trailing")),
            (std::vector<std::string>{"http://s/a", "http://s/b"}));
}

TEST(SitemapReader, RefusesWholeWhatIsNotASitemapOrPassesABound) {
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
      "<urlset><url><loc>http://s/&lol3;</loc></url></urlset>";
  const std::string external =
      "<!DOCTYPE urlset SYSTEM \"http://evil/x.dtd\"><urlset><url><loc>http://s/a</loc></url>"
      "</urlset>";
  const std::string bomb = gzipped(urlSet(std::string(kMaxSitemapBytes, ' ')), 9);
  const std::string good = gzipped(manyUrls(3));
  struct Case {
    std::string name, document, refusal;
  } cases[] = {
      {"entities", laughs, "document type declaration refused"},
      {"external DTD", external, "document type declaration refused"},
      {"undeclared entity", urlSet("<url><loc>&evil;</loc></url>"), "not well-formed XML (line 2"},
      {"HTML", "<html><body><p>Not found<br></body></html>", "not a sitemap (root element <html>)"},
      {"text", "User-agent: *\nDisallow: /\n", "not well-formed XML (line 1: syntax error)"},
      {"cut short", urlSet("<url><loc>http://s/a</loc></url>").substr(0, 90),
       "not well-formed XML"},
      {"empty", "", "not well-formed XML (line 1: no element found)"},
      {"feed", "<rss><channel/></rss>", "not a sitemap (root element <rss>)"},
      {"too many entries", manyUrls(kMaxSitemapEntries + 1), "more than 50000 entries"},
      {"too large", urlSet(std::string(kMaxSitemapBytes, ' ')), "over 50 MiB"},
      {"gzip bomb", bomb, "over 50 MiB once decompressed"},
      {"gzip cut short", good.substr(0, good.size() - 12), "gzip data cut short"},
      {"gzip corrupt", good.substr(0, 10) + std::string(40, '\x7f'), "not valid gzip data ("},
  };
  for (const Case& c : cases) {
    const SitemapReading reading = readSitemap(c.document);
    ASSERT_TRUE(reading.refusal) << c.name;
    EXPECT_EQ(reading.refusal->rfind(c.refusal, 0), 0u) << c.name << ": " << *reading.refusal;
    EXPECT_TRUE(reading.entries.empty()) << c.name;
  }
  EXPECT_LT(bomb.size(), std::size_t{1} << 20) << "the bomb is small on the wire";
  // At the bounds themselves, a sitemap is read whole.
  EXPECT_EQ(readSitemap(manyUrls(kMaxSitemapEntries)).entries.size(), kMaxSitemapEntries);
  const std::string full = urlSet("<url><loc>http://s/last</loc></url>");
  const std::string padded = full.substr(0, full.size() - 9) +
                             std::string(kMaxSitemapBytes - full.size(), ' ') + "</urlset>";
  ASSERT_EQ(padded.size(), kMaxSitemapBytes);
  EXPECT_EQ(locations(readSitemap(padded)), std::vector<std::string>{"http://s/last"});
  EXPECT_EQ(locations(readSitemap(gzipped(padded))), std::vector<std::string>{"http://s/last"});
}

TEST(GzipStream, HandsOutPiecesAndStopsWhenTheSinkAsks) {
  const std::string text(300000, 'a');
  std::string out;
  std::size_t pieces = 0;
  EXPECT_EQ(inflateGzip(gzipped(text), text.size(),
                        [&](std::string_view piece) {
                          EXPECT_LE(piece.size(), 65536u);
                          out += piece;
                          ++pieces;
                          return true;
                        }),
            std::nullopt);
  EXPECT_EQ(out, text);
  EXPECT_GE(pieces, 5u);
  EXPECT_EQ(inflateGzip(gzipped(text), text.size() - 1, [](std::string_view) { return true; }),
            "over 0 MiB once decompressed");
  pieces = 0;
  EXPECT_EQ(inflateGzip(gzipped(text), text.size(), [&](std::string_view) { return ++pieces < 2; }),
            std::nullopt);
  EXPECT_EQ(pieces, 2u);
  EXPECT_FALSE(isGzip("\x1f"));
  EXPECT_TRUE(isGzip("\x1f\x8b"));
}

TEST(W3cDateTime, ReadsEveryFormOfTheProtocolAndNothingElse) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"1970", 0},
      {"2024", 1704067200},
      {"2024-03", 1709251200},
      {"2024-02-29", 1709164800},
      {"2024-03-01T10:00+01:00", 1709283600},
      {"2024-03-01T09:00:00Z", 1709283600},
      {"2024-03-01T09:00:00.123456Z", 1709283600},
      {"2024-03-01T04:30:00-04:30", 1709283600},
      {"2024-03-01T09:00:00", 1709283600},
      {"1969-12-31T23:59:59Z", -1},
      {"2023-02-29", std::nullopt},
      {"2024-13-01", std::nullopt},
      {"2024-00", std::nullopt},
      {"2024-03-01T24:00:00Z", std::nullopt},
      {"2024-03-01 09:00:00", std::nullopt},
      {"2024-03T09:00Z", std::nullopt},
      {"2024-03-01T09:00:00.Z", std::nullopt},
      {"2024-03-01T09:00:00+0100", std::nullopt},
      {"2024-03-01T09:00:00Zjunk", std::nullopt},
      {"24-03-01", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(w3cDateTime(c.text), c.seconds) << c.text;
}

}  // namespace
