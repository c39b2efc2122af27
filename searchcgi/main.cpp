// searchcgi: the search page. Started by a web server as a CGI program, it
// answers the one request of its environment and exits. Started by a FastCGI
// server (its standard input is then a listening socket), it answers
// requests one after the other and keeps its index connection between them.
// Either way it writes the same reply for the same request, takes its index
// settings (SE_DB_*) from its own environment, and exits with status 0.
// Started from a shell, it also takes --help and --version (status 2 for
// anything else).
#include <fcgiapp.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/log_line.h"
#include "index/connection_settings.h"
#include "searchcgi/command_line.h"
#include "searchcgi/fastcgi_stream.h"
#include "searchcgi/search_request.h"

namespace {

using namespace theme_search;

// Descriptors 0 to 2 must be open, or the pipes of the spelling checker
// could take their numbers.
void openStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void serveCgi(IndexSession& session) {
  const CgiRequest request = cgiRequest([](const char* name) { return std::getenv(name); });
  serveRequest(session, request, std::cout, std::cerr);
}

// Answers FastCGI requests on standard input until the server closes it.
void serveFastCgi(IndexSession& session) {
  if (FCGX_Init() != 0) return;
  FCGX_Request exchange;
  if (FCGX_InitRequest(&exchange, 0, 0) != 0) return;
  while (FCGX_Accept_r(&exchange) >= 0) {
    const CgiRequest request =
        cgiRequest([&](const char* name) { return FCGX_GetParam(name, exchange.envp); });
    FastCgiOutput output(exchange.out);
    std::ostream page(&output);
    serveRequest(session, request, page, std::cerr);
    FCGX_Finish_r(&exchange);
  }
}

// The readable views' ranking weights: SE_RANKING_WEIGHTS over the
// defaults; a text that cannot be read leaves the defaults, with one log line.
RankingWeights rankingWeights() {
  const char* text = std::getenv("SE_RANKING_WEIGHTS");
  if (!text) return {};
  if (const std::optional<RankingWeights> weights = parseRankingWeights(text)) return *weights;
  writeLog(std::cerr,
           std::string("searchcgi: SE_RANKING_WEIGHTS ignored, not readable: ") + text + "\n");
  return {};
}

// Exit statuses: the request answered (an error page included), and a bad
// command line.
constexpr int kDone = 0;
constexpr int kBadOption = 2;

// Answers --help or --version, or reports a bad option, with the exit
// status; nullopt when the program should serve.
std::optional<int> answerCommandLine(const std::vector<std::string>& arguments) {
  const SearchCgiCommandLine line = readSearchCgiCommandLine(arguments);
  if (!line.error.empty()) {
    writeLog(std::cerr, line.error + searchCgiUsage());
    return kBadOption;
  }
  if (line.options.help) {
    writeLog(std::cout, searchCgiUsage());
    return kDone;
  }
  if (line.options.version) {
    writeLog(std::cout, "searchcgi (theme search) " THEME_SEARCH_VERSION "\n");
    return kDone;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  openStandardDescriptors();
  const bool cgi = FCGX_IsCGI();
  if (argumentsAreOptions(!cgi, std::getenv("GATEWAY_INTERFACE"))) {
    if (const std::optional<int> status = answerCommandLine({argv + 1, argv + argc}))
      return *status;
  }
  const ConnectionSettings settings = ConnectionSettings::fromEnvironment();
  // Standard error: the web server's error log, never the page.
  writeLog(std::cerr, builtInSettingsWarning("searchcgi", settings));
  // A FastCGI process keeps the whole index's ranking figures between its
  // requests; a CGI process reads those of its one query.
  IndexSession session(settings,
                       cgi ? IndexFigures::Scope::queryPages : IndexFigures::Scope::wholeIndex,
                       rankingWeights());
  if (cgi)
    serveCgi(session);
  else
    serveFastCgi(session);
  return kDone;
}
