#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/fetch/robots_directives.h"

namespace theme_search {

struct EngineConfig;

// Reading of an HTTP reply's header block. The block is the status line
// and the header lines that follow it, up to the first empty line (lines
// end in "\r\n" or a bare "\n"); a reply without an empty line is all
// header. The status is the second blank-separated word of the status line.
// A header line is "name:value": the name is compared without regard to
// letter case, blanks around the value are dropped, a line beginning with a
// blank continues the previous line's value, a line without ':' is passed
// over. Where a header should appear once, the first line of that name that
// has a value counts. Nothing of the document after the empty line is read.
// Not a full HTTP parser: no status other than "200" and the redirects 301,
// 302, 303, 307 and 308 is given a meaning. Pure functions of text.
//
// A Content-Type value is a media type "type/subtype" followed by
// parameters, each after a ';' with or without blanks around it
// ("text/html;charset=UTF-8", "text/html ; charset=\"utf-8\""). Type,
// sub-type and parameter names are read without regard to letter case; a
// value without '/' is taken as the sub-type alone ("html").

// Why a reply's header block is refused, or nullopt when it is accepted:
// status "200" with a content sub-type that the configuration accepts
// (EngineConfig::isAcceptedType, letter case ignored), or a redirect status.
// Reasons read "status 404", "content type image/gif not accepted" (the
// media type as written, without its parameters), "no content type", "no
// status line".
[[nodiscard]] std::optional<std::string> refusalReason(const EngineConfig& config,
                                                       const std::string& reply);

// The early check on the first chunk of a reply: true when refusalReason
// finds nothing to refuse.
[[nodiscard]] bool acceptReply(const EngineConfig& config, const std::string& reply);

// What a complete reply says about the page.
struct ReplyReading {
  // The lower-cased content sub-type of a "200" reply ("html" for
  // "TEXT/HTML;charset=UTF-8", "pdf" for "application/pdf"), empty without a
  // content type; "bad" for a status that is neither "200" nor a redirect.
  std::string documentType;
  // A redirect (301, 302, 303, 307 or 308).
  bool redirected = false;
  // The Location target of a redirect, made absolute against the base
  // (resolveRedirect: its letter case kept, scheme and host lower-cased);
  // none without a target.
  std::optional<std::string> redirectTarget;
  // The lower-cased "charset" parameter of the Content-Type header of a
  // "200" reply ("utf-8"); empty when there is none.
  std::string charset;
  // The Content-Language header of a "200" reply as written ("fr-FR, en");
  // empty when there is none.
  std::string language;
  // What the X-Robots-Tag headers of a "200" reply ask of this crawler
  // (robotsHeaderDirectives with kProductToken): every such line counts,
  // a directive of any of them holds.
  RobotsDirectives robots;
};
[[nodiscard]] ReplyReading interpretReply(const std::string& reply, const std::string& baseUrl);

// True for the redirect statuses the crawler follows: 301, 302, 303, 307, 308.
[[nodiscard]] bool isRedirectStatus(const std::string& status);

// True when the reply's status says the page does not exist: 404 or 410.
// The download stage takes such a page out of the index.
[[nodiscard]] bool isGoneReply(const std::string& reply);

// The lower-cased "charset" parameter of the Content-Type header of the
// reply's header block, unquoted; empty when there is none.
[[nodiscard]] std::string contentTypeCharset(const std::string& reply);

// The reply's status ("200", "304"): the second word of its status line;
// empty when it has none.
[[nodiscard]] std::string replyStatus(const std::string& reply);

// The value of the reply's first header line of that name (given in lower
// case) that has one; empty when there is none.
[[nodiscard]] std::string headerValue(const std::string& reply, std::string_view lowerName);

// Cuts the header block off a reply, leaving the document: everything up to
// the first "\r\n\r\n" goes, or up to the first "\n\n" when the reply has no
// "\r\n\r\n"; a reply with neither has no document and becomes empty.
void removeHeader(std::string& reply);

}  // namespace theme_search
