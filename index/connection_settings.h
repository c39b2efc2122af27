#pragma once

#include <string>

namespace theme_search {

// Where the index lives. The defaults are the system's fixed settings; the
// environment variables SE_DB_HOST, SE_DB_PORT, SE_DB_SOCKET, SE_DB_NAME,
// SE_DB_USER and SE_DB_PASSWORD override them one by one, so tests and
// deployments can point both programs at another server or database.
struct ConnectionSettings {
  std::string database = "search_engine";
  std::string host;  // empty: the local server through its default socket
  std::string user = "se_user";
  std::string password = "sesame_word";
  unsigned port = 0;   // 0: the client library's default, 3306
  std::string socket;  // a Unix socket path; used instead of host when set
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
