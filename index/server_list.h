#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// One database server of the connection settings: a host name or address
// with its TCP port, or the path of a Unix socket. A value.
struct ServerAddress {
  std::string host;   // a host name or address; a socket path begins with '/'
  unsigned port = 0;  // 0: the settings' own port (SE_DB_PORT), else 3306

  [[nodiscard]] bool isSocket() const { return !host.empty() && host.front() == '/'; }
  [[nodiscard]] bool operator==(const ServerAddress& other) const {
    return host == other.host && port == other.port;
  }
};

// The servers a list names, in its order, or why it cannot be read.
struct ServerListReading {
  std::vector<ServerAddress> servers;
  std::string error;  // empty when the list was read
};

// Reads SE_DB_HOST: servers separated by commas, each "host", "host:port"
// or a socket path ("/run/mysqld/mysqld.sock", taken whole), blanks around
// each ignored. A text of blanks only names no server (the local server's
// default socket). An empty item, a port without its host, and a port that
// is not a decimal number from 1 to 65535 are errors, whose text names the
// item by its place and its text. Pure.
[[nodiscard]] ServerListReading readServerList(std::string_view text);

// How the log names a server: "host:port" (the port `defaultPort` stands
// for when the server has none, 3306 when that is 0 too), or the socket
// path. Pure.
[[nodiscard]] std::string serverName(const ServerAddress& server, unsigned defaultPort);

}  // namespace theme_search
