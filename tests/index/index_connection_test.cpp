#include "index/index_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/unique_fd.h"
#include "index/sql_text.h"
#include "test_database.h"

namespace {

using namespace theme_search;

using IndexConnectionTest = FreshIndexTest;
using Rows = std::vector<Row>;

TEST_F(IndexConnectionTest, QueryReturnsEveryRowAndColumnAsTextWithNullEmpty) {
  db().execute("INSERT INTO Url (url, nbMotsTheme) VALUES ('http://b/', 4), ('http://a/', 0)");
  db().execute("UPDATE Url SET lastVisit = '2001-02-03 04:05:06' WHERE url = 'http://b/'");
  EXPECT_EQ(db().query("select url, nbMotsTheme, lastVisit from Url order by url"),
            (Rows{{"http://a/", "0", ""}, {"http://b/", "4", "2001-02-03 04:05:06"}}));
  EXPECT_EQ(db().query("select url from Url where url = 'http://c/'"), Rows{});
  EXPECT_EQ(db().query("delete from UrlInvalide"), Rows{}) << "a statement without a result";

  // The text goes out as given: '%' is not a placeholder, and escaped values
  // come back from the server as the very bytes that were escaped.
  const char bytes[] = "q'd\"b\\n\0l\nr\r\032%s\xe9";
  const std::string value(bytes, sizeof bytes - 1);
  EXPECT_EQ(db().query("select '%d%%', '" + escapeSql(value) + "', " + quote(value)),
            (Rows{{"%d%%", value, value}}));
}

TEST_F(IndexConnectionTest, ExecuteReturnsChangedRowsAndCountReadsTheFirstValue) {
  EXPECT_EQ(db().execute("INSERT INTO Url (url) VALUES ('http://a/'), ('http://b/')"), 2u);
  EXPECT_EQ(db().execute("INSERT IGNORE INTO Url (url) VALUES ('http://a/')"), 0u);
  EXPECT_EQ(db().execute("UPDATE Url SET nbMotsTheme = 7"), 2u);
  EXPECT_EQ(db().count("select count(*), 99 from Url"), 2u);
  EXPECT_EQ(db().count("select nbMotsTheme from Url order by url"), 7u);
  EXPECT_EQ(db().count("select 18446744073709551615"), 18446744073709551615u);
  EXPECT_EQ(db().count("select idUrl from Url where url = 'http://none/'"), 0u) << "no row";
  EXPECT_EQ(db().count("select max(idMot) from MotCle"), 0u) << "NULL";
  for (const char* statement : {"select 'abc'", "select -1", "select 2.5"})
    EXPECT_THROW(static_cast<void>(db().count(statement)), mysqlpp::BadConversion) << statement;
}

TEST_F(IndexConnectionTest, RejectedStatementThrowsServerTextAndLeavesConnectionUsable) {
  const auto reasonFor = [](const std::function<void()>& send) {
    try {
      send();
    } catch (const MysqlBadQuery& error) {
      return std::string(error.what());
    }
    return std::string("no exception");
  };
  std::string reason = reasonFor([&] { static_cast<void>(db().query("select * from NoTable")); });
  EXPECT_NE(reason.find("NoTable"), std::string::npos) << reason;
  reason = reasonFor([&] { db().execute("INSERT INTO Nowhere VALUES (1)"); });
  EXPECT_NE(reason.find("Nowhere"), std::string::npos) << reason;
  reason = reasonFor([&] { static_cast<void>(db().count("select count(*) from Elsewhere")); });
  EXPECT_NE(reason.find("Elsewhere"), std::string::npos) << reason;

  EXPECT_EQ(db().execute("INSERT INTO Url (url) VALUES ('http://x/')"), 1u);
  EXPECT_EQ(db().query("select url from Url"), Rows{{"http://x/"}});
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
      EXPECT_EQ(db().execute(statement), round == 0 ? 1u : 0u) << statement;
  for (const char* table : {"Url", "UrlInvalide", "MotCle", "Extension"})
    EXPECT_EQ(db().count(std::string("select count(*) from ") + table), 1u) << table;
  EXPECT_EQ(db().query("select nbMotsTheme from Url"), Rows{{"0"}})
      << "a fetched page not yet indexed reads as 0";
}

TEST_F(IndexConnectionTest, TransactionKeepsRowsOnlyWhenCommitted) {
  const std::string insert = "INSERT INTO Url (url) VALUES ('http://t/')";
  const std::string countUrls = "select count(*) from Url";
  {
    Transaction transaction(db());
    db().execute(insert);
    EXPECT_EQ(db().count(countUrls), 1u) << "visible inside the transaction";
  }
  EXPECT_EQ(db().count(countUrls), 0u) << "not committed: rolled back";

  // A rejected statement leaves the scope as an exception: what the
  // transaction had done before it is rolled back too.
  try {
    Transaction transaction(db());
    db().execute(insert);
    db().execute("INSERT INTO Nowhere VALUES (1)");
    transaction.commit();
  } catch (const MysqlBadQuery&) {
  }
  EXPECT_EQ(db().count(countUrls), 0u) << "exception: rolled back";

  IndexConnection other(testSettings());
  {
    Transaction transaction(db());
    db().execute(insert);
    EXPECT_EQ(other.count(countUrls), 0u) << "another connection sees nothing before commit";
    transaction.commit();
    EXPECT_EQ(other.count(countUrls), 1u) << "and the row once committed";
  }
  EXPECT_EQ(db().count(countUrls), 1u) << "committed: kept after the scope";
}

// Two crawlers add keywords at once: a keyword that INSERT IGNORE skips
// because the other committed it after this transaction began must be
// found by the read that follows in the same transaction.
TEST_F(IndexConnectionTest, ATransactionReadsWhatOthersCommittedSinceItBegan) {
  IndexConnection other(testSettings());
  const std::string lookUp = "SELECT COUNT(*) FROM MotCle WHERE mot = 'abeille'";
  Transaction transaction(db());
  EXPECT_EQ(db().count(lookUp), 0u);
  other.execute("INSERT INTO MotCle (mot) VALUES ('abeille')");
  EXPECT_EQ(db().execute("INSERT IGNORE INTO MotCle (mot) VALUES ('abeille')"), 0u);
  EXPECT_EQ(db().count(lookUp), 1u) << "the other session's committed row";
  transaction.commit();
  db().reconnect();
  Transaction again(db());
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 1u);
  other.execute("INSERT INTO MotCle (mot) VALUES ('miel')");
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 2u) << "on a new session too";
}

