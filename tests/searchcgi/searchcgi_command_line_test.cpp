#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "searchcgi/command_line.h"

namespace {

using namespace theme_search;
using Arguments = std::vector<std::string>;

const std::string kSearchCgi = BINARY_DIR "/searchcgi/searchcgi";
const std::string kCrawler = BINARY_DIR "/crawler/crawler";

std::string joined(const Arguments& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += "[" + argument + "]";
  return text;
}

TEST(SearchCgiCommandLine, ReadsHelpAndVersionAndNamesAnythingElse) {
  struct Case {
    Arguments arguments;
    bool help, version;
    std::string error;
  } cases[] = {
      {{}, false, false, ""},
      {{"--help"}, true, false, ""},
      {{"--version"}, false, true, ""},
      {{"--version", "--help"}, true, true, ""},
      {{"--bogus"}, false, false, "searchcgi: unknown option: --bogus\n"},
      {{"--help", "-x", "--bogus"}, true, false, "searchcgi: unknown option: -x\n"},
      {{"--version=2"}, false, false, "searchcgi: unknown option: --version=2\n"},
      {{"abeille"}, false, false, "searchcgi: unexpected argument: abeille\n"},
      {{""}, false, false, "searchcgi: unexpected argument: \n"},
  };
  for (const Case& c : cases) {
    const SearchCgiCommandLine line = readSearchCgiCommandLine(c.arguments);
    EXPECT_EQ(line.error, c.error) << joined(c.arguments);
    if (!c.error.empty()) continue;
    EXPECT_EQ(line.options.help, c.help) << joined(c.arguments);
    EXPECT_EQ(line.options.version, c.version) << joined(c.arguments);
  }
}

// Started by a web server (FastCGI, or GATEWAY_INTERFACE set), the
// arguments are not options: a server may pass a query's words there.
TEST(SearchCgiCommandLine, ArgumentsAreOptionsOnlyFromAShell) {
  EXPECT_TRUE(argumentsAreOptions(false, nullptr));
  EXPECT_FALSE(argumentsAreOptions(false, "CGI/1.1"));
  EXPECT_FALSE(argumentsAreOptions(false, ""));
  EXPECT_FALSE(argumentsAreOptions(true, nullptr));
  EXPECT_FALSE(argumentsAreOptions(true, "CGI/1.1"));
}

std::vector<std::string> environment(std::vector<std::string> variables = {}) {
  variables.push_back(std::string("PATH=") + std::getenv("PATH"));
  variables.push_back("SE_DB_SOCKET=/nonexistent/mysqld.sock");
  return variables;
}

// The version after the program's name, or "" when the line is not
// "NAME (theme search) X.Y.Z".
std::string versionOf(const std::string& name, const std::string& line) {
  std::smatch match;
  const std::regex form(name + R"( \(theme search\) ([0-9]+\.[0-9]+\.[0-9]+)\n)");
  return std::regex_match(line, match, form) ? match[1].str() : "";
}

TEST(SearchCgiCommandLine, TheProgramAnswersItsOptionsAndRefusesOthersWithStatus2) {
  const ProgramRun version = runProgram({kSearchCgi, "--version"}, environment());
  const ProgramRun crawlerVersion = runProgram({kCrawler, "--version"}, environment());
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(versionOf("searchcgi", version.out), "") << version.out;
  EXPECT_EQ(versionOf("searchcgi", version.out), versionOf("crawler", crawlerVersion.out))
      << version.out << crawlerVersion.out;
  EXPECT_EQ(version.err, "");

  const ProgramRun help = runProgram({kSearchCgi, "--help"}, environment());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, searchCgiUsage());

  for (const Arguments& bad : {Arguments{"--bogus"}, Arguments{"--help", "abeille"}}) {
    Arguments argv = {kSearchCgi};
    argv.insert(argv.end(), bad.begin(), bad.end());
    const ProgramRun refused = runProgram(argv, environment());
    EXPECT_EQ(refused.status, 2) << joined(bad);
    EXPECT_EQ(refused.out, "") << joined(bad);
    EXPECT_EQ(refused.err, readSearchCgiCommandLine(bad).error + searchCgiUsage()) << joined(bad);
  }
}

// A query without "=" comes as arguments from some servers: the program
// answers the request (here an index that cannot be reached: a 503 page)
// instead of refusing them.
TEST(SearchCgiCommandLine, UnderAWebServerArgumentsAreIgnored) {
  const ProgramRun page =
      runProgram({kSearchCgi, "--bogus", "abeille"},
                 environment({"GATEWAY_INTERFACE=CGI/1.1", "QUERY_STRING=abeille",
                              "SERVER_NAME=localhost", "SCRIPT_NAME=/cgi-bin/searchcgi"}));
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(page.out.rfind("Status: 503", 0), 0u) << page.out;
  EXPECT_EQ(page.err.find("unknown option"), std::string::npos) << page.err;
}

}  // namespace
