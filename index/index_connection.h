#pragma once

#include <cstdint>
#include <string>

#include <mysql++.h>

#include "connection_settings.h"

// The database library's query exception: a statement the server rejected,
// carrying the server's error text. A connection that cannot be opened
// raises mysqlpp::ConnectionFailed; both derive from mysqlpp::Exception.
using MysqlBadQuery = mysqlpp::BadQuery;

// The crawler's SQL literal for a value: the value between double quotes,
// with every byte the server treats specially (double and single quote,
// backslash, NUL, line feed, carriage return, Ctrl-Z) escaped by the client
// library's rules, so no value can end the literal: xy"z becomes "xy\"z".
[[nodiscard]] std::string quote(const std::string& value);

// One open connection to the index, through which every statement passes.
// A statement is written piece by piece (operator<<) and sent whole by
// storeStatement (rows wanted) or executeStatement (no rows). Not thread-safe:
// each record is used by one thread only. Not copyable or movable.
class IndexConnection {
 public:
  // Opens the connection (exceptions enabled, Latin-1 session, a sql_mode
  // without ANSI_QUOTES and NO_BACKSLASH_ESCAPES). Throws
  // mysqlpp::ConnectionFailed when the server cannot be reached.
  explicit IndexConnection(
      const ConnectionSettings& settings = ConnectionSettings::fromEnvironment());
  IndexConnection(const IndexConnection&) = delete;
  IndexConnection& operator=(const IndexConnection&) = delete;

  // Appends text or a number to the statement being built.
  template <typename T>
  IndexConnection& operator<<(const T& piece) {
    query << piece;
    return *this;
  }

  // Appends text, sends the whole statement asking for rows, replaces the
  // result set with them and puts the cursor on the first row. The statement
  // is taken out of the query object first, so it is empty afterwards even
  // when the server rejects it (MysqlBadQuery).
  void storeStatement(const std::string& text);

  // Appends text and sends the whole statement as one without rows; the
  // result set and cursor are untouched. Throws MysqlBadQuery on rejection.
  void executeStatement(const std::string& text);

  // The "url" column of the row under the cursor, moving the cursor on; the
  // empty text once the cursor is past the last row.
  std::string nextUrl();

  // Rows in the result set of the last storeStatement; 0 before any.
  [[nodiscard]] std::uint64_t resultCount() const { return result.num_rows(); }

  // Sends the statement written so far, asking for rows, and returns them
  // without touching the result set or cursor.
  mysqlpp::StoreQueryResult store();
  // Sends the statement written so far as one without rows.
  void execute();

  // True when the URL is in Url or, looked up only then, in UrlInvalide.
  [[nodiscard]] bool isKnown(const std::string& url);
  // Records the URL in UrlInvalide; a URL already there is left alone.
  void markInvalid(const std::string& url);

 private:
  std::string takeStatement();

  mysqlpp::Connection connection;
  mysqlpp::Query query;
  mysqlpp::StoreQueryResult result;
  std::size_t cursor = 0;
};
