#include "searchcgi/command_line.h"

namespace theme_search {

namespace {

const char kUsage[] =
    "usage: searchcgi\n"
    "       searchcgi --help | --version\n"
    "The search page, run by a web server as a CGI program (one request per\n"
    "process, from QUERY_STRING, SERVER_NAME, SCRIPT_NAME and PATH_INFO) or as a\n"
    "FastCGI program (standard input a listening socket). Run from a shell it\n"
    "answers the one request of its environment on standard output.\n"
    "  --help      print this text\n"
    "  --version   print the program's name and version\n"
    "Options are read only when no web server started the program (GATEWAY_INTERFACE\n"
    "unset, standard input not a FastCGI socket).\n"
    "Environment: SE_DB_HOST, SE_DB_PORT, SE_DB_SOCKET, SE_DB_NAME, SE_DB_USER and\n"
    "SE_DB_PASSWORD choose the index database; SE_LANGUAGE the readable page's\n"
    "language (fr, en); SE_RANKING_WEIGHTS the relevance order's weights;\n"
    "ASPELL_CONF the spelling checker's language and encoding.\n"
    "Exit status: 0 once the request is answered (an error page included), 2 for a\n"
    "bad option.\n";

}  // namespace

bool argumentsAreOptions(bool fastCgi, const char* gatewayInterface) {
  return !fastCgi && gatewayInterface == nullptr;
}

SearchCgiCommandLine readSearchCgiCommandLine(const std::vector<std::string>& arguments) {
  SearchCgiCommandLine reading;
  for (const std::string& argument : arguments) {
    if (argument == "--help") {
      reading.options.help = true;
    } else if (argument == "--version") {
      reading.options.version = true;
    } else {
      const bool option = !argument.empty() && argument[0] == '-';
      reading.error = std::string("searchcgi: ") +
                      (option ? "unknown option: " : "unexpected argument: ") + argument + "\n";
      break;
    }
  }
  return reading;
}

const char* searchCgiUsage() {
  return kUsage;
}

}  // namespace theme_search
