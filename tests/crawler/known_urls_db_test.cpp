#include "crawler/pipeline/known_urls.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/sql_text.h"
#include "index/url_registry.h"
#include "test_database.h"

namespace {

using namespace theme_search;

using KnownUrlsTest = FreshIndexTest;

long selectCount(IndexConnection& db) {
  return std::stol(db.query("SHOW SESSION STATUS LIKE 'Com_select'").at(0).at(1));
}

// The index is asked only about URLs the crawl does not know yet; what it
// names, and what the crawl writes itself, is not asked about again.
TEST_F(KnownUrlsTest, AsksTheIndexOnlyAboutUrlsItDoesNotKnow) {
  db().execute("INSERT INTO Url (url) VALUES (\"http://srv/fetched\")");
  markInvalid(db(), "http://srv/refused", "test");
  KnownUrls known;
  known.add("http://srv/written");

  long before = selectCount(db());
  EXPECT_EQ(known.lookUp(db(), {"http://srv/new", "http://srv/fetched", "http://srv/written",
                                "http://srv/refused", "http://srv/new"}),
            (std::vector<bool>{false, true, true, true, false}));
  EXPECT_EQ(selectCount(db()) - before, 1);

  before = selectCount(db());
  EXPECT_EQ(known.lookUp(db(), {"http://srv/fetched", "http://srv/refused", "http://srv/written"}),
            (std::vector<bool>{true, true, true}));
  EXPECT_EQ(selectCount(db()) - before, 0) << "every answer known: no statement";

  // A URL that was unknown is asked about again: another crawler may have
  // recorded it since.
  db().execute("INSERT INTO Url (url) VALUES (\"http://srv/new\")");
  EXPECT_EQ(known.lookUp(db(), {"http://srv/new"}), std::vector<bool>{true});
  EXPECT_TRUE(known.contains("http://srv/new"));
  EXPECT_FALSE(known.contains("http://srv/other"));
}

}  // namespace
