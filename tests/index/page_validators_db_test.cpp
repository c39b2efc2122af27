#include "index/page_validators.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/page_writer.h"
#include "index/saved_queue.h"
#include "index/sql_text.h"
#include "index/url_registry.h"
#include "test_database.h"

namespace {

using namespace theme_search;

const std::string kUrl = "http://srv/a.html";
// Every byte a server may put in a value that SQL or a careless copy could
// alter: quotes, a backslash, doubled blanks, a tab, Latin-1 and C1 bytes.
const PageValidators kOdd{"W/\"x'y\\\"  \t\xe9\x81\"", "Tue, 15 Nov 1994 12:45:26 GMT"};

class PageValidatorsTest : public FreshIndexTest {
 protected:
  void SetUp() override {
    FreshIndexTest::SetUp();
    db().execute("INSERT INTO Url (url, lastVisit) VALUES (" + quote(kUrl) +
                 ", NOW() - INTERVAL 3 DAY)");
  }

  PageRecord page(PageValidators validators) {
    PageRecord record;
    record.documentType = "html";
    record.keywords = {{"abeille", 2}};
    record.themeWordCount = 1;
    record.validators = std::move(validators);
    return record;
  }
  std::uint64_t rows() { return db().count("SELECT COUNT(*) FROM UrlValidateurs"); }
  std::int64_t daysSinceVisit() {
    return integerField(
        db().query("SELECT DATEDIFF(NOW(), lastVisit) FROM Url WHERE url = " + quote(kUrl))
            .at(0)
            .at(0));
  }
};

// The page's transaction writes its validators, byte for byte; a revisit
// replaces them, removes them when its reply has none, and a page no longer
// indexed (a redirect) loses them.
TEST_F(PageValidatorsTest, FollowThePagesWritesByteForByte) {
  PageWriter writer(db());
  EXPECT_EQ(writer.write(kUrl, page(kOdd)).messages, "");
  const PageValidators stored = readValidators(db(), kUrl);
  EXPECT_EQ(stored.etag, kOdd.etag);
  EXPECT_EQ(stored.lastModified, kOdd.lastModified);

  EXPECT_EQ(writer.write(kUrl, page({"\"2\"", ""}), /*replacing=*/true).messages, "");
  EXPECT_EQ(readValidators(db(), kUrl).etag, "\"2\"");
  EXPECT_EQ(readValidators(db(), kUrl).lastModified, "");
  EXPECT_EQ(writer.write(kUrl, page({}), /*replacing=*/true).messages, "");
  EXPECT_EQ(rows(), 0u);

  EXPECT_EQ(writer.write(kUrl, page(kOdd), /*replacing=*/true).messages, "");
  EXPECT_EQ(writer.write(kUrl, PageRecord{}, /*replacing=*/true).messages, "");
  EXPECT_EQ(rows(), 0u);
  EXPECT_TRUE(readValidators(db(), "http://srv/unknown.html").empty());
  EXPECT_TRUE(readValidators(db(), kUrl).empty());
}

// A page rolled back leaves no validators; an index made before the table
// still indexes its pages, with a message.
TEST_F(PageValidatorsTest, AreAllOrNothingWithThePageAndOptionalInOldIndexes) {
  PageWriter writer(db());
  db().execute(
      "CREATE TRIGGER fail BEFORE UPDATE ON Url FOR EACH ROW "
      "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'");
  EXPECT_THROW(static_cast<void>(writer.write(kUrl, page(kOdd))), MysqlBadQuery);
  EXPECT_EQ(rows(), 0u);
  db().execute("DROP TRIGGER fail");

  db().execute("DROP TABLE UrlValidateurs");
  EXPECT_EQ(writer.write(kUrl, page(kOdd)).messages, "EXCEPTION UrlValidateurs " + kUrl + "\n");
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM CorrespMotUrl"), 1u);
  EXPECT_EQ(writer.write(kUrl, PageRecord{}, /*replacing=*/true).messages, "");
}

// An unchanged page keeps every row and gets today's visit; a page gone
// leaves with its validators.
TEST_F(PageValidatorsTest, AnUnchangedPageKeepsItsRowsAndAGonePageLosesThem) {
  PageWriter writer(db());
  EXPECT_EQ(writer.write(kUrl, page(kOdd)).messages, "");
  db().execute("UPDATE Url SET lastVisit = NOW() - INTERVAL 3 DAY");
  recordUnchangedVisit(db(), kUrl);
  EXPECT_EQ(daysSinceVisit(), 0);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM CorrespMotUrl"), 1u);
  EXPECT_EQ(readValidators(db(), kUrl).etag, kOdd.etag);

  removePage(db(), kUrl, "status 410");
  EXPECT_EQ(rows(), 0u);
}

// The last visits of the pages asked about, as seconds since 1970, for the
// analysed pages only.
TEST_F(PageValidatorsTest, LastVisitsAreGivenForAnalysedPagesOnly) {
  db().execute("SET time_zone = '+05:00'");
  db().execute("UPDATE Url SET lastVisit = '2024-03-01 14:00:00'");
  db().execute("INSERT INTO Url (url, lastVisit) VALUES ('http://srv/new.html', NULL)");
  const auto visits =
      lastVisits(db(), {kUrl, "http://srv/new.html", "http://srv/unknown.html", kUrl});
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits.at(kUrl), 1709283600);
  EXPECT_TRUE(lastVisits(db(), {}).empty());
}

}  // namespace
