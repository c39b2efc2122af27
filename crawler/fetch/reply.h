#pragma once

#include <optional>
#include <string>
#include <vector>

namespace theme_search {

struct EngineConfig;

// Reading of an HTTP reply as a sequence of white-space separated words:
// the second word is the status, header names are recognised as whole words
// compared in lower case ("content-type:", "location:") and the next word is
// their value. Not a full HTTP parser: no folded lines, no status other than
// "200" and the redirects 301, 302, 303, 307 and 308. Pure functions of text.

// Why a reply's header block is refused, or nullopt when it is accepted:
// status "200" with an accepted content sub-type (compared as written), or
// a redirect status. Reasons read "status 404", "content type image/gif not
// accepted", "no content type", "no status line".
[[nodiscard]] std::optional<std::string> refusalReason(const EngineConfig& config,
                                                       const std::string& reply);

// The early check on the first chunk of a reply: true when refusalReason
// finds nothing to refuse.
[[nodiscard]] bool acceptReply(const EngineConfig& config, const std::string& reply);

// What a complete reply says about the page.
struct ReplyReading {
  // The lower-cased content sub-type of a "200" reply ("html" for
  // "text/html;"), empty without a content type; "bad" for any status other
  // than "200" and "302".
  std::string documentType;
  // A redirect (301, 302, 303, 307 or 308).
  bool redirected = false;
  // The "location:" target of a redirect, made absolute against the base
  // (resolveRedirect: its letter case kept, scheme and host lower-cased);
  // none without a target.
  std::optional<std::string> redirectTarget;
  // The lower-cased "charset" parameter of the Content-Type header of a
  // "200" reply ("utf-8"); empty when there is none.
  std::string charset;
};
[[nodiscard]] ReplyReading interpretReply(const std::string& reply, const std::string& baseUrl);

// True for the redirect statuses the crawler follows: 301, 302, 303, 307, 308.
[[nodiscard]] bool isRedirectStatus(const std::string& status);

// The lower-cased "charset" parameter of the first Content-Type header line
// of the reply's header block; empty when there is none.
[[nodiscard]] std::string contentTypeCharset(const std::string& reply);

// Cuts the header block off a reply, leaving the document: everything up to
// the first "\r\n\r\n" goes, or up to the first "\n\n" when the reply has no
// "\r\n\r\n"; a reply with neither has no document and becomes empty.
void removeHeader(std::string& reply);

}  // namespace theme_search
