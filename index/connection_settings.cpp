#include "index/connection_settings.h"

#include <cstdlib>

namespace theme_search {

namespace {

void override(std::string& value, const char* name) {
  if (const char* set = std::getenv(name)) value = set;
}

}  // namespace

ConnectionSettings ConnectionSettings::fromEnvironment() {
  ConnectionSettings settings;
  override(settings.database, "SE_DB_NAME");
  override(settings.host, "SE_DB_HOST");
  override(settings.user, "SE_DB_USER");
  override(settings.password, "SE_DB_PASSWORD");
  override(settings.socket, "SE_DB_SOCKET");
  if (const char* port = std::getenv("SE_DB_PORT")) settings.port = std::atoi(port);
  return settings;
}

}  // namespace theme_search
