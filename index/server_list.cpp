#include "index/server_list.h"

#include <charconv>

namespace theme_search {

namespace {

constexpr unsigned kLastPort = 65535;
constexpr unsigned kStandardPort = 3306;

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The port of "host:port", or 0 when `text` is not a number from 1 to
// 65535 written in decimal digits only.
unsigned portNumber(std::string_view text) {
  unsigned port = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, port);
  if (text.empty() || error != std::errc() || stop != end || port > kLastPort) return 0;
  return port;
}

// One item of the list, already trimmed; its place counts from 1 for the
// error text.
std::string readItem(std::string_view item, std::size_t place, ServerAddress& server) {
  const std::string named = "SE_DB_HOST: server " + std::to_string(place);
  if (item.empty()) return named + " is empty";
  const std::string quoted = " \"" + std::string(item) + "\"";
  if (item.front() == '/') {
    server.host = std::string(item);
    return "";
  }
  const auto colon = item.find(':');
  server.host = std::string(trimmed(item.substr(0, colon)));
  if (server.host.empty()) return named + quoted + " has no host name";
  if (colon == std::string_view::npos) return "";
  server.port = portNumber(trimmed(item.substr(colon + 1)));
  if (server.port == 0)
    return named + quoted + " has a bad port: a number from 1 to 65535 expected";
  return "";
}

}  // namespace

ServerListReading readServerList(std::string_view text) {
  ServerListReading reading;
  if (trimmed(text).empty()) return reading;
  std::size_t place = 1;
  for (std::size_t start = 0;; ++place) {
    const auto comma = text.find(',', start);
    ServerAddress server;
    reading.error = readItem(trimmed(text.substr(start, comma - start)), place, server);
    if (!reading.error.empty()) {
      reading.servers.clear();
      return reading;
    }
    reading.servers.push_back(std::move(server));
    if (comma == std::string_view::npos) return reading;
    start = comma + 1;
  }
}

std::string serverName(const ServerAddress& server, unsigned defaultPort) {
  if (server.isSocket()) return server.host;
  const unsigned port = server.port != 0 ? server.port : defaultPort;
  return server.host + ":" + std::to_string(port != 0 ? port : kStandardPort);
}

}  // namespace theme_search
