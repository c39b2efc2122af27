#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "index/page_validators.h"

namespace theme_search {

// Conditional requests: what the crawler keeps of a "200" reply so that a
// revisit can ask "has it changed?", and the header lines that ask it. The
// values go back byte for byte as the server wrote them, so that a server
// comparing them byte for byte recognises its own; a value that could not go
// back safely is not kept. Pure functions of text.

// True for a value that can go into a request header as it stands: not
// empty, at most kMaxValidatorBytes, and no control character but the tab
// (no CR or LF, which would let a hostile server write header lines of its
// own into the crawler's next request).
[[nodiscard]] bool isSafeValidator(std::string_view value);

// The ETag and Last-Modified values of a "200" reply's header block, each
// kept only when isSafeValidator holds; both empty for any other status.
[[nodiscard]] PageValidators replyValidators(const std::string& reply);

// The header lines of a revisit: "If-None-Match: <etag>" and
// "If-Modified-Since: <lastModified>", each only when its value is safe;
// none when the page has no validator.
[[nodiscard]] std::vector<std::string> conditionalHeaders(const PageValidators& validators);

}  // namespace theme_search
