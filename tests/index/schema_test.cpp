#include <gtest/gtest.h>

#include "index/index_connection.h"
#include "index/sql_text.h"
#include "index/url_registry.h"
#include "test_database.h"

namespace {

using namespace theme_search;

class SchemaTest : public FreshIndexTest {
 protected:
  std::uint64_t count(const std::string& rows) {
    return db().count("select count(*) from " + rows);
  }
};

TEST_F(SchemaTest, UrlsDifferingInAnyByteAreDistinctPages) {
  for (const char* url : {"http://srv/a", "http://srv/A", "http://srv/a ", "http://srv/a/",
                          "http://srv/\xe9", "http://srv/\xc9"})
    db().execute(std::string("INSERT IGNORE INTO Url (url, lastVisit) VALUES (") + quote(url) +
                 ", NOW() )");
  EXPECT_EQ(count("Url"), 6u);
  EXPECT_EQ(count("Url where url=\"http://srv/a\""), 1u);
  // A fetched page is never invalid as well.
  for (const char* url : {"http://srv/b", "http://srv/b ", "http://srv/a"})
    markInvalid(db(), url, "test");
  EXPECT_EQ(count("UrlInvalide"), 2u);
  EXPECT_EQ(count("UrlInvalide where url=\"http://srv/a\""), 0u);
}

TEST_F(SchemaTest, KeywordLookupIgnoresCaseButKeepsDistinctWords) {
  for (const char* word : {"moteur", "peche",
                           "p\xea"
                           "che",
                           "p\xe9\x63he"})
    db().execute(std::string("INSERT IGNORE INTO MotCle ( Mot ) VALUES (") + quote(word) + ")");
  EXPECT_EQ(count("MotCle"), 4u) << "accents make distinct words";
  EXPECT_EQ(count("MotCle M where M.mot in ('MOTEUR')"), 1u);
  EXPECT_EQ(count("MotCle M where M.mot in ('Moteur','P\xca"
                  "CHE')"),
            2u);
  EXPECT_EQ(count("MotCle M where M.mot in ('moteurs')"), 0u);
}

TEST_F(SchemaTest, PageHoldsAKeywordOnceAndSortsBeforeIndexing) {
  db().execute("INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES (1, 1, \"3\")");
  EXPECT_THROW(db().execute("INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES (1, 1, \"4\")"),
               MysqlBadQuery);
  EXPECT_EQ(db().count("select ratio from CorrespMotUrl"), 3u);
}

// An index made before the blocks gets them from its keyword rows when the
// schema is loaded again; loading it once more adds nothing.
TEST_F(SchemaTest, LoadingTheSchemaAgainGivesAnOlderIndexItsBlocksOnce) {
  db().execute("DROP TABLE MotBloc");
  db().execute(
      "INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES (1, 1, 3), (1, 66, 1), (2, 2, 5)");
  for (int load = 0; load < 2; ++load) {
    for (const std::string& statement : schemaStatements()) db().execute(statement);
    EXPECT_EQ(db().query("SELECT idMot, bloc, pages, nbPages FROM MotBloc ORDER BY idMot, bloc"),
              (std::vector<Row>{{"1", "0", "2", "1"}, {"1", "1", "4", "1"}, {"2", "0", "4", "1"}}));
  }
}

}  // namespace
