#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Values written into the text of a statement. Every value either program
// puts between quotes goes through escapeSql, so no value can end its
// literal or change the statement around it. Pure functions.

namespace theme_search {

// The value with every byte the server treats specially inside a literal
// backslash-escaped by the client library's rules for a single-byte character
// set such as the index's Latin-1: NUL as \0, line feed as \n, carriage return
// as \r, Ctrl-Z as \Z, and backslash, single quote and double quote each
// preceded by a backslash. Every other byte is kept as it is.
[[nodiscard]] std::string escapeSql(std::string_view value);

// The value as a double-quoted literal: xy"z becomes "xy\"z". Needs a session
// without ANSI_QUOTES, which IndexConnection sets up.
[[nodiscard]] std::string quote(std::string_view value);

// The longest list of rows that joinedBatches puts into one statement: far
// below the server's smallest usual packet limit (16 MiB), large enough that
// a page's words or links take one or a few statements.
constexpr std::size_t maxBatchBytes = 1 << 20;

// The items, in order, joined by the separator into as few lists as keep
// each list within maxBytes; an item longer than that gets a list of its
// own. No items give no list.
[[nodiscard]] std::vector<std::string> joinedBatches(const std::vector<std::string>& items,
                                                     std::size_t maxBytes = maxBatchBytes,
                                                     std::string_view separator = ",");

}  // namespace theme_search
