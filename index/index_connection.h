#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <mysql++.h>

#include "index/connection_settings.h"

namespace theme_search {

// The database library's query exception: a statement the server rejected,
// carrying the server's error text. A connection that cannot be opened
// raises mysqlpp::ConnectionFailed; both derive from mysqlpp::Exception.
using MysqlBadQuery = mysqlpp::BadQuery;

// One row of a result: the text of each column in select order, bytes as the
// server sent them. SQL NULL reads as the empty text.
using Row = std::vector<std::string>;

// A row read in place by IndexConnection::forEachRow: each column's bytes,
// valid during the call that receives it only. SQL NULL reads as empty.
using RowView = std::vector<std::string_view>;

// The signed decimal integer at the start of a column's text; 0 for NULL
// (the empty text) or a text that does not begin with one.
[[nodiscard]] std::int64_t integerField(std::string_view text);

// One open connection to the index: statement texts go in, rows or counts
// come out, and nothing is kept between statements. Each statement is sent
// exactly as given (no placeholder or '%' is interpreted); values in it must
// already be escaped (sql_text.h). Every call blocks until the server has
// answered. Used by one thread only. Not copyable or movable: it owns the
// server session, whose temporary tables and transaction belong to it.
//
// The settings are kept, so a session the server has dropped (idle time-out,
// restart) can be opened again with reconnect(); nothing reconnects by
// itself. Each opening tries the settings' servers in their order and
// keeps the first that takes the session, so a reconnection may land on
// another server of the list than the session before.
class IndexConnection {
 public:
  // Opens the connection (exceptions enabled, Latin-1 session, a sql_mode
  // without ANSI_QUOTES and NO_BACKSLASH_ESCAPES, transactions that read
  // committed rows of other sessions as they come) on the first of the
  // settings' servers that takes it; a server that cannot be reached within
  // kConnectTimeoutSeconds, refuses the session or its setup is passed
  // over, and so is a Galera node that is not ready for statements
  // (wsrep_ready OFF). Throws mysqlpp::ConnectionFailed when no server
  // takes it (its
  // text names each server with its reason), when the socket path names no
  // socket, or with the settings' error when they have one.
  explicit IndexConnection(
      const ConnectionSettings& settings = ConnectionSettings::fromEnvironment());
  IndexConnection(const IndexConnection&) = delete;
  IndexConnection& operator=(const IndexConnection&) = delete;

  // Drops the current session and opens a new one with the same settings
  // and the same session setup; a transaction in progress is lost with the
  // old session. Throws what the constructor throws; the connection then
  // stays closed, and every statement fails until a reconnect succeeds.
  void reconnect();

  // Sends a statement that yields rows and returns all of them; a statement
  // without a result gives none. Throws MysqlBadQuery when it is rejected; the
  // connection stays usable.
  [[nodiscard]] std::vector<Row> query(const std::string& statement);

  // Sends a statement that yields rows and hands each row to `visit` as it
  // arrives, without copying it: for results of many thousand rows. Throws
  // MysqlBadQuery when the statement is rejected or the result is cut off;
  // an exception from `visit` propagates once the rest of the result is
  // dropped.
  void forEachRow(const std::string& statement, const std::function<void(const RowView&)>& visit);

  // Sends a statement that yields no rows and returns the number of rows it
  // changed. Throws MysqlBadQuery when it is rejected; the connection stays
  // usable.
  std::uint64_t execute(const std::string& statement);

  // The AUTO_INCREMENT value that the last execute() generated or was given
  // through LAST_INSERT_ID(expr); 0 when it gave none.
  [[nodiscard]] std::uint64_t lastInsertId() const { return insertId; }

  // Sends a statement that yields no rows, for callers that report a
  // rejection and go on: returns the server's reason when it rejects the
  // statement (MysqlBadQuery), nullopt when it ran. A lost connection is a
  // rejection too; other failures propagate.
  [[nodiscard]] std::optional<std::string> tryExecute(const std::string& statement);

  // Sends a statement whose first column holds a number (a count, an id) and
  // returns the first row's value; 0 when there is no row or the value is
  // NULL. Throws MysqlBadQuery when the statement is rejected and
  // mysqlpp::BadConversion when the value is not an unsigned decimal number.
  [[nodiscard]] std::uint64_t count(const std::string& statement);

  // True when the server still answers on this connection (one round
  // trip); false once it has gone away or closed the session. Never throws.
  [[nodiscard]] bool answers();

  // The server the open session is on, as the log names it (serverName;
  // the socket path when the settings name one); empty while the
  // connection is closed or when the settings name no server (the local
  // server's default socket).
  [[nodiscard]] std::string server() const;

  // How long opening a session waits for one server before trying the next.
  static constexpr unsigned kConnectTimeoutSeconds = 10;

  // Time spent waiting for the server in query and execute since the
  // connection opened, for the crawl's timing report.
  [[nodiscard]] std::chrono::nanoseconds statementTime() const { return waited; }

 private:
  void open();
  // Opens a session on one server: a host (empty: the local server's
  // default socket) and port, or a socket path.
  void openOn(const std::string& server, unsigned port, bool socket);
  // False for a Galera node that does not take statements now.
  bool clusterNodeReady();

  const ConnectionSettings settings;
  std::optional<mysqlpp::Connection> connection;
  std::size_t serverAt = 0;  // the servers' entry the session is on
  std::chrono::nanoseconds waited{0};
  std::uint64_t insertId = 0;
};

// The server's or client library's error number of a failure; 0 for one
// that has none.
[[nodiscard]] int errorNumber(const mysqlpp::Exception& failure);

// True when a failure means the session itself is gone or could not be
// opened (a lost or refused connection, an idle time-out, a server shutting
// down, a killed session, a cluster node cut off from its cluster): the
// statement may succeed on a new session.
// False for a statement the server rejected on a live session.
[[nodiscard]] bool isConnectionLoss(const mysqlpp::Exception& failure);

// True when the server rolled the whole transaction back to settle a
// conflict with another session's transaction: a deadlock, or, on a node of
// a Galera cluster, a transaction that a write through another node
// overtook (reported as a deadlock too). Sent again from its start, the
// work may well succeed.
[[nodiscard]] bool isTransactionConflict(const mysqlpp::Exception& failure);

// True when a rejection ended more than the statement: the connection was
// lost or killed, the server is shutting down or is a cluster node cut off
// from its cluster, or the server rolled the whole transaction back to
// break a deadlock. A caller that groups statements in a transaction must
// give the group up then, not go on.
[[nodiscard]] bool endsTransaction(const MysqlBadQuery& rejected);

// True when the statement named a table the index does not have: an index
// made before that table, which the callers read or write without it.
[[nodiscard]] bool isMissingTable(const MysqlBadQuery& rejected);

// A transaction on one connection that is rolled back unless committed, so a
// group of statements is applied whole or not at all. Starts the transaction
// when constructed (throws MysqlBadQuery if the server refuses). Used by the
// connection's thread; the connection must outlive it. Not copyable.
class Transaction {
 public:
  explicit Transaction(IndexConnection& connection);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Rolls back unless commit() succeeded. Never throws, so it is safe while
  // an exception leaves the scope: a rollback that fails is dropped.
  ~Transaction();

  // Makes the statements sent since construction permanent. Throws
  // MysqlBadQuery when the server rejects the commit; the destructor then
  // still rolls back.
  void commit();

 private:
  IndexConnection& connection;
  bool committed = false;
};

}  // namespace theme_search
