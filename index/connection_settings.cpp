#include "index/connection_settings.h"

#include <cstdlib>
#include <utility>

namespace theme_search {

namespace {

// Applies the variable `name` when it is set, even to the empty text.
void override(ConnectionSettings& settings, std::string& value, const char* name) {
  if (const char* set = std::getenv(name)) {
    value = set;
    settings.builtIn = false;
  }
}

}  // namespace

ConnectionSettings ConnectionSettings::fromEnvironment() {
  ConnectionSettings settings;
  override(settings, settings.database, "SE_DB_NAME");
  if (const char* hosts = std::getenv("SE_DB_HOST")) {
    ServerListReading reading = readServerList(hosts);
    settings.servers = std::move(reading.servers);
    settings.error = std::move(reading.error);
    settings.builtIn = false;
  }
  override(settings, settings.user, "SE_DB_USER");
  override(settings, settings.password, "SE_DB_PASSWORD");
  override(settings, settings.socket, "SE_DB_SOCKET");
  if (const char* port = std::getenv("SE_DB_PORT")) {
    settings.port = static_cast<unsigned>(std::atoi(port));
    settings.builtIn = false;
  }
  return settings;
}

std::string builtInSettingsWarning(const std::string& program, const ConnectionSettings& settings) {
  if (!settings.builtIn) return "";
  return program +
         ": warning: no SE_DB_* variable set; using the built-in index settings: " + "database " +
         settings.database + " as " + settings.user + " on the local server's default socket\n";
}

}  // namespace theme_search
