#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// The schemes the crawler fetches, as URLs begin with them.
inline constexpr std::string_view kHttpPrefix = "http://";
inline constexpr std::string_view kHttpsPrefix = "https://";

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
// follow (ftp, mailto, javascript), keeping the order of the rest. A link
// beginning with "//" takes the page's scheme, one beginning with '/' starts
// at the server's root; every result is in canonical form (canonicalUrl).
// `baseUrl` first loses its trailing spaces and slashes.
void normalizeLinks(std::string& baseUrl, std::vector<std::string>& links);

// Resolves a link beginning with '.' ("./a", "../../a", ".hidden") against
// `baseUrl`; nullopt when the link climbs above the host.
[[nodiscard]] std::optional<std::string> resolveDotLink(const std::string& baseUrl,
                                                        const std::string& link);

// The one spelling of an http:// or https:// URL: scheme and host
// lower-cased, the scheme's default port (":80", ":443") dropped; the rest
// keeps its letter case. Any other text is returned unchanged.
[[nodiscard]] std::string canonicalUrl(std::string url);

// "scheme://host[:port]" of an http:// or https:// URL (the host running to
// the first '/'), in the URL's own letter case; empty for any other text.
[[nodiscard]] std::string originOf(const std::string& url);

// A redirect target made absolute against the page's base: an http(s) URL
// stays as it is, "//host/x" takes the page's scheme, "/x" starts at the
// page's server root, anything else is put below the base. The result keeps
// the target's letter case, in canonical form.
[[nodiscard]] std::string resolveRedirect(const std::string& baseUrl, const std::string& target);

}  // namespace theme_search
