#include "test_database.h"

#include <fstream>
#include <sstream>

#include <mysql++.h>

theme_search::ConnectionSettings testSettings(const std::string& database) {
  theme_search::ConnectionSettings settings;
  settings.socket = TEST_DB_SOCKET;
  settings.database = database;
  return settings;
}

// Split at ';'.
std::vector<std::string> schemaStatements() {
  std::ifstream in(SCHEMA_SQL);
  std::string line, text;
  while (std::getline(in, line)) {
    auto comment = line.find("--");
    if (comment != std::string::npos) line.erase(comment);
    text += line + "\n";
  }
  std::vector<std::string> statements;
  std::istringstream parts(text);
  std::string statement;
  while (std::getline(parts, statement, ';'))
    if (statement.find_first_not_of(" \n\t") != std::string::npos) statements.push_back(statement);
  return statements;
}

std::vector<std::string> keywordBlockFaults(theme_search::IndexConnection& db) {
  std::vector<std::string> faults;
  for (theme_search::Row& row : db.query(
           "SELECT CONCAT(idMot, ' block ', bloc) FROM (SELECT idMot, idUrl DIV 64 AS bloc, "
           "COUNT(*) AS n, BIT_XOR(1 << (idUrl MOD 64)) AS b FROM CorrespMotUrl GROUP BY idMot, "
           "bloc UNION ALL SELECT idMot, bloc, -SUM(nbPages), BIT_XOR(pages) FROM MotBloc GROUP BY "
           "idMot, bloc) d GROUP BY idMot, bloc HAVING SUM(n) <> 0 OR BIT_XOR(b) <> 0"))
    faults.push_back(std::move(row.at(0)));
  return faults;
}

void rebuildKeywordBlocks(theme_search::IndexConnection& db) {
  db.execute("DELETE FROM MotBloc");
  db.execute(
      "INSERT INTO MotBloc (idMot, bloc, part, pages, nbPages) SELECT idMot, idUrl DIV 64, 0, "
      "BIT_XOR(1 << (idUrl MOD 64)), COUNT(*) FROM CorrespMotUrl GROUP BY idMot, idUrl DIV 64");
}

void resetDatabase(const std::string& database) {
  theme_search::ConnectionSettings settings = testSettings(database);
  mysqlpp::Connection connection(true);
  connection.set_option(new mysqlpp::SetCharsetNameOption("latin1"));
  connection.connect(nullptr, settings.socket.c_str(), settings.user.c_str(),
                     settings.password.c_str());
  mysqlpp::Query query = connection.query();
  query.execute("DROP DATABASE IF EXISTS `" + database + "`");
  query.execute("CREATE DATABASE `" + database + "` CHARACTER SET latin1");
  connection.select_db(database);
  for (const std::string& statement : schemaStatements()) query.execute(statement);
}

std::string testEnvironment(const std::string& database) {
  theme_search::ConnectionSettings settings = testSettings(database);
  return "SE_DB_SOCKET=" + settings.socket + " SE_DB_NAME=" + database;
}
