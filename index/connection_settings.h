#pragma once

#include <string>
#include <vector>

#include "index/server_list.h"

namespace theme_search {

// Where the index lives. The defaults are the system's fixed settings; the
// environment variables SE_DB_HOST, SE_DB_PORT, SE_DB_SOCKET, SE_DB_NAME,
// SE_DB_USER and SE_DB_PASSWORD override them one by one, so tests and
// deployments can point both programs at another server or database.
// SE_DB_HOST may name several servers (see readServerList): a connection
// tries them in order, each time it opens, and stays on the first that
// answers.
struct ConnectionSettings {
  std::string database = "search_engine";
  // The servers to try, in order; none: the local server through its
  // default socket.
  std::vector<ServerAddress> servers;
  std::string user = "se_user";
  std::string password = "sesame_word";
  unsigned port = 0;   // of a server named without one; 0: 3306
  std::string socket;  // a Unix socket path; used instead of the servers when set
  // Why the settings cannot be used (SE_DB_HOST could not be read); empty
  // when they can. A connection with such settings never opens.
  std::string error;
  // True while no SE_DB_* variable has been applied: every value is the
  // built-in one.
  bool builtIn = true;

  // The defaults with every SE_DB_* variable that is set applied.
  static ConnectionSettings fromEnvironment();
};

// The one warning line a program writes at start when no SE_DB_* variable
// chose its index, naming the built-in settings it falls back to (a user
// may well have meant another server); empty when a variable was set.
// `program` begins the line. Pure.
[[nodiscard]] std::string builtInSettingsWarning(const std::string& program,
                                                 const ConnectionSettings& settings);

}  // namespace theme_search
