#include "index_connection.h"

#include <gtest/gtest.h>

#include "test_database.h"

namespace {

using IndexConnectionTest = FreshIndexTest;

TEST_F(IndexConnectionTest, ResultCountIsZeroBeforeAnyStore) {
  EXPECT_EQ(db().resultCount(), 0u);
  EXPECT_EQ(db().nextUrl(), "");
}

TEST_F(IndexConnectionTest, StoreReplacesRowsAndCursorWalksThemThenStaysEmpty) {
  db().executeStatement("INSERT INTO Url (url) VALUES ('http://a/'), ('http://b/'), ('http://c/')");
  db().storeStatement("select url from Url order by url");
  EXPECT_EQ(db().resultCount(), 3u);
  EXPECT_EQ(db().nextUrl(), "http://a/");

  // A new store replaces the result set and puts the cursor back on row one.
  db() << "select url from Url where url <> "
       << "'http://a/'"
       << " order by url";
  db().storeStatement("");
  EXPECT_EQ(db().resultCount(), 2u);
  EXPECT_EQ(db().nextUrl(), "http://b/");
  EXPECT_EQ(db().nextUrl(), "http://c/");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(db().nextUrl(), "") << "call " << i;
}

TEST_F(IndexConnectionTest, StoreWithoutRowsGivesZeroCountAndEmptyUrl) {
  db().storeStatement("select url from Url");
  EXPECT_EQ(db().resultCount(), 0u);
  EXPECT_EQ(db().nextUrl(), "");
}

TEST_F(IndexConnectionTest, ExecuteLeavesResultAndCursorAlone) {
  db().executeStatement("INSERT INTO Url (url) VALUES ('http://a/'), ('http://b/')");
  db().storeStatement("select url from Url order by url");
  EXPECT_EQ(db().nextUrl(), "http://a/");
  db().executeStatement("DELETE FROM Url");
  EXPECT_EQ(db().resultCount(), 2u);
  EXPECT_EQ(db().nextUrl(), "http://b/");
}

TEST_F(IndexConnectionTest, RejectedStatementThrowsServerTextAndLeavesQueryEmpty) {
  db() << "select url from ";
  try {
    db().storeStatement("NoSuchTable");
    FAIL() << "no exception";
  } catch (const MysqlBadQuery& error) {
    EXPECT_NE(std::string(error.what()).find("NoSuchTable"), std::string::npos) << error.what();
  }
  try {
    db().executeStatement("INSERT INTO Nowhere VALUES (1)");
    FAIL() << "no exception";
  } catch (const MysqlBadQuery& error) {
    EXPECT_NE(std::string(error.what()).find("Nowhere"), std::string::npos) << error.what();
  }
  // The failed statements left nothing behind: the next one goes out alone.
  db().executeStatement("INSERT INTO Url (url) VALUES ('http://x/')");
  db().storeStatement("select url from Url");
  EXPECT_EQ(db().resultCount(), 1u);
  EXPECT_EQ(db().nextUrl(), "http://x/");
}

TEST_F(IndexConnectionTest, InsertIgnoreOfExistingRowsChangesNothing) {
  const char* statements[] = {
      "INSERT IGNORE INTO Url (url, lastVisit) VALUES (\"http://a/\", NOW() )",
      "insert ignore into UrlInvalide values(\"http://a/\")",
      "INSERT IGNORE INTO MotCle ( Mot ) VALUES (\"moteur\")",
      "INSERT IGNORE INTO Extension ( extension ) VALUES (\"html\")",
  };
  for (int round = 0; round < 2; ++round)
    for (const char* statement : statements)
      EXPECT_NO_THROW(db().executeStatement(statement)) << statement;
  for (const char* table : {"Url", "UrlInvalide", "MotCle", "Extension"}) {
    db().storeStatement(std::string("select count(*) as url from ") + table);
    EXPECT_EQ(db().nextUrl(), "1") << table;
  }
  db().storeStatement("select nbMotsTheme as url from Url");
  EXPECT_EQ(db().nextUrl(), "0") << "a fetched page not yet indexed reads as 0";
}

TEST(IndexConnectionStartup, UnreachableServerThrowsConnectionFailed) {
  ConnectionSettings settings = testSettings("se_test_none");
  settings.socket = "/nonexistent/mysqld.sock";
  std::string reason = "no exception";
  try {
    IndexConnection connection(settings);
  } catch (const mysqlpp::ConnectionFailed& error) {
    reason = error.what();
  }
  // The reason names the missing socket rather than a bad host address.
  EXPECT_NE(reason.find("/nonexistent/mysqld.sock"), std::string::npos) << reason;
}

TEST(ConnectionSettings, EnvironmentOverridesEachDefault) {
  ConnectionSettings defaults;
  EXPECT_EQ(defaults.database, "search_engine");
  EXPECT_EQ(defaults.user, "se_user");
  EXPECT_EQ(defaults.password, "sesame_word");
  EXPECT_EQ(defaults.host, "");
  setenv("SE_DB_NAME", "other", 1);
  setenv("SE_DB_PORT", "3307", 1);
  setenv("SE_DB_HOST", "db.lan", 1);
  ConnectionSettings set = ConnectionSettings::fromEnvironment();
  unsetenv("SE_DB_NAME");
  unsetenv("SE_DB_PORT");
  unsetenv("SE_DB_HOST");
  EXPECT_EQ(set.database, "other");
  EXPECT_EQ(set.port, 3307u);
  EXPECT_EQ(set.host, "db.lan");
  EXPECT_EQ(set.user, "se_user");
}

}  // namespace
