// What showing readable results costs: the scanner's display text (see
// bench_crawler's ScanPage for the whole scan), storing a text, and a
// result page's worth of excerpts read back from stored texts and written
// as HTML or JSON.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

#include "common/excerpt.h"
#include "common/stored_text.h"
#include "crawler/analysis/document_record.h"
#include "crawler/analysis/html_scanner.h"
#include "searchcgi/excerpt_html.h"
#include "searchcgi/json_text.h"

namespace {

using namespace theme_search;

constexpr int kResultsPerPage = 15;

std::string fixtureDisplayText() {
  std::ifstream in(SOURCE_DIR "/tests/crawler/fixtures/page.html", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return HtmlScanner(text.str()).getDisplayText();
}

// A display text of about `size` bytes whose only query word, if any, is
// at its end: the excerpt reads all of it.
std::string proseEndingWith(std::size_t size, const std::string& lastWords) {
  std::string text;
  while (text.size() + lastWords.size() < size)
    text += "Les abeilles butinent les fleurs du rucher en \xe9t\xe9. ";
  return text + lastWords;
}

void StoreText(benchmark::State& state) {
  const std::string text = proseEndingWith(static_cast<std::size_t>(state.range(0)), "fin");
  for (auto _ : state) benchmark::DoNotOptimize(makeDocumentRecord("", text).storedText.size());
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(StoreText)->Arg(1 << 10)->Arg(8 << 10)->Arg(kMaxStoredTextLength);

// One result page: 15 stored texts expanded, cut and written as HTML and
// JSON. Arg 0: the fixture page's text (a match near its start); otherwise
// texts of that many bytes with the match at the very end.
void ResultPageExcerpts(benchmark::State& state) {
  const std::string text =
      state.range(0) == 0
          ? fixtureDisplayText()
          : proseEndingWith(static_cast<std::size_t>(state.range(0)), "le miel de lavande");
  const std::string stored = compressStoredText(text);
  const std::vector<std::string> query = {"miel", "ciel", "telescopes"};
  for (auto _ : state) {
    for (int i = 0; i < kResultsPerPage; ++i) {
      const auto expanded = expandStoredText(stored);
      const Excerpt excerpt = cutExcerpt(*expanded, query);
      benchmark::DoNotOptimize(excerptHtml(excerpt).size());
      benchmark::DoNotOptimize(excerptJson(excerpt).size());
    }
  }
  state.SetLabel(std::to_string(text.size()) + " B text, " + std::to_string(stored.size()) +
                 " B stored");
}
BENCHMARK(ResultPageExcerpts)
    ->Arg(0)
    ->Arg(4 << 10)
    ->Arg(kMaxStoredTextLength)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
