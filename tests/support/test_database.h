#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/connection_settings.h"
#include "index/index_connection.h"

// The private test server (started by the private_db fixture) and a
// database of the test binary's own on it. The helpers are test code, so
// they stay outside the project's namespace.

// Settings for the private server's socket and the named database.
theme_search::ConnectionSettings testSettings(const std::string& database);

// Drops and recreates the database, then loads index/schema.sql into it:
// every test that calls it starts from an empty index.
void resetDatabase(const std::string& database);

// Environment assignments ("SE_DB_SOCKET=...", ...) that point a child
// process (crawler, searchcgi) at the database.
std::string testEnvironment(const std::string& database);

// The statements of index/schema.sql, comments removed, in order.
std::vector<std::string> schemaStatements();

// The keywords' blocks (MotBloc) whose pages or page counts are not those
// of the keyword rows, as "idMot block N" lines; none when all are right.
std::vector<std::string> keywordBlockFaults(theme_search::IndexConnection& db);

// Sets the blocks to what the keyword rows say, for fixtures that write
// CorrespMotUrl rows themselves.
void rebuildKeywordBlocks(theme_search::IndexConnection& db);

#ifdef TEST_DB_NAME
inline theme_search::ConnectionSettings testSettings() {
  return testSettings(TEST_DB_NAME);
}
inline void resetDatabase() {
  resetDatabase(TEST_DB_NAME);
}
inline std::string testEnvironment() {
  return testEnvironment(TEST_DB_NAME);
}

// A test that starts from an empty index of its own, with one connection
// open on it.
class FreshIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetDatabase();
    connection.emplace(testSettings());
  }
  theme_search::IndexConnection& db() { return *connection; }

  std::optional<theme_search::IndexConnection> connection;
};
#endif
