#pragma once

#include <ostream>
#include <string>

#include "index/connection_settings.h"
#include "index/index_connection.h"
#include "searchcgi/spelling.h"

namespace theme_search {

// One CGI request of the search page, from its environment to the whole
// reply. Single-threaded; one request per process.

// The CGI variables the search reads; a missing one is the empty text.
struct CgiRequest {
  std::string queryString;  // QUERY_STRING
  std::string serverName;   // SERVER_NAME, for the navigation links
  std::string scriptName;   // SCRIPT_NAME, for the navigation links
};

// Removes a scratch table left by an earlier search on this connection.
inline constexpr const char* dropScratchTable = "drop table if exists tmp;";

// Writes the page body after the head: the word lines (with spelling blocks
// when asked), the count line, the resultsPerPage entries, the navigation and
// the page end. Blocks on the database and the spelling checker; throws
// mysqlpp::Exception when a statement is rejected, with the lines written so
// far left on the page.
void writeResultBody(IndexConnection& index, const CgiRequest& request, std::ostream& page,
                     const CheckerCommand& checkerCommand = spellCommand);

// Answers the request on page: opens the index and clears the scratch table,
// then writes the head and the body. Never throws: an index that cannot be
// reached gives the 503 reply, a search that fails after the head ends the
// page with one failure line. The reason goes to log as one line.
void serveRequest(const ConnectionSettings& settings, const CgiRequest& request, std::ostream& page,
                  std::ostream& log, const CheckerCommand& checkerCommand = spellCommand);

}  // namespace theme_search
