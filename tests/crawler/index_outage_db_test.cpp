#include "crawler/pipeline/index_outage.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "test_database.h"

namespace {

using namespace theme_search;
using std::chrono::seconds;

// Ends the session of `victim` from another connection, as an idle
// time-out or a restart of the server would.
void killSession(IndexConnection& killer, IndexConnection& victim) {
  const std::uint64_t id = victim.count("SELECT CONNECTION_ID()");
  killer.execute("KILL CONNECTION " + std::to_string(id));
}

TEST(ConnectionLoss, TellsALostSessionFromARejectedStatement) {
  struct Case {
    const char* what;
    const mysqlpp::Exception& failure;
    bool loss;
  };
  const MysqlBadQuery gone("gone away", 2006), lost("lost", 2013), shutdown("shutdown", 1053),
      killed("killed", 1927), idle("idle", 4031), duplicate("duplicate", 1062),
      deadlock("deadlock", 1213), syntax("syntax", 1064), notReady("not ready", 1047);
  const mysqlpp::ConnectionFailed refused("refused", 2002), noSocket("no socket"),
      denied("denied", 1045), noDatabase("no database", 1049);
  const mysqlpp::BadConversion conversion("not a number");
  const Case cases[] = {
      {"server gone", gone, true},       {"server lost", lost, true},
      {"shutdown", shutdown, true},      {"killed", killed, true},
      {"idle time-out", idle, true},     {"refused", refused, true},
      {"socket gone", noSocket, true},   {"duplicate key", duplicate, false},
      {"deadlock", deadlock, false},     {"syntax", syntax, false},
      {"access denied", denied, false},  {"unknown database", noDatabase, false},
      {"conversion", conversion, false}, {"cluster node cut off", notReady, true},
  };
  for (const Case& c : cases) EXPECT_EQ(isConnectionLoss(c.failure), c.loss) << c.what;
}

TEST(IndexOutagePause, DoublesFromOneSecondUpToThirty) {
  std::vector<long> pauses;
  for (seconds pause = IndexOutage::firstPause; pauses.size() < 8;
       pause = IndexOutage::nextPause(pause))
    pauses.push_back(static_cast<long>(pause.count()));
  EXPECT_EQ(pauses, (std::vector<long>{1, 2, 4, 8, 16, 30, 30, 30}));
}

class IndexOutageTest : public FreshIndexTest {
 protected:
  void SetUp() override {
    FreshIndexTest::SetUp();
    crawler.emplace(testSettings());
  }

