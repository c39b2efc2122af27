// Throughput of the crawler's per-page work that runs without the network or
// the database: scanning HTML, resolving links, quoting values and the URL
// queue's heap.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

#include "crawler/analysis/html_scanner.h"
#include "crawler/fetch/charset.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/sql_text.h"

namespace {

using namespace theme_search;

std::string fixturePage() {
  std::ifstream in(SOURCE_DIR "/tests/crawler/fixtures/page.html", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ScanPage(benchmark::State& state) {
  std::string page = fixturePage();
  for (auto _ : state) {
    HtmlScanner scanner(page);
    benchmark::DoNotOptimize(scanner.getPageText().size());
  }
  state.SetBytesProcessed(state.iterations() * page.size());
}
BENCHMARK(ScanPage);

void ScanLargePage(benchmark::State& state) {
  std::string page;
  std::string one = fixturePage();
  while (page.size() < (1u << 20)) page += one;
  for (auto _ : state) {
    HtmlScanner scanner(page);
    benchmark::DoNotOptimize(scanner.getLinkTargets().size());
  }
  state.SetBytesProcessed(state.iterations() * page.size());
}
BENCHMARK(ScanLargePage)->Unit(benchmark::kMillisecond);

// Prose of state.range(0) bytes with bare ampersands and no semicolon
// anywhere: an entity rule that looked ahead for the ';' would rescan the
// rest of the page at every '&' and make this quadratic.
std::string bareAmpersandProse(std::size_t size) {
  const std::string paragraph =
      "<p>Fish & chips, miel & cire, les abeilles & la ruche: AT&T, R&D et B&B "
      "pour les apiculteurs & leurs voisins.</p>\n";
  std::string page;
  while (page.size() < size) page += paragraph;
  page.resize(size);
  return page;
}

void ScanBareAmpersands(benchmark::State& state) {
  const std::string page = bareAmpersandProse(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    HtmlScanner scanner(page);
    benchmark::DoNotOptimize(scanner.getPageText().size());
  }
  state.SetBytesProcessed(state.iterations() * page.size());
}
BENCHMARK(ScanBareAmpersands)
    ->RangeMultiplier(4)
    ->Range(4 << 10, 1 << 20)
    ->Unit(benchmark::kMillisecond);

// A page that is one long token (plain text with no tag or entity): the
// token must not be rescanned from its start as the input is read.
void ScanOneLongToken(benchmark::State& state) {
  std::string page;
  while (page.size() < static_cast<std::size_t>(state.range(0)))
    page += "les abeilles et la ruche ";
  for (auto _ : state) {
    HtmlScanner scanner(page);
    benchmark::DoNotOptimize(scanner.getPageText().size());
  }
  state.SetBytesProcessed(state.iterations() * page.size());
}
BENCHMARK(ScanOneLongToken)
    ->RangeMultiplier(4)
    ->Range(256 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond);

void NormalizeLinks(benchmark::State& state) {
  std::vector<std::string> raw = HtmlScanner(fixturePage()).getLinkTargets();
  for (int i = 0; i < 100; ++i) {
    raw.push_back("../dir" + std::to_string(i) + "/page.html");
    raw.push_back("sub" + std::to_string(i));
    raw.push_back("http://other.lan/redirect?to=http://srv/x" + std::to_string(i) + ".html");
  }
  for (auto _ : state) {
    std::vector<std::string> links = raw;
    std::string base = "http://srv/dir/sub/";
    normalizeLinks(base, links);
    benchmark::DoNotOptimize(links.data());
  }
  state.SetItemsProcessed(state.iterations() * raw.size());
}
BENCHMARK(NormalizeLinks);

// Conversion of a 1 MiB page to Latin-1: arg 0 a Latin-1 page (returned as
// it is), 1 the same page in UTF-8, 2 a Latin-1 page with Windows-1252
// quotes (both through iconv).
void ConvertPage(benchmark::State& state) {
  std::string latin1;
  while (latin1.size() < (1u << 20))
    latin1 +=
        "<p>L'\xE9t\xE9 des abeilles, r\xE9"
        "colte du miel.</p>\n";
  std::string page = latin1;
  if (state.range(0) == 1) {
    page.clear();
    for (const char c : latin1) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        page += c;
      } else {
        page += static_cast<char>(0xC0 | byte >> 6);
        page += static_cast<char>(0x80 | (byte & 0x3F));
      }
    }
  }
  if (state.range(0) == 2)
    for (std::size_t at = latin1.find('\''); at != std::string::npos; at = page.find('\'', at))
      page[at] = '\x92';
  for (auto _ : state) benchmark::DoNotOptimize(toLatin1(page, "").size());
  state.SetBytesProcessed(state.iterations() * page.size());
}
BENCHMARK(ConvertPage)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void QuoteUrl(benchmark::State& state) {
  std::string url = "http://srv/a/b/c/page.html?x=\"1\"&y=\\2";
  for (auto _ : state) benchmark::DoNotOptimize(quote(url));
}
BENCHMARK(QuoteUrl);

// The URL queue: pushes then pops of n items of mixed priority.
void UrlHeap(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    UrlQueue queue;
    for (int i = 0; i < n; ++i)
      queue.push(CrawlItem("http://srv/p" + std::to_string(i), i % 7 - 3));
    while (queue.size() > 0) benchmark::DoNotOptimize(queue.pop());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(UrlHeap)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
