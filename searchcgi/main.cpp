// searchcgi: the search page, run by a web server once per request (CGI).
// Reads QUERY_STRING, SERVER_NAME and SCRIPT_NAME, writes the HTTP header and
// the result page to standard output, and always exits with status 0.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "index/connection_settings.h"
#include "searchcgi/search_request.h"

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

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

}  // namespace

int main() {
  openStandardDescriptors();
  const theme_search::CgiRequest request{environment("QUERY_STRING"), environment("SERVER_NAME"),
                                         environment("SCRIPT_NAME")};
  theme_search::serveRequest(theme_search::ConnectionSettings::fromEnvironment(), request,
                             std::cout, std::cerr);
  return 0;
}
