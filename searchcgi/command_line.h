#pragma once

#include <string>
#include <vector>

namespace theme_search {

// The command line of searchcgi. A web server starts the program without
// options, and may pass the words of a query that has no "=" as arguments
// (the CGI convention for such queries), so arguments are options only when
// the program was started from a shell.

// What the command line asks for. A plain value.
struct SearchCgiOptions {
  bool help = false;
  bool version = false;
};

// The options read, or the reason they could not be: one whole line that
// names the unknown option or the unexpected argument (empty when read).
struct SearchCgiCommandLine {
  SearchCgiOptions options;
  std::string error;
};

// Whether the arguments are the program's options: not under FastCGI, and
// not when `gatewayInterface` (the CGI variable GATEWAY_INTERFACE, nullptr
// when unset) says a web server started the program. Pure.
[[nodiscard]] bool argumentsAreOptions(bool fastCgi, const char* gatewayInterface);

// Reads the arguments after the program name: --help and --version, in any
// order. Anything else is an error; the first one found is reported. Pure.
[[nodiscard]] SearchCgiCommandLine readSearchCgiCommandLine(
    const std::vector<std::string>& arguments);

// The usage text, several whole lines.
[[nodiscard]] const char* searchCgiUsage();

}  // namespace theme_search
