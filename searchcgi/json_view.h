#pragma once

#include <string>
#include <vector>

#include "searchcgi/result_list.h"

namespace theme_search {

// The JSON view of a search (PATH_INFO "/json"), for programs: UTF-8 JSON
// of the query (the words as typed), the total, the page number and the
// page's results, each {url, title, excerpt: {text, marks}} with the marks
// as character offsets; "suggestions" (each word's list) only when
// spelling suggestions were asked for. Errors are JSON too, with their HTTP
// status. Latin-1 texts of the index are converted to UTF-8 (json_text.h).
// Pure.

// The path after the program's name that chooses this view.
inline constexpr const char* kJsonViewPath = "/json";

// The whole reply, CGI header and body, for a search that ran; a query
// without any search term gives the 400 error reply.
[[nodiscard]] std::string jsonReply(const ResultList& list);

// An error reply: the "Status:" header with the status and its reason
// phrase, and the body {"status":N,"error":"message"}.
[[nodiscard]] std::string jsonErrorReply(int status, const std::string& reason,
                                         const std::string& message);

}  // namespace theme_search
