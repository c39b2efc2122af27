#include "index/connection_settings.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"

namespace {

using namespace theme_search;

const char* const kVariables[] = {"SE_DB_HOST", "SE_DB_PORT", "SE_DB_SOCKET",
                                  "SE_DB_NAME", "SE_DB_USER", "SE_DB_PASSWORD"};

void unsetAll() {
  for (const char* name : kVariables) unsetenv(name);
}

// Any one variable, even set to the empty text, is a choice of index: no
// warning. Without any, the line names the settings actually used.
TEST(ConnectionSettings, WarnsOnlyWhenNoVariableIsSet) {
  unsetAll();
  const ConnectionSettings builtIn = ConnectionSettings::fromEnvironment();
  EXPECT_TRUE(builtIn.builtIn);
  EXPECT_EQ(builtInSettingsWarning("crawler", builtIn),
            "crawler: warning: no SE_DB_* variable set; using the built-in index settings: "
            "database search_engine as se_user on the local server's default socket\n");
  for (const char* name : kVariables) {
    for (const char* value : {"", "3307"}) {
      setenv(name, value, 1);
      const ConnectionSettings set = ConnectionSettings::fromEnvironment();
      unsetenv(name);
      EXPECT_FALSE(set.builtIn) << name << "=" << value;
      EXPECT_EQ(builtInSettingsWarning("crawler", set), "") << name << "=" << value;
    }
  }
}

// The environment of a program run: nothing of ours, a client library
// default socket where no server listens, and the given settings.
std::vector<std::string> environment(std::vector<std::string> settings) {
  settings.push_back(std::string("PATH=") + std::getenv("PATH"));
  settings.push_back("MYSQL_UNIX_PORT=/nonexistent/mysqld.sock");
  return settings;
}

const std::string kWarning = ": warning: no SE_DB_* variable set";

// searchcgi as a CGI program writes the line to standard error, the web
// server's error log, and never into the page; the crawler writes it once
// at start. A setting silences both.
TEST(ConnectionSettings, BothProgramsWarnOnceOnStandardErrorOnly) {
  const std::vector<std::string> cgi = {"GATEWAY_INTERFACE=CGI/1.1", "QUERY_STRING=keyword=miel",
                                        "SERVER_NAME=localhost", "SCRIPT_NAME=/cgi-bin/searchcgi"};
  const std::string searchcgi = BINARY_DIR "/searchcgi/searchcgi";
  ProgramRun page = runProgram({searchcgi}, environment(cgi));
  EXPECT_EQ(page.status, 0);
  EXPECT_EQ(linesWith(page.err, "searchcgi" + kWarning), 1) << page.err;
  EXPECT_NE(page.out.find("\n\n"), std::string::npos) << "a whole reply: " << page.out;
  EXPECT_EQ(page.out.find("SE_DB_"), std::string::npos) << page.out;

  std::vector<std::string> chosen = cgi;
  chosen.push_back("SE_DB_NAME=search_engine");
  page = runProgram({searchcgi}, environment(chosen));
  EXPECT_EQ(linesWith(page.err, kWarning), 0) << page.err;

  const std::string workdir = std::filesystem::temp_directory_path().string();
  const std::string crawler = BINARY_DIR "/crawler/crawler";
  ProgramRun crawl = runProgram({crawler, "--until-idle"}, environment({}), workdir);
  EXPECT_EQ(crawl.status, 2) << "no index at start, in batch mode: " << crawl.err;
  EXPECT_EQ(linesWith(crawl.err, "crawler" + kWarning), 1) << crawl.err;
  EXPECT_EQ(linesWith(crawl.out, kWarning), 0) << crawl.out;

  crawl = runProgram({crawler, "--until-idle"},
                     environment({"SE_DB_SOCKET=/nonexistent/mysqld.sock"}), workdir);
  EXPECT_EQ(crawl.status, 2) << crawl.err;
  EXPECT_EQ(linesWith(crawl.err, kWarning), 0) << crawl.err;
}

// A host list that cannot be read never reaches a server: the crawler says
// why and ends as for a bad setting; searchcgi answers every request as
// with the index away, the reason in its log.
TEST(ConnectionSettings, AnUnreadableHostListIsReportedByBothPrograms) {
  const std::string unreadable = "SE_DB_HOST=127.0.0.1,,127.0.0.2";
  const std::string reason = "SE_DB_HOST: server 2 is empty";
  const std::string workdir = std::filesystem::temp_directory_path().string();
  // In batch mode and in console mode alike.
  for (const bool batch : {true, false}) {
    std::vector<std::string> argv = {BINARY_DIR "/crawler/crawler"};
    if (batch) argv.push_back("--until-idle");
    const char* const mode = batch ? "batch" : "console";
    const ProgramRun crawl = runProgram(argv, environment({unreadable}), workdir);
    EXPECT_EQ(crawl.status, 2) << mode << ": " << crawl.err;
    EXPECT_EQ(linesWith(crawl.err, "crawler: " + reason), 1) << mode << ": " << crawl.err;
    EXPECT_EQ(linesWith(crawl.err, "cannot connect"), 0) << mode << ": " << crawl.err;
  }
  const ProgramRun page =
      runProgram({BINARY_DIR "/searchcgi/searchcgi"},
                 environment({unreadable, "GATEWAY_INTERFACE=CGI/1.1", "QUERY_STRING=keyword=miel",
                              "SERVER_NAME=localhost", "SCRIPT_NAME=/cgi-bin/searchcgi"}));
  EXPECT_EQ(page.status, 0);
  EXPECT_EQ(page.out.rfind("Status: 503 ", 0), 0u) << page.out;
  EXPECT_EQ(linesWith(page.err, reason), 1) << page.err;
  EXPECT_EQ(page.out.find(reason), std::string::npos) << "not in the page: " << page.out;
}

}  // namespace
