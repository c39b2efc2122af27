#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace theme_search {

// The time a sitemap's <lastmod> names, in seconds since 1970 (UTC). The
// W3C date-time forms: "YYYY", "YYYY-MM", "YYYY-MM-DD" (the start of that
// year, month or day), or a day followed by "Thh:mm", "Thh:mm:ss" or
// "Thh:mm:ss.fraction" and a zone, "Z", "+hh:mm" or "-hh:mm" (a time without
// a zone is read as UTC, a fraction is dropped). nullopt for anything else
// and for impossible dates and times ("2024-02-30", "25:00"). Pure.
[[nodiscard]] std::optional<std::int64_t> w3cDateTime(std::string_view text);

}  // namespace theme_search
