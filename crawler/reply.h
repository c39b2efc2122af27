#pragma once

#include <string>
#include <vector>

// Reading of an HTTP reply as a sequence of white-space separated words:
// the second word is the status, header names are recognised as whole words
// compared in lower case ("content-type:", "location:") and the next word is
// their value. Not a full HTTP parser: no folded lines, no character sets,
// no status other than "200" and "302". EngineConfig::acceptReply (declared
// in engine_config.h) is the early check on a reply's first chunk; toLower
// is defined here too.

// Reads a complete reply for the page: a "200" reply sets `documentType` to
// its lower-cased content sub-type ("html" for "text/html;"), left empty
// without a content type; a "302" reply sets `redirected` and appends its
// lower-cased "location:" target to `links`, made absolute against
// `baseUrl` unless it begins with "http://" (no target: no link); any other
// status sets `documentType` to "bad".
void interpretReply(const std::string& reply, const std::string& baseUrl, std::string& documentType,
                    bool& redirected, std::vector<std::string>& links);

// Cuts the header block off a reply, leaving the document: everything up to
// the first "\r\n\r\n" goes, or up to the first "\n\n" when the reply has no
// "\r\n\r\n"; a reply with neither has no document and becomes empty.
void removeHeader(std::string& reply);
