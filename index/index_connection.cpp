#include "index/index_connection.h"

#include <uds_connection.h>

#include <charconv>
#include <sstream>

#include "index/sql_text.h"

namespace theme_search {

namespace {

// The session's sql_mode with ANSI_QUOTES and NO_BACKSLASH_ESCAPES removed,
// so double-quoted literals and backslash escapes mean what the statements
// intend whatever the server's configuration.
std::string withoutQuotingModes(const std::string& modes) {
  std::istringstream in(modes);
  std::string mode, kept;
  while (std::getline(in, mode, ',')) {
    if (mode.empty() || mode == "ANSI_QUOTES" || mode == "NO_BACKSLASH_ESCAPES" || mode == "ANSI")
      continue;
    if (!kept.empty()) kept += ',';
    kept += mode;
  }
  return kept;
}

std::string fieldText(const mysqlpp::String& field) {
  // The library gives a NULL field the text "NULL"; callers read it as empty.
  if (field.is_null()) return std::string();
  return std::string(field.data(), field.length());
}

// The value of a decimal text; the empty text (a NULL) is 0.
std::uint64_t unsignedNumber(const std::string& text) {
  std::uint64_t value = 0;
  if (text.empty()) return value;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end)
    throw mysqlpp::BadConversion(("not an unsigned number: " + text).c_str());
  return value;
}

}  // namespace

