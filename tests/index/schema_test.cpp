#include <gtest/gtest.h>

#include "index_connection.h"
#include "test_database.h"

namespace {

class SchemaTest : public FreshIndexTest {
 protected:
  std::string count(const std::string& statement) {
    connection->storeStatement("select count(*) as url from " + statement);
    return connection->nextUrl();
  }
};

TEST_F(SchemaTest, UrlsDifferingInAnyByteAreDistinctPages) {
  for (const char* url : {"http://srv/a", "http://srv/A", "http://srv/a ", "http://srv/a/",
                          "http://srv/\xe9", "http://srv/\xc9"})
    connection->executeStatement(std::string("INSERT IGNORE INTO Url (url, lastVisit) VALUES (") +
                                 quote(url) + ", NOW() )");
  EXPECT_EQ(count("Url"), "6");
  EXPECT_EQ(count("Url where url=\"http://srv/a\""), "1");
  for (const char* url : {"http://srv/a", "http://srv/a "}) connection->markInvalid(url);
  EXPECT_EQ(count("UrlInvalide"), "2");
}

TEST_F(SchemaTest, KeywordLookupIgnoresCaseButKeepsDistinctWords) {
  for (const char* word : {"moteur", "peche",
                           "p\xea"
                           "che",
                           "p\xe9\x63he"})
    connection->executeStatement(std::string("INSERT IGNORE INTO MotCle ( Mot ) VALUES (") +
                                 quote(word) + ")");
  EXPECT_EQ(count("MotCle"), "4") << "accents make distinct words";
  EXPECT_EQ(count("MotCle M where M.mot in ('MOTEUR')"), "1");
  EXPECT_EQ(count("MotCle M where M.mot in ('Moteur','P\xca"
                  "CHE')"),
            "2");
  EXPECT_EQ(count("MotCle M where M.mot in ('moteurs')"), "0");
}

TEST_F(SchemaTest, PageHoldsAKeywordOnceAndSortsBeforeIndexing) {
  connection->executeStatement(
      "INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES (1, 1, \"3\")");
  EXPECT_THROW(connection->executeStatement(
                   "INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES (1, 1, \"4\")"),
               MysqlBadQuery);
  connection->storeStatement("select ratio as url from CorrespMotUrl");
  EXPECT_EQ(connection->nextUrl(), "3");
}

}  // namespace
