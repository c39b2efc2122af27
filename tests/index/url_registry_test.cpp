#include "index/url_registry.h"

#include <algorithm>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "index/sql_text.h"
#include "test_database.h"

namespace {

using namespace theme_search;

TEST(SqlText, EscapesEveryByteThatCouldEndALiteral) {
  struct Case {
    std::string text, escaped;
  } cases[] = {
      {"", ""},
      {"http://srv/a.html", "http://srv/a.html"},
      {"xy\"z", "xy\\\"z"},
      {"a\\b", "a\\\\b"},
      {"end\\", "end\\\\"},
      {"it's", "it\\'s"},
      {std::string("nul\0byte", 8), "nul\\0byte"},
      {"line\nfeed\r", "line\\nfeed\\r"},
      {"ctrl\032z", "ctrl\\Zz"},
      {"caf\xe9 %s\t", "caf\xe9 %s\t"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeSql(c.text), c.escaped) << "text: " << c.text;
    EXPECT_EQ(quote(c.text), '"' + c.escaped + '"') << "text: " << c.text;
  }
}

TEST(SqlText, JoinedBatchesKeepOrderAndStayWithinTheLimit) {
  using Lists = std::vector<std::string>;
  struct Case {
    Lists items;
    std::size_t maxBytes;
    Lists batches;
  } cases[] = {
      {{}, 10, {}},
      {{"a"}, 10, {"a"}},
      {{"a", "b", "c"}, 10, {"a,b,c"}},
      {{"aaaa", "bbbb", "cc"}, 9, {"aaaa,bbbb", "cc"}},
      {{"aaaa", "bbbb", "c"}, 11, {"aaaa,bbbb,c"}},
      {{"long item", "b", "another long one", "c", "d"},
       5,
       {"long item", "b", "another long one", "c,d"}},
  };
  for (const Case& c : cases) {
    std::string input;
    for (const std::string& item : c.items) input += "[" + item + "]";
    EXPECT_EQ(joinedBatches(c.items, c.maxBytes), c.batches)
        << "items: " << input << " max " << c.maxBytes;
  }
}

using UrlRegistryTest = FreshIndexTest;

// Counts the SELECT statements a connection has sent, read on that same
// connection (SHOW STATUS is not itself counted as a SELECT).
long selectCount(IndexConnection& db) {
  return std::stol(db.query("SHOW SESSION STATUS LIKE 'Com_select'").at(0).at(1));
}

TEST_F(UrlRegistryTest, KnownUrlsAndTheLookupsSentForThem) {
  db().execute("INSERT INTO Url (url) VALUES (\"http://srv/fetched\")");
  markInvalid(db(), "http://srv/refused", "test");

  long before = selectCount(db());
  EXPECT_TRUE(isKnown(db(), "http://srv/fetched"));
  EXPECT_EQ(selectCount(db()) - before, 1) << "found in Url: no second lookup";

  before = selectCount(db());
  EXPECT_TRUE(isKnown(db(), "http://srv/refused"));
  EXPECT_EQ(selectCount(db()) - before, 2) << "Url first, then UrlInvalide";

  before = selectCount(db());
  EXPECT_FALSE(isKnown(db(), "http://srv/new"));
  EXPECT_EQ(selectCount(db()) - before, 2);

  // Byte-exact: a trailing '/', a trailing space or other letter case is
  // another URL.
  EXPECT_FALSE(isKnown(db(), "http://srv/fetched/"));
  EXPECT_FALSE(isKnown(db(), "http://srv/fetched "));
  EXPECT_FALSE(isKnown(db(), "http://srv/FETCHED"));
}

TEST_F(UrlRegistryTest, MarkInvalidTwiceLeavesOneRow) {
  markInvalid(db(), "http://srv/x", "test");
  EXPECT_NO_THROW(markInvalid(db(), "http://srv/x", "test"));
  EXPECT_EQ(db().count("select count(*) from UrlInvalide"), 1u);
}

TEST_F(UrlRegistryTest, HostileUrlsAreStoredAndFoundAsThemselves) {
  const std::string hostile[] = {
      "http://srv/a\"b",
      "http://srv/back\\slash",
      "http://srv/ends\\",
      "http://srv/ends\\\"",
      "http://srv/it's",
      std::string("http://srv/nul\0x", 16),
      "http://srv/line\nfeed\r\032",
      "http://srv/\"); DROP TABLE Url; --",
      "http://srv/\" or \"1\"=\"1",
  };
  for (const std::string& url : hostile) {
    EXPECT_FALSE(isKnown(db(), url)) << url;
    markInvalid(db(), url, "test");
    EXPECT_TRUE(isKnown(db(), url)) << url;
    db().execute("INSERT IGNORE INTO Url (url, lastVisit) VALUES (" + quote(url) + ", NOW() )");
  }
  std::set<std::string> stored;
  for (const Row& row : db().query("select url from UrlInvalide")) stored.insert(row.at(0));
  EXPECT_EQ(stored, std::set<std::string>(std::begin(hostile), std::end(hostile)));
  EXPECT_FALSE(isKnown(db(), "http://srv/a"));
  EXPECT_EQ(db().count("select count(*) from Url"), std::size(hostile));
  for (const char* table : {"MotCle", "CorrespMotUrl", "Extension"})
    EXPECT_NO_THROW(static_cast<void>(db().query(std::string("select * from ") + table))) << table;
}

// The links of a page are looked up in one statement, hostile URLs and
// duplicates included; an empty list sends none.
TEST_F(UrlRegistryTest, KnownAmongAsksOnceForManyUrls) {
  const std::string fetched[] = {"http://srv/a\"b", "http://srv/both", "http://srv/ends\\"};
  const std::string refused[] = {"http://srv/it's", "http://srv/both"};
  for (const std::string& url : fetched)
    db().execute("INSERT INTO Url (url) VALUES (" + quote(url) + ")");
  for (const std::string& url : refused) markInvalid(db(), url, "test");

  const std::vector<std::string> asked = {"http://srv/new",  "http://srv/a\"b", "http://srv/it's",
                                          "http://srv/both", "http://srv/A\"b", "http://srv/ends\\",
                                          "http://srv/new",  "http://srv/it's"};
  long before = selectCount(db());
  std::vector<std::string> known = knownAmong(db(), asked);
  EXPECT_EQ(selectCount(db()) - before, 1);
  std::sort(known.begin(), known.end());
  EXPECT_EQ(known, (std::vector<std::string>{"http://srv/a\"b", "http://srv/both",
                                             "http://srv/ends\\", "http://srv/it's"}));

  before = selectCount(db());
  EXPECT_EQ(knownAmong(db(), {}), std::vector<std::string>{});
  EXPECT_EQ(selectCount(db()) - before, 0);
}

// A URL is in Url or in UrlInvalide, never both: recording a fetch takes it
// out of UrlInvalide with its reason, recording a fetched URL invalid does
// nothing, a later reason replaces an earlier one, and a page that is gone
// leaves the index whole.
TEST_F(UrlRegistryTest, AUrlIsFetchedOrInvalidNeverBoth) {
  const auto invalid = [this] {
    std::vector<std::string> rows;
    for (const Row& row : db().query("SELECT i.url, r.raison FROM UrlInvalide i LEFT JOIN "
                                     "UrlInvalideRaison r USING (url) ORDER BY i.url"))
      rows.push_back(row.at(0) + " (" + row.at(1) + ")");
    return rows;
  };
  using Rows = std::vector<std::string>;
  markAllInvalid(db(), {{"http://srv/a", "status 500"},
                        {"http://srv/b\"", "depth limit"},
                        {"http://srv/b\"", "depth limit"}});
  EXPECT_EQ(invalid(), (Rows{"http://srv/a (status 500)", "http://srv/b\" (depth limit)"}));

  recordFetched(db(), "http://srv/a");
  EXPECT_EQ(invalid(), Rows{"http://srv/b\" (depth limit)"});
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM UrlInvalideRaison"), 1u);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM Url WHERE url = 'http://srv/a' AND lastVisit IS NULL"),
            1u);
  EXPECT_TRUE(isFetched(db(), "http://srv/a"));
  EXPECT_FALSE(isFetched(db(), "http://srv/b\""));

  markInvalid(db(), "http://srv/a", "status 404");
  markInvalid(db(), "http://srv/b\"", "status 404 " + std::string(300, 'x'));
  const Rows afterBoth = invalid();
  ASSERT_EQ(afterBoth.size(), 1u);
  EXPECT_EQ(afterBoth[0].size(), std::string("http://srv/b\" ()").size() + kMaxReasonBytes);

  db().execute("INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) SELECT 7, idUrl, 2 FROM Url");
  db().execute("INSERT INTO Document (idUrl, titre, texte) SELECT idUrl, 't', 'x' FROM Url");
  rebuildKeywordBlocks(db());
  removePage(db(), "http://srv/a", "status 410");
  for (const char* table : {"Url", "CorrespMotUrl", "Document"})
    EXPECT_EQ(db().count(std::string("SELECT COUNT(*) FROM ") + table), 0u) << table;
  EXPECT_EQ(keywordBlockFaults(db()), std::vector<std::string>{});
  EXPECT_EQ(invalid().front(), "http://srv/a (status 410)");
}

}  // namespace
