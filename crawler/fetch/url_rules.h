#pragma once

#include <optional>
#include <string>
#include <vector>

namespace theme_search {

// Text rules that turn a page's URL and the raw links found in it into
// absolute URLs. There is no general URL parser here: every rule is a simple
// byte test, letter case significant unless a rule says otherwise. Links
// that leave the crawled site are kept; EngineConfig::inScope filters them
// at download time.
// All functions are pure apart from the documented in-place edits.

// The base against which a page's relative links are resolved. Leading
// spaces are removed from `url` itself. A URL without a path ("http://srv")
// is its own base, lower-cased; a URL ending in a file name
// ("http://srv/dir/a.html") loses that name and the slashes before it; a URL
// ending in a directory name or a '/' is kept up to its end. A URL without
// any '/' is its own base.
[[nodiscard]] std::string computeBase(std::string& url);

// Makes every link absolute against `baseUrl`, in place, and drops fragment
// links, links over 200 characters and the schemes the crawler does not
// follow (https, ftp, mailto, javascript), keeping the order of the rest.
// `baseUrl` first loses its trailing spaces and slashes.
void normalizeLinks(std::string& baseUrl, std::vector<std::string>& links);

// Resolves a link beginning with '.' ("./a", "../../a", ".hidden") against
// `baseUrl`; nullopt when the link climbs above the host.
[[nodiscard]] std::optional<std::string> resolveDotLink(const std::string& baseUrl,
                                                        const std::string& link);

}  // namespace theme_search
