// The search program's work outside the database: decoding the query,
// building the statements and escaping the result page's links.
#include <benchmark/benchmark.h>

#include "searchcgi/html_escape.h"
#include "searchcgi/query_string.h"
#include "searchcgi/strategies.h"

namespace {

using namespace theme_search;

const std::string query =
    "keyword=abeille+ruche+miel+-frelon+-pesticide+apiculture+essaim&page=3&verif=on";

void DecodeQuery(benchmark::State& state) {
  for (auto _ : state) {
    DecodedQuery decoded = decodeQuery(query);
    KeywordLists words = splitKeywords(decoded.keywordText);
    benchmark::DoNotOptimize(words.searchWords.data());
  }
}
BENCHMARK(DecodeQuery);

void BuildStatements(benchmark::State& state) {
  KeywordLists words = splitKeywords(decodeQuery(query).keywordText);
  for (auto _ : state) {
    benchmark::DoNotOptimize(exclusionSearch(words.searchWords, words.excludedWords) +
                             limitClause(30, 15));
  }
}
BENCHMARK(BuildStatements);

void EscapeResultLinks(benchmark::State& state) {
  std::string url = "http://srv/dir/page.html?a=1&b=<2>&c=\"3\"";
  for (auto _ : state)
    for (int i = 0; i < 15; ++i) benchmark::DoNotOptimize(htmlEscape(url));
}
BENCHMARK(EscapeResultLinks);

}  // namespace
