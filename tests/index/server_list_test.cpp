#include "index/server_list.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

std::string shown(const std::vector<ServerAddress>& servers) {
  std::string text;
  for (const ServerAddress& server : servers)
    text += "[" + server.host + "|" + std::to_string(server.port) + "]";
  return text;
}

TEST(ServerList, ReadsHostsPortsAndSocketsInOrder) {
  struct Case {
    const char* text;
    std::vector<ServerAddress> servers;
  };
  const Case cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"db.lan", {{"db.lan", 0}}},
      {"h1,h2:3307,h3", {{"h1", 0}, {"h2", 3307}, {"h3", 0}}},
      {" h1 , h2 : 3307 ,\th3\t", {{"h1", 0}, {"h2", 3307}, {"h3", 0}}},
      {"127.0.0.1:1,127.0.0.2:65535", {{"127.0.0.1", 1}, {"127.0.0.2", 65535}}},
      {"/run/mysqld/mysqld.sock,db.lan:3306", {{"/run/mysqld/mysqld.sock", 0}, {"db.lan", 3306}}},
      {"/odd:path.sock", {{"/odd:path.sock", 0}}},
      {"h1,h1", {{"h1", 0}, {"h1", 0}}},
  };
  for (const Case& c : cases) {
    const ServerListReading reading = readServerList(c.text);
    EXPECT_EQ(reading.error, "") << "text: " << c.text;
    EXPECT_EQ(shown(reading.servers), shown(c.servers)) << "text: " << c.text;
  }
}

TEST(ServerList, NamesTheItemThatCannotBeRead) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"h1,,h3", "SE_DB_HOST: server 2 is empty"},
      {"h1,", "SE_DB_HOST: server 2 is empty"},
      {",h1", "SE_DB_HOST: server 1 is empty"},
      {"h1, ,h2", "SE_DB_HOST: server 2 is empty"},
      {":3307", "SE_DB_HOST: server 1 \":3307\" has no host name"},
      {"h1, :3307", "SE_DB_HOST: server 2 \":3307\" has no host name"},
      {"h1:", "SE_DB_HOST: server 1 \"h1:\" has a bad port: a number from 1 to 65535 expected"},
      {"h1:0", "SE_DB_HOST: server 1 \"h1:0\" has a bad port: a number from 1 to 65535 expected"},
      {"h1,h2:65536",
       "SE_DB_HOST: server 2 \"h2:65536\" has a bad port: a number from 1 to 65535 expected"},
      {"h1:99999999999",
       "SE_DB_HOST: server 1 \"h1:99999999999\" has a bad port: a number from 1 "
       "to 65535 expected"},
      {"h1:33o7",
       "SE_DB_HOST: server 1 \"h1:33o7\" has a bad port: a number from 1 to 65535 expected"},
      {"h1:-1", "SE_DB_HOST: server 1 \"h1:-1\" has a bad port: a number from 1 to 65535 expected"},
      {"h1:+3", "SE_DB_HOST: server 1 \"h1:+3\" has a bad port: a number from 1 to 65535 expected"},
      {"h1:3307:1",
       "SE_DB_HOST: server 1 \"h1:3307:1\" has a bad port: a number from 1 to 65535 expected"},
      {"::1", "SE_DB_HOST: server 1 \"::1\" has no host name"},
      {"h1:http",
       "SE_DB_HOST: server 1 \"h1:http\" has a bad port: a number from 1 to 65535 "
       "expected"},
  };
  for (const Case& c : cases) {
    const ServerListReading reading = readServerList(c.text);
    EXPECT_EQ(reading.error, c.error) << "text: " << c.text;
    EXPECT_TRUE(reading.servers.empty()) << "text: " << c.text << " " << shown(reading.servers);
  }
}

TEST(ServerList, NamesAServerWithTheDefaultPortItStandsFor) {
  EXPECT_EQ(serverName({"h1", 0}, 0), "h1:3306");
  EXPECT_EQ(serverName({"h1", 0}, 3310), "h1:3310");
  EXPECT_EQ(serverName({"h1", 3307}, 3310), "h1:3307");
  EXPECT_EQ(serverName({"/run/mysqld/mysqld.sock", 0}, 3310), "/run/mysqld/mysqld.sock");
}

}  // namespace
