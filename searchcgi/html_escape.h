#pragma once

#include <string>

namespace theme_search {

// Text from the index or the query made safe inside HTML and its attribute
// values: '<', '>', '"' and '\'' become character references; every other
// byte, '&' included, is kept, so links keep their "&page=" separators.
[[nodiscard]] std::string htmlEscape(const std::string& text);

}  // namespace theme_search
