#include <set>

#include <gtest/gtest.h>

#include "index_connection.h"
#include "test_database.h"

namespace {

TEST(Quote, WrapsInDoubleQuotesAndEscapesWhatCouldEndTheLiteral) {
  struct Case {
    std::string text, quoted;
  } cases[] = {
      {"", "\"\""},
      {"http://srv/a.html", "\"http://srv/a.html\""},
      {"xy\"z", "\"xy\\\"z\""},
      {"a\\b", "\"a\\\\b\""},
      {"end\\", "\"end\\\\\""},
      {"it's", "\"it\\'s\""},
      {std::string("nul\0byte", 8), "\"nul\\0byte\""},
      {"line\nfeed\r", "\"line\\nfeed\\r\""},
      {"caf\xe9", "\"caf\xe9\""},
  };
  for (const Case& c : cases) EXPECT_EQ(quote(c.text), c.quoted) << "text: " << c.text;
}

using UrlRegistryTest = FreshIndexTest;

// Counts the SELECT statements a connection has sent, read on that same
// connection (SHOW STATUS is not itself counted as a SELECT).
long selectCount(IndexConnection& db) {
  db << "SHOW SESSION STATUS LIKE 'Com_select'";
  mysqlpp::StoreQueryResult rows = db.store();
  return std::atol(rows[0][1].c_str());
}

TEST_F(UrlRegistryTest, KnownUrlsAndTheLookupsSentForThem) {
  db().executeStatement("INSERT INTO Url (url) VALUES (\"http://srv/fetched\")");
  db().markInvalid("http://srv/refused");

  long before = selectCount(db());
  EXPECT_TRUE(db().isKnown("http://srv/fetched"));
  EXPECT_EQ(selectCount(db()) - before, 1) << "found in Url: no second lookup";

  before = selectCount(db());
  EXPECT_TRUE(db().isKnown("http://srv/refused"));
  EXPECT_EQ(selectCount(db()) - before, 2) << "Url first, then UrlInvalide";

  before = selectCount(db());
  EXPECT_FALSE(db().isKnown("http://srv/new"));
  EXPECT_EQ(selectCount(db()) - before, 2);

  // Byte-exact: a trailing '/', a trailing space or other letter case is
  // another URL.
  EXPECT_FALSE(db().isKnown("http://srv/fetched/"));
  EXPECT_FALSE(db().isKnown("http://srv/fetched "));
  EXPECT_FALSE(db().isKnown("http://srv/FETCHED"));
}

TEST_F(UrlRegistryTest, MarkInvalidTwiceLeavesOneRow) {
  db().markInvalid("http://srv/x");
  EXPECT_NO_THROW(db().markInvalid("http://srv/x"));
  db().storeStatement("select count(*) as url from UrlInvalide");
  EXPECT_EQ(db().nextUrl(), "1");
}

TEST_F(UrlRegistryTest, HostileUrlsAreStoredAndFoundAsThemselves) {
  const std::string hostile[] = {
      "http://srv/a\"b",
      "http://srv/back\\slash",
      "http://srv/ends\\",
      "http://srv/ends\\\"",
      "http://srv/it's",
      std::string("http://srv/nul\0x", 16),
      "http://srv/\"); DROP TABLE Url; --",
      "http://srv/\" or \"1\"=\"1",
  };
  for (const std::string& url : hostile) {
    EXPECT_FALSE(db().isKnown(url)) << url;
    db().markInvalid(url);
    EXPECT_TRUE(db().isKnown(url)) << url;
    db().executeStatement("INSERT IGNORE INTO Url (url, lastVisit) VALUES (" + quote(url) +
                          ", NOW() )");
  }
  db().storeStatement("select url from UrlInvalide");
  std::set<std::string> stored;
  for (std::string url = db().nextUrl(); !url.empty(); url = db().nextUrl()) stored.insert(url);
  EXPECT_EQ(stored, std::set<std::string>(std::begin(hostile), std::end(hostile)));
  EXPECT_FALSE(db().isKnown("http://srv/a"));
  db().storeStatement("select url from Url");
  EXPECT_EQ(db().resultCount(), std::size(hostile));
  for (const char* table : {"MotCle", "CorrespMotUrl", "Extension"})
    EXPECT_NO_THROW(db().storeStatement(std::string("select * from ") + table)) << table;
}

}  // namespace