TEST(Rejection, EndsTheTransactionWhenMoreThanTheStatementWasLost) {
  struct Case {
    const char* what;
    int error;
    bool ends;
  };
  const Case cases[] = {
      {"deadlock", 1213, true},   {"server shutting down", 1053, true},
      {"killed", 1927, true},     {"cluster node cut off", 1047, true},
      {"lost", 2013, true},       {"gone away", 2006, true},
      {"duplicate", 1062, false}, {"syntax", 1064, false},
      {"no table", 1146, false},  {"lock wait time-out", 1205, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(endsTransaction(MysqlBadQuery(c.what, c.error)), c.ends) << c.what;
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
  EXPECT_TRUE(defaults.servers.empty());
  setenv("SE_DB_NAME", "other", 1);
  setenv("SE_DB_PORT", "3307", 1);
  setenv("SE_DB_HOST", "db.lan, db2.lan:3308", 1);
  ConnectionSettings set = ConnectionSettings::fromEnvironment();
  setenv("SE_DB_HOST", "db.lan,,db2.lan", 1);
  const ConnectionSettings unreadable = ConnectionSettings::fromEnvironment();
  unsetenv("SE_DB_NAME");
  unsetenv("SE_DB_PORT");
  unsetenv("SE_DB_HOST");
  EXPECT_EQ(set.database, "other");
  EXPECT_EQ(set.port, 3307u);
  EXPECT_EQ(set.servers, (std::vector<ServerAddress>{{"db.lan", 0}, {"db2.lan", 3308}}));
  EXPECT_EQ(set.error, "");
  EXPECT_EQ(set.user, "se_user");
  EXPECT_EQ(unreadable.error, "SE_DB_HOST: server 2 is empty");
  EXPECT_TRUE(unreadable.servers.empty());
}

// A loopback TCP port that refuses connections at once: bound but never
// listening, so no other program can take it while the test runs.
class RefusingPort {
 public:
  RefusingPort() : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
      ADD_FAILURE() << "no loopback port";
    port = ntohs(address.sin_port);
  }

  ServerAddress address() const { return ServerAddress{"127.0.0.1", port}; }

 private:
  UniqueFd fd;
  unsigned port = 0;
};

// Connections through lists of servers, the private server among them.
using IndexConnectionServers = FreshIndexTest;

// The settings of the test database with the given servers instead of its
// socket.
ConnectionSettings listing(std::vector<ServerAddress> servers) {
  ConnectionSettings settings = testSettings();
  settings.socket.clear();
  settings.servers = std::move(servers);
  return settings;
}

TEST_F(IndexConnectionServers, OpensOnTheFirstServerThatTakesTheSession) {
  const RefusingPort dead;
  const ServerAddress live{testSettings("").socket, 0};
  IndexConnection connection(listing({dead.address(), {"/nonexistent/mysqld.sock", 0}, live}));
  EXPECT_EQ(connection.server(), live.host);
  EXPECT_EQ(connection.query("SELECT @@socket"), (Rows{{live.host}})) << "on the live server";
  EXPECT_EQ(connection.query("SELECT @@SESSION.sql_mode LIKE '%ANSI_QUOTES%'"), (Rows{{"0"}}))
      << "with the session set up";
  connection.reconnect();
  EXPECT_EQ(connection.server(), live.host) << "a reconnection tries the list again";

  // The first server that answers is kept even when a later one would too.
  IndexConnection first(listing({live, dead.address()}));
  EXPECT_EQ(first.server(), live.host);
}

TEST_F(IndexConnectionServers, NoServerTakingTheSessionNamesEachWithItsReason) {
  const RefusingPort dead, alsoDead;
  const ConnectionSettings settings =
      listing({dead.address(), {"/nonexistent/mysqld.sock", 0}, alsoDead.address()});
  std::string reason = "no exception";
  try {
    IndexConnection connection(settings);
  } catch (const mysqlpp::ConnectionFailed& failure) {
    reason = failure.what();
    EXPECT_TRUE(isConnectionLoss(failure)) << "the crawler waits for such a server: " << reason;
  }
  for (const ServerAddress& server : settings.servers) {
    const std::string name = serverName(server, 0) + ": ";
    EXPECT_NE(reason.find(name), std::string::npos) << name << " in " << reason;
  }
  EXPECT_LT(reason.find(serverName(dead.address(), 0)),
            reason.find(serverName(alsoDead.address(), 0)))
      << "in the order tried: " << reason;
}

TEST_F(IndexConnectionServers, SettingsWithAnErrorNeverOpen) {
  ConnectionSettings settings = testSettings();
  settings.error = "SE_DB_HOST: server 2 is empty";
  std::string reason = "no exception";
  try {
    IndexConnection connection(settings);
  } catch (const mysqlpp::ConnectionFailed& failure) {
    reason = failure.what();
  }
  EXPECT_EQ(reason, settings.error) << "although the socket names a live server";
}

}  // namespace
