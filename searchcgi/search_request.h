#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "index/connection_settings.h"
#include "index/index_connection.h"
#include "searchcgi/relevance.h"
#include "searchcgi/spelling.h"

namespace theme_search {

// One request of the search page, from its CGI variables to the whole reply.
// The same code answers a request of a CGI process (one per process) and
// each request of a FastCGI process (many per process, one at a time).

// The CGI variables the search reads; a missing one is the empty text,
// except SERVER_PORT, whose absence the navigation links tell apart.
struct CgiRequest {
  std::string queryString;                // QUERY_STRING
  std::string serverName;                 // SERVER_NAME, for the navigation links
  std::string scriptName;                 // SCRIPT_NAME, for the navigation links
  std::optional<std::string> serverPort;  // SERVER_PORT, for the navigation links
  bool https = false;                     // HTTPS set, and not to "off"
  std::string pathInfo;                   // PATH_INFO: the view ("/html", "/json")
};

// The forms a search's answer takes: the plain result page (the default),
// the HTML view for readers and the JSON view for programs.
enum class ResultView { plain, readable, json };

// The view PATH_INFO asks for: "/html" or "/json"; anything else is the
// plain page.
[[nodiscard]] ResultView resultViewOf(const std::string& pathInfo);

// The request from its variables; variable returns a variable's value, or
// nullptr when it is not set (getenv, or a lookup in FastCGI parameters).
[[nodiscard]] CgiRequest cgiRequest(const std::function<const char*(const char*)>& variable);

// The index connection of a search process, kept from one request to the
// next and opened again when the server has gone. Used by the process's one
// request thread; not copyable.
class IndexSession {
 public:
  // `figures`: how much of the index the ranking's figures hold (a process
  // that answers many requests keeps the whole index's).
  explicit IndexSession(ConnectionSettings settings,
                        IndexFigures::Scope figures = IndexFigures::Scope::queryPages,
                        RankingWeights weights = {});
  IndexSession(const IndexSession&) = delete;
  IndexSession& operator=(const IndexSession&) = delete;

  // The open connection, checked with one round trip when it was opened by
  // an earlier request, opened (again) when there is none or it no longer
  // answers. Blocks on the server; throws mysqlpp::ConnectionFailed when it
  // cannot be reached.
  IndexConnection& connection();

  // Closes the connection, so the next request starts with a new one.
  void close();

  // What the readable views' ranking reads of the whole index, kept from
  // one request to the next.
  IndexFigures& figures() { return indexFigures; }
  // The readable views' ranking weights.
  const RankingWeights& rankingWeights() const { return weights; }

 private:
  ConnectionSettings settings;
  std::optional<IndexConnection> open;
  IndexFigures indexFigures;
  const RankingWeights weights;
};

// Writes the page body after the head: the word lines (with spelling blocks
// when asked), the count line, the resultsPerPage entries, the navigation and
// the page end. Blocks on the database and the spelling checker; throws
// mysqlpp::Exception when a statement is rejected, with the lines written so
// far left on the page.
void writeResultBody(IndexConnection& index, const CgiRequest& request, std::ostream& page,
                     const CheckerCommand& checkerCommand = spellCommand);

// Answers the request on page in the view it asks for: takes the session's
// connection, then writes the head and the body. Never throws: an index that
// cannot be reached gives the 503 reply, a search that fails after the head
// ends the page with one failure line (the JSON view: a 500 reply, as it
// writes nothing before its search is done) and closes the connection, so
// the next request opens a fresh one. The reason goes to log as one line.
void serveRequest(IndexSession& session, const CgiRequest& request, std::ostream& page,
                  std::ostream& log, const CheckerCommand& checkerCommand = spellCommand);

}  // namespace theme_search