std::int64_t integerField(std::string_view text) {
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

namespace {

// Adds the time from construction to destruction to a total.
class Stopwatch {
 public:
  explicit Stopwatch(std::chrono::nanoseconds& total)
      : total(total), start(std::chrono::steady_clock::now()) {}
  ~Stopwatch() { total += std::chrono::steady_clock::now() - start; }
  Stopwatch(const Stopwatch&) = delete;
  Stopwatch& operator=(const Stopwatch&) = delete;

 private:
  std::chrono::nanoseconds& total;
  const std::chrono::steady_clock::time_point start;
};

// The server's error number for a table the database does not have.
constexpr int noSuchTableError = 1146;  // ER_NO_SUCH_TABLE
// Server error numbers of a rejection that ends the transaction.
constexpr int deadlockError = 1213;     // ER_LOCK_DEADLOCK
constexpr int shutdownError = 1053;     // ER_SERVER_SHUTDOWN
constexpr int killedError = 1927;       // ER_CONNECTION_KILLED
constexpr int firstClientError = 2000;  // CR_MIN_ERROR: the client
constexpr int lastClientError = 2999;   // library's own errors, such as
                                        // a lost connection
// Client and server error numbers of a session that is gone.
constexpr int connectError = 2002;        // CR_CONNECTION_ERROR (socket)
constexpr int hostConnectError = 2003;    // CR_CONN_HOST_ERROR
constexpr int serverGoneError = 2006;     // CR_SERVER_GONE_ERROR
constexpr int serverLostError = 2013;     // CR_SERVER_LOST
constexpr int serverLostExtended = 2055;  // CR_SERVER_LOST_EXTENDED
constexpr int idleTimeoutError = 4031;    // ER_CLIENT_INTERACTION_TIMEOUT
constexpr int abortedConnection = 1152;   // ER_ABORTING_CONNECTION
constexpr int nodeNotReady = 1047;        // ER_UNKNOWN_COM_ERROR: what a
                                          // Galera node outside its
                                          // cluster's primary component
                                          // answers

}  // namespace

int errorNumber(const mysqlpp::Exception& failure) {
  if (const auto* rejected = dynamic_cast<const MysqlBadQuery*>(&failure))
    return rejected->errnum();
  if (const auto* refused = dynamic_cast<const mysqlpp::ConnectionFailed*>(&failure))
    return refused->errnum();
  return 0;
}

bool isTransactionConflict(const mysqlpp::Exception& failure) {
  const auto* rejected = dynamic_cast<const MysqlBadQuery*>(&failure);
  return rejected && rejected->errnum() == deadlockError;
}

bool endsTransaction(const MysqlBadQuery& rejected) {
  const int error = rejected.errnum();
  return error == deadlockError || error == shutdownError || error == killedError ||
         error == nodeNotReady || (error >= firstClientError && error <= lastClientError);
}

bool isMissingTable(const MysqlBadQuery& rejected) {
  return rejected.errnum() == noSuchTableError;
}

bool isConnectionLoss(const mysqlpp::Exception& failure) {
  int error = 0;
  if (const auto* rejected = dynamic_cast<const MysqlBadQuery*>(&failure))
    error = rejected->errnum();
  else if (const auto* refused = dynamic_cast<const mysqlpp::ConnectionFailed*>(&failure))
    // Not opened at all: the server or its socket is away (error number 0
    // comes from the library itself, such as a socket path that names no
    // socket now that the server has stopped).
    return refused->errnum() == 0 ||
           (refused->errnum() >= firstClientError && refused->errnum() <= lastClientError) ||
           refused->errnum() == shutdownError;
  else
    return false;
  return error == connectError || error == hostConnectError || error == serverGoneError ||
         error == serverLostError || error == serverLostExtended || error == shutdownError ||
         error == killedError || error == idleTimeoutError || error == abortedConnection ||
         error == nodeNotReady;
}

IndexConnection::IndexConnection(const ConnectionSettings& settings) : settings(settings) {
  open();
}

void IndexConnection::reconnect() {
  connection.reset();
  open();
}

void IndexConnection::open() {
  if (!settings.error.empty()) throw mysqlpp::ConnectionFailed(settings.error.c_str());
  if (!settings.socket.empty() || settings.servers.empty()) {
    openOn(settings.socket, settings.port, !settings.socket.empty());
    return;
  }
  // Each server in turn; when none answers, the failure names each
  // server with its own reason.
  std::string reasons;
  int lastError = 0;
  for (std::size_t at = 0; at < settings.servers.size(); ++at) {
    const ServerAddress& server = settings.servers[at];
    try {
      openOn(server.host, server.port != 0 ? server.port : settings.port, server.isSocket());
      serverAt = at;
      return;
    } catch (const mysqlpp::Exception& failure) {
      if (!reasons.empty()) reasons += "; ";
      reasons += serverName(server, settings.port) + ": " + failure.what();
      lastError = errorNumber(failure);
    }
  }
  throw mysqlpp::ConnectionFailed(reasons.c_str(), lastError);
}

void IndexConnection::openOn(const std::string& server, unsigned port, bool socket) {
  // A socket path that names no socket would be read as a host name and
  // reported as a bad TCP/IP address; say what is wrong with it instead.
  std::string socketError;
  if (socket && !mysqlpp::UnixDomainSocketConnection::is_socket(server.c_str(), &socketError))
    throw mysqlpp::ConnectionFailed(("socket " + server + ": " + socketError).c_str());
  connection.emplace(true);
  try {
    // MySQL++ takes ownership of the option objects (set only once nothing
    // can fail before connect, which is what hands them on). The time-out
    // keeps a server that drops packets from holding up the next one.
    connection->set_option(new mysqlpp::SetCharsetNameOption("latin1"));
    connection->set_option(new mysqlpp::ConnectTimeoutOption(kConnectTimeoutSeconds));
    connection->connect(settings.database.c_str(), server.empty() ? nullptr : server.c_str(),
                        settings.user.c_str(), settings.password.c_str(), port);
    // The session setup belongs to the session: a new one needs it again.
    const std::vector<Row> modes = query("SELECT @@SESSION.sql_mode");
    const std::string current = modes.empty() || modes[0].empty() ? std::string() : modes[0][0];
    execute("SET SESSION sql_mode = '" + escapeSql(withoutQuotingModes(current)) + "'");
    // Each statement reads what other sessions have committed so far, not
    // what they had when the transaction began: a keyword that another
    // crawler added meanwhile is skipped by INSERT IGNORE and must then be
    // found by the read that follows.
    execute("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED");
    // A Galera node outside its cluster's primary component (cut off, or
    // still joining) takes sessions but no statement on a table: passed
    // over as a server that is away.
    if (!clusterNodeReady())
      throw mysqlpp::ConnectionFailed("a cluster node not ready for statements (wsrep_ready OFF)");
  } catch (...) {
    connection.reset();
    throw;
  }
}

// A server that is no cluster node (no wsrep_on variable, or it is OFF)
// counts as ready.
bool IndexConnection::clusterNodeReady() {
  const auto value = [this](const std::string& statement) {
    const std::vector<Row> rows = query(statement);
    return rows.empty() || rows[0].size() < 2 ? std::string() : rows[0][1];
  };
  return value("SHOW VARIABLES LIKE 'wsrep_on'") != "ON" ||
         value("SHOW STATUS LIKE 'wsrep_ready'") == "ON";
}

std::string IndexConnection::server() const {
  if (!connection) return "";
  if (!settings.socket.empty()) return settings.socket;
  if (settings.servers.empty()) return "";
  return serverName(settings.servers.at(serverAt), settings.port);
}

std::vector<Row> IndexConnection::query(const std::string& statement) {
  const Stopwatch stopwatch(waited);
  if (!connection) throw MysqlBadQuery("not connected to the index database", serverGoneError);
  mysqlpp::Query sender = connection->query();
  const mysqlpp::StoreQueryResult result = sender.store(statement.data(), statement.size());
  std::vector<Row> rows;
  rows.reserve(result.num_rows());
  for (const mysqlpp::Row& fields : result) {
    Row& row = rows.emplace_back();
    row.reserve(fields.size());
    for (const mysqlpp::String& field : fields) row.push_back(fieldText(field));
  }
  return rows;
}

void IndexConnection::forEachRow(const std::string& statement,
                                 const std::function<void(const RowView&)>& visit) {
  const Stopwatch stopwatch(waited);
  if (!connection) throw MysqlBadQuery("not connected to the index database", serverGoneError);
  mysqlpp::Query sender = connection->query();
  mysqlpp::UseQueryResult result = sender.use(statement.data(), statement.size());
  if (!result) return;
  RowView fields(result.num_fields());
  while (const MYSQL_ROW row = result.fetch_raw_row()) {
    const unsigned long* lengths = result.fetch_lengths();
    for (std::size_t i = 0; i < fields.size(); ++i)
      fields[i] = row[i] ? std::string_view(row[i], lengths[i]) : std::string_view();
    visit(fields);
  }
  // The end of the rows and a result cut off both end the loop.
  if (connection->errnum() != 0) throw MysqlBadQuery(connection->error(), connection->errnum());
}

std::uint64_t IndexConnection::execute(const std::string& statement) {
  const Stopwatch stopwatch(waited);
  if (!connection) throw MysqlBadQuery("not connected to the index database", serverGoneError);
  mysqlpp::Query sender = connection->query();
  insertId = 0;
  const mysqlpp::SimpleResult result = sender.execute(statement.data(), statement.size());
  insertId = result.insert_id();
  return result.rows();
}

std::optional<std::string> IndexConnection::tryExecute(const std::string& statement) {
  try {
    execute(statement);
  } catch (const MysqlBadQuery& rejected) {
    return std::string(rejected.what());
  }
  return std::nullopt;
}

std::uint64_t IndexConnection::count(const std::string& statement) {
  const std::vector<Row> rows = query(statement);
  if (rows.empty() || rows.front().empty()) return 0;
  return unsignedNumber(rows.front().front());
}

bool IndexConnection::answers() {
  try {
    return connection && connection->ping();
  } catch (const mysqlpp::Exception&) {
    return false;
  }
}

Transaction::Transaction(IndexConnection& connection) : connection(connection) {
  connection.execute("START TRANSACTION");
}

Transaction::~Transaction() {
  if (committed) return;
  try {
    connection.execute("ROLLBACK");
  } catch (...) {
    // A destructor must not throw; the transaction ends with the session.
  }
}

void Transaction::commit() {
  connection.execute("COMMIT");
  committed = true;
}

}  // namespace theme_search
