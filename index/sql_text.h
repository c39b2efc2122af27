#pragma once

#include <string>
#include <string_view>

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

}  // namespace theme_search
