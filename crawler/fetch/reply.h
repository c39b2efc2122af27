#pragma once

#include <optional>
#include <string>
#include <vector>

namespace theme_search {

struct EngineConfig;

// Reading of an HTTP reply as a sequence of white-space separated words:
// the second word is the status, header names are recognised as whole words
// compared in lower case ("content-type:", "location:") and the next word is
// their value. Not a full HTTP parser: no folded lines, no character sets,
// no status other than "200" and "302". Pure functions of text.

// Why the start of a reply is refused, or nullopt when it is accepted:
// status "200" with an accepted content sub-type (compared as written), or
// status "302". Reasons read "status 404", "content type image/gif not
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
  // A "302" reply.
  bool redirected = false;
  // The lower-cased "location:" target of a "302" reply, made absolute
  // against the base unless it begins with "http://"; none without a target.
  std::optional<std::string> redirectTarget;
};
[[nodiscard]] ReplyReading interpretReply(const std::string& reply, const std::string& baseUrl);

// Cuts the header block off a reply, leaving the document: everything up to
// the first "\r\n\r\n" goes, or up to the first "\n\n" when the reply has no
// "\r\n\r\n"; a reply with neither has no document and becomes empty.
void removeHeader(std::string& reply);

}  // namespace theme_search
