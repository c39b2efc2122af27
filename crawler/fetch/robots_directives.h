#pragma once

#include <string_view>

namespace theme_search {

// What a page asks of the crawlers that index it, in its robots metas
// (<meta name="robots" content="...">) and its X-Robots-Tag reply headers.
// Only two directives mean something here: "noindex" (the page's words and
// text stay out of the index; its links are still followed) and "nofollow"
// (its links are not queued); "none" is both. Every other directive ("all",
// "index", "follow", "noarchive", "max-snippet:50", ...) asks nothing of
// this crawler. A plain copyable value.
struct RobotsDirectives {
  bool noindex = false;
  bool nofollow = false;

  // Adds the directives of another list: a directive given by either holds.
  RobotsDirectives& operator|=(const RobotsDirectives& other) {
    noindex = noindex || other.noindex;
    nofollow = nofollow || other.nofollow;
    return *this;
  }
};

// The directives of a list separated by commas or blanks, letter case
// ignored ("NOINDEX, follow", "noindex nofollow"). Pure.
[[nodiscard]] RobotsDirectives parseRobotsDirectives(std::string_view list);

// The directives of one X-Robots-Tag header value for the crawler named
// `productToken`. A value that begins with a user-agent name and a colon
// ("otherbot: noindex") applies only when that name is the product token,
// letter case ignored; a value without one applies to every crawler. The
// name is the text before the first colon when it is a single word that is
// not one of the directives that take a value themselves
// ("unavailable_after: ...", "max-snippet: ..."). Pure.
[[nodiscard]] RobotsDirectives robotsHeaderDirectives(std::string_view value,
                                                      std::string_view productToken);

}  // namespace theme_search
