// Any bytes as QUERY_STRING: decoding and the keyword split must end
// without fault, within the keyword lists' capacity.
#include <cstddef>
#include <cstdint>
#include <string>

#include "searchcgi/query_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string queryString(reinterpret_cast<const char*>(data), size);
  const theme_search::DecodedQuery query = theme_search::decodeQuery(queryString);
  const theme_search::KeywordLists words = theme_search::splitKeywords(query.keywordText);
  if (words.searchWords.size() > theme_search::maxWords ||
      words.excludedWords.size() > theme_search::maxWords || query.pageNumber < 1)
    __builtin_trap();
  return 0;
}