  std::optional<IndexConnection> crawler;
  std::ostringstream log;
  IndexOutage outage{log};
  // Never called while the server answers.
  IndexOutage::Sleep noSleep = [](auto) {
    ADD_FAILURE() << "waited although the server answers";
    return false;
  };
};

// A lost session in the middle of a transaction: the whole work is sent
// again on a new session, and its first attempt left nothing behind.
TEST_F(IndexOutageTest, WorkWhoseSessionIsLostRunsAgainWholeOnANewSession) {
  int attempts = 0;
  const bool done = outage.run(*crawler, noSleep, [&] {
    ++attempts;
    Transaction transaction(*crawler);
    crawler->execute("INSERT INTO Url (url) VALUES ('http://a/')");
    if (attempts == 1) killSession(db(), *crawler);
    crawler->execute("INSERT INTO Url (url) VALUES ('http://b/')");
    transaction.commit();
  });
  EXPECT_TRUE(done);
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(db().query("SELECT url FROM Url ORDER BY url"),
            (std::vector<Row>{{"http://a/"}, {"http://b/"}}));
  EXPECT_EQ(log.str(), "");  // reconnected at once: nothing to report
}

TEST_F(IndexOutageTest, ALossRightAfterAReconnectionIsThrownOn) {
  int attempts = 0;
  try {
    [[maybe_unused]] const bool done = outage.run(*crawler, noSleep, [&] {
      ++attempts;
      killSession(db(), *crawler);
      crawler->execute("INSERT INTO Url (url) VALUES ('http://a/')");
    });
    ADD_FAILURE() << "no exception";
  } catch (const mysqlpp::Exception& failure) {
    EXPECT_TRUE(isConnectionLoss(failure)) << failure.what();
  }
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM Url"), 0u);
}

TEST_F(IndexOutageTest, ARejectedStatementIsNotSentAgain) {
  int attempts = 0;
  EXPECT_THROW(
      {
        [[maybe_unused]] const bool done = outage.run(*crawler, noSleep, [&] {
          ++attempts;
          crawler->execute("INSERT INTO NoSuchTable VALUES (1)");
        });
      },
      MysqlBadQuery);
  EXPECT_EQ(attempts, 1);
}

// A server that does not take the session back: here an account locked
// while its session is killed, unlocked during the third pause. The outage
// is reported once, the pauses double, and the work runs once it is back.
TEST_F(IndexOutageTest, AServerAwayIsReportedOnceAndWaitedOutWithGrowingPauses) {
  db().execute("DROP USER IF EXISTS 'se_outage'@'localhost'");
  db().execute("CREATE USER 'se_outage'@'localhost' IDENTIFIED BY 'x'");
  ConnectionSettings settings = testSettings();
  settings.user = "se_outage";
  settings.password = "x";
  settings.database = "";
  IndexConnection locked(settings);
  std::vector<long> pauses;
  const IndexOutage::Sleep sleep = [&](std::chrono::steady_clock::time_point deadline) {
    pauses.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now() + std::chrono::milliseconds(50))
            .count() /
        1000);
    if (pauses.size() == 3) db().execute("ALTER USER 'se_outage'@'localhost' ACCOUNT UNLOCK");
    return true;
  };
  int attempts = 0;
  std::uint64_t answer = 0;
  const bool done = outage.run(locked, sleep, [&] {
    if (++attempts == 1) {
      db().execute("ALTER USER 'se_outage'@'localhost' ACCOUNT LOCK");
      killSession(db(), locked);
    }
    answer = locked.count("SELECT 7");
  });
  EXPECT_TRUE(done);
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(answer, 7u);
  EXPECT_EQ(pauses, (std::vector<long>{1, 2, 4}));
  const std::string text = log.str();
  EXPECT_EQ(text.rfind("the index database is unavailable: ", 0), 0u) << text;
  EXPECT_NE(text.find("; waiting\nthe index database is back\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;

  // A stop during the wait ends the work undone.
  db().execute("ALTER USER 'se_outage'@'localhost' ACCOUNT LOCK");
  killSession(db(), locked);
  attempts = 0;
  const bool stopped = !outage.run(
      locked, [](auto) { return false; },
      [&] {
        ++attempts;
        answer = locked.count("SELECT 8");
      });
  EXPECT_TRUE(stopped);
  EXPECT_EQ(attempts, 1);
  db().execute("DROP USER 'se_outage'@'localhost'");
}

// A transaction the server rolls back in a conflict with another writer
// (here a trigger raises the deadlock error for as long as the session's
// @conflicts counts) runs again whole at once, within a limit.
TEST_F(IndexOutageTest, WorkRolledBackInAConflictRunsAgainUpToTheLimit) {
  EXPECT_TRUE(isTransactionConflict(MysqlBadQuery("deadlock", 1213)));
  EXPECT_FALSE(isTransactionConflict(MysqlBadQuery("duplicate", 1062)));
  EXPECT_FALSE(isTransactionConflict(MysqlBadQuery("gone away", 2006)));
  EXPECT_FALSE(isTransactionConflict(mysqlpp::ConnectionFailed("refused", 1213)));
  db().execute(
      "CREATE TRIGGER conflict BEFORE INSERT ON Url FOR EACH ROW IF @conflicts > 0 THEN "
      "SET @conflicts = @conflicts - 1; SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213, "
      "MESSAGE_TEXT = 'Deadlock found when trying to get lock'; END IF");
  const auto insertTwo = [&](int& attempts) {
    return outage.run(*crawler, noSleep, [&] {
      ++attempts;
      Transaction transaction(*crawler);
      crawler->execute("INSERT INTO MotCle (mot) VALUES ('abeille')");
      crawler->execute("INSERT INTO Url (url) VALUES ('http://a/')");
      transaction.commit();
    });
  };
  int attempts = 0;
  crawler->execute("SET @conflicts = " + std::to_string(IndexOutage::maxConflictRetries));
  EXPECT_TRUE(insertTwo(attempts));
  EXPECT_EQ(attempts, IndexOutage::maxConflictRetries + 1);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 1u) << "the attempts rolled back left none";
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM Url"), 1u);

  db().execute("DELETE FROM MotCle");
  db().execute("DELETE FROM Url");
  attempts = 0;
  crawler->execute("SET @conflicts = " + std::to_string(IndexOutage::maxConflictRetries + 1));
  try {
    [[maybe_unused]] const bool done = insertTwo(attempts);
    ADD_FAILURE() << "no exception";
  } catch (const mysqlpp::Exception& failure) {
    EXPECT_TRUE(isTransactionConflict(failure)) << failure.what();
  }
  EXPECT_EQ(attempts, IndexOutage::maxConflictRetries + 1);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 0u);
  EXPECT_EQ(log.str(), "") << "conflicts are not outages";
}

// Two stages' connections on the first server of a list (here a link to the
// private server's socket, removed while the sessions are killed, as a
// server of a cluster that dies): each moves to the next server with its
// work sent again whole, and the move is told once.
TEST_F(IndexOutageTest, ALostServerOfAListIsLeftForTheNextWithTheWorkSentAgain) {
  const std::filesystem::path link = std::filesystem::temp_directory_path() /
                                     ("se_outage_" + std::to_string(::getpid()) + ".sock");
  std::filesystem::remove(link);
  const std::string live = testSettings().socket;
  std::filesystem::create_symlink(live, link);
  ConnectionSettings settings = testSettings();
  settings.socket.clear();
  settings.servers = {{link.string(), 0}, {live, 0}};
  IndexConnection download(settings), parse(settings);
  EXPECT_EQ(download.server(), link.string());

  const auto insertBoth = [&](IndexConnection& connection, const std::string& name, int& attempts) {
    return outage.run(connection, noSleep, [&] {
      ++attempts;
      Transaction transaction(connection);
      connection.execute("INSERT INTO Url (url) VALUES ('http://" + name + "/1')");
      if (attempts == 1) {
        std::filesystem::remove(link);
        killSession(db(), connection);
      }
      connection.execute("INSERT INTO Url (url) VALUES ('http://" + name + "/2')");
      transaction.commit();
    });
  };
  int downloadAttempts = 0, parseAttempts = 0;
  EXPECT_TRUE(insertBoth(download, "d", downloadAttempts));
  EXPECT_TRUE(insertBoth(parse, "p", parseAttempts));
  std::filesystem::remove(link);
  EXPECT_EQ(downloadAttempts, 2);
  EXPECT_EQ(parseAttempts, 2);
  EXPECT_EQ(download.server(), live);
  EXPECT_EQ(parse.server(), live);
  EXPECT_EQ(db().query("SELECT url FROM Url ORDER BY url"),
            (std::vector<Row>{{"http://d/1"}, {"http://d/2"}, {"http://p/1"}, {"http://p/2"}}));
  EXPECT_EQ(log.str(), "the index database is now reached at " + live + "\n");
}

}  // namespace
