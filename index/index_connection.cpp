#include "index_connection.h"

#include <uds_connection.h>

#include <sstream>
#include <vector>

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

}  // namespace

IndexConnection::IndexConnection(const ConnectionSettings& settings)
    : connection(true), query(connection.query()) {
  // MySQL++ takes ownership of the option object.
  connection.set_option(new mysqlpp::SetCharsetNameOption("latin1"));
  // A socket path that names no socket would be read as a host name and
  // reported as a bad TCP/IP address; say what is wrong with it instead.
  std::string socketError;
  if (!settings.socket.empty() &&
      !mysqlpp::UnixDomainSocketConnection::is_socket(settings.socket.c_str(), &socketError))
    throw mysqlpp::ConnectionFailed(("socket " + settings.socket + ": " + socketError).c_str());
  const std::string& server = settings.socket.empty() ? settings.host : settings.socket;
  connection.connect(settings.database.c_str(), server.empty() ? nullptr : server.c_str(),
                     settings.user.c_str(), settings.password.c_str(), settings.port);
  query = connection.query();
  mysqlpp::StoreQueryResult modes = query.store("SELECT @@SESSION.sql_mode");
  std::string current =
      modes.empty() ? std::string() : std::string(modes[0][0].data(), modes[0][0].length());
  query.reset();
  query.execute("SET SESSION sql_mode = '" + withoutQuotingModes(current) + "'");
  query.reset();
}

std::string IndexConnection::takeStatement() {
  std::string text = query.str();
  query.reset();
  return text;
}

void IndexConnection::storeStatement(const std::string& text) {
  query << text;
  result = store();
  cursor = 0;
}

void IndexConnection::executeStatement(const std::string& text) {
  query << text;
  execute();
}

mysqlpp::StoreQueryResult IndexConnection::store() {
  std::string text = takeStatement();
  return query.store(text.data(), text.size());
}

void IndexConnection::execute() {
  std::string text = takeStatement();
  query.execute(text.data(), text.size());
}

std::string IndexConnection::nextUrl() {
  if (cursor >= result.num_rows()) return std::string();
  const mysqlpp::String& field = result[cursor]["url"];
  ++cursor;
  return std::string(field.data(), field.length());
}
