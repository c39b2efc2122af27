// Fills an index with N generated pages, straight into the database (no
// crawl), for the search benchmarks:
//
//   index_generator PAGES WORKDIR [SITE_DIR] [--documents]
//
// The index is the one the SE_DB_* settings name; its tables are emptied
// first. Words are drawn from a vocabulary of 20,000 made-up words with
// Zipf-distributed frequencies (the word of rank r is drawn with weight 1/r)
// until a page holds 300 distinct words; a word's ratio on a page is the
// number of times it was drawn. One page in ten is off theme and has no
// keywords; each keyword's pages go into MotBloc. The rows are written as
// tab-separated files under WORKDIR and loaded with LOAD DATA INFILE, so the server must be able to
// read WORKDIR. With SITE_DIR, the same pages are also written there as HTML files (page00001.html,
// ...) linked in a chain from index.html, each on-theme page holding the theme word "rucher", so a
// crawler can index the same site. With --documents, every on-theme page also gets its Document row
// (title "page N", display text the page's words as the site's page holds
// them, compressed by the server's COMPRESS()), and its ranking rows: its
// length and language (DocumentMesure) and, as its title and heading
// words, its two and then its next three most drawn words (MotChamp), for
// the readable views.
// Deterministic: the same PAGES give the same index.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/index_connection.h"
#include "index/sql_text.h"

namespace {

using namespace theme_search;

constexpr int kVocabulary = 20000;
constexpr std::size_t kWordsPerPage = 300;

// Distinct pronounceable words: syllables by the digits of the rank.
std::string madeUpWord(int rank) {
  static const char* const syllables[] = {"ba", "ce", "di", "fo", "gu", "la", "me", "ni",
                                          "po", "ru", "sa", "te", "vi", "lo", "ma", "ne"};
  std::string word;
  for (int n = rank + 16; n > 0; n /= 16) word += syllables[n % 16];
  return word;
}

struct GeneratedPage {
  int nbMotsTheme = 0;
  std::map<int, int> ratios;  // word rank -> times drawn
};

std::vector<GeneratedPage> generatePages(int count) {
  std::vector<double> cumulative(kVocabulary);
  double sum = 0;
  for (int r = 0; r < kVocabulary; ++r) cumulative[r] = sum += 1.0 / (r + 1);
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> uniform(0, sum);
  std::vector<GeneratedPage> pages(count);
  for (int i = 0; i < count; ++i) {
    if (i % 10 == 9) continue;  // off theme
    GeneratedPage& page = pages[i];
    page.nbMotsTheme = 1 + i % 6;
    while (page.ratios.size() < kWordsPerPage) {
      const double at = uniform(random);
      const int rank = static_cast<int>(std::lower_bound(cumulative.begin(), cumulative.end(), at) -
                                        cumulative.begin());
      ++page.ratios[std::min(rank, kVocabulary - 1)];
    }
  }
  return pages;
}

std::string pageName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "page%05d.html", i + 1);
  return name;
}

// The text of a page: its words in rank order, each as often as drawn.
std::string pageText(const GeneratedPage& page) {
  std::string text = page.ratios.empty() ? "" : "rucher";
  for (const auto& [rank, ratio] : page.ratios)
    for (int n = 0; n < ratio; ++n) text += ' ' + madeUpWord(rank);
  return text;
}

void writeDocuments(const std::vector<GeneratedPage>& pages, const std::filesystem::path& dir) {
  std::ofstream documents(dir / "Document.tsv"), measures(dir / "DocumentMesure.tsv"),
      fields(dir / "MotChamp.tsv");
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].ratios.empty()) continue;
    documents << i + 1 << "\tpage " << i + 1 << '\t' << pageText(pages[i]) << '\n';
    int length = 0;
    std::vector<std::pair<int, int>> drawn;  // (times drawn, rank)
    for (const auto& [rank, ratio] : pages[i].ratios) {
      length += ratio;
      drawn.emplace_back(ratio, rank);
    }
    std::sort(drawn.rbegin(), drawn.rend());
    measures << i + 1 << '\t' << length << "\t2\t3\t1\t0\tfr\n";
    for (std::size_t n = 0; n < std::min<std::size_t>(5, drawn.size()); ++n)
      fields << drawn[n].second + 1 << '\t' << i + 1 << '\t' << (n < 2 ? 1 : 2) << "\t1\n";
  }
}

void writeTables(const std::vector<GeneratedPage>& pages, const std::filesystem::path& dir) {
  std::ofstream urls(dir / "Url.tsv"), words(dir / "MotCle.tsv"), links(dir / "CorrespMotUrl.tsv"),
      blocks(dir / "MotBloc.tsv");
  for (int r = 0; r < kVocabulary; ++r) words << r + 1 << '\t' << madeUpWord(r) << '\n';
  std::vector<std::vector<std::pair<int, int>>> byWord(kVocabulary);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    urls << i + 1 << "\thttp://127.0.0.1/" << pageName(static_cast<int>(i)) << "\t\\N\t"
         << pages[i].nbMotsTheme << '\n';
    for (const auto& [rank, ratio] : pages[i].ratios)
      byWord[rank].emplace_back(static_cast<int>(i) + 1, ratio);
  }
  for (int r = 0; r < kVocabulary; ++r) {
    // In primary-key order (idMot, ratio, idUrl), which loads fastest.
    std::vector<std::pair<int, int>> byRatio;
    byRatio.reserve(byWord[r].size());
    for (const auto& [url, ratio] : byWord[r]) byRatio.emplace_back(ratio, url);
    std::sort(byRatio.begin(), byRatio.end());
    for (const auto& [ratio, url] : byRatio) links << r + 1 << '\t' << url << '\t' << ratio << '\n';
    // byWord[r] is in idUrl order: one row a block.
    for (std::size_t n = 0; n < byWord[r].size();) {
      const unsigned block = static_cast<unsigned>(byWord[r][n].first) / 64;
      std::uint64_t pages = 0;
      int count = 0;
      for (; n < byWord[r].size() && static_cast<unsigned>(byWord[r][n].first) / 64 == block;
           ++n, ++count)
        pages |= std::uint64_t{1} << (byWord[r][n].first % 64);
      blocks << r + 1 << '\t' << block << "\t0\t" << pages << '\t' << count << '\n';
    }
  }
}

void writeSite(const std::vector<GeneratedPage>& pages, const std::filesystem::path& site) {
  std::filesystem::create_directories(site);
  std::ofstream(site / "index.html")
      << "<html><body>rucher <a href=\"" << pageName(0) << "\">debut</a></body></html>\n";
  for (std::size_t i = 0; i < pages.size(); ++i) {
    std::ofstream out(site / pageName(static_cast<int>(i)));
    out << "<html><head><title>page " << i + 1 << "</title></head><body><p>" << pageText(pages[i])
        << "</p>";
    if (i + 1 < pages.size())
      out << "<a href=\"" << pageName(static_cast<int>(i) + 1) << "\">suite</a>";
    out << "</body></html>\n";
  }
}

void load(IndexConnection& index, const std::filesystem::path& dir, bool documents) {
  for (const char* table : {"Document", "DocumentMesure", "MotChamp", "CorrespMotUrl", "MotBloc",
                            "MotCle", "Url", "UrlInvalide", "Extension"})
    index.execute(std::string("DELETE FROM ") + table);
  index.execute("SET unique_checks = 0");
  // The keyword rows load in primary-key order; their secondary key is
  // built afterwards, by one sort, rather than row by row (which, past the
  // buffer pool, reads and writes a page of the key for most rows).
  index.execute("ALTER TABLE CorrespMotUrl DROP KEY url_mot");
  for (const char* table : {"Url", "MotCle", "CorrespMotUrl", "MotBloc"}) {
    const std::string file = (dir / (std::string(table) + ".tsv")).string();
    index.execute("LOAD DATA INFILE '" + escapeSql(file) + "' INTO TABLE " + table +
                  " CHARACTER SET latin1");
  }
  // As index/schema.sql defines them.
  index.execute("ALTER TABLE CorrespMotUrl ADD UNIQUE KEY url_mot (idUrl, idMot)");
  if (documents) {
    index.execute("LOAD DATA INFILE '" + escapeSql((dir / "Document.tsv").string()) +
                  "' INTO TABLE Document CHARACTER SET latin1 (idUrl, titre, @text) SET texte = "
                  "COMPRESS(@text)");
    for (const char* table : {"DocumentMesure", "MotChamp"})
      index.execute("LOAD DATA INFILE '" +
                    escapeSql((dir / (std::string(table) + ".tsv")).string()) + "' INTO TABLE " +
                    table + " CHARACTER SET latin1");
  }
  static_cast<void>(
      index.query("ANALYZE TABLE Url, MotCle, CorrespMotUrl, Document, DocumentMesure, MotChamp"));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto option = std::find(arguments.begin(), arguments.end(), "--documents");
  const bool documents = option != arguments.end();
  if (documents) arguments.erase(option);
  if (arguments.size() < 2) {
    std::cerr << "usage: index_generator PAGES WORKDIR [SITE_DIR] [--documents]\n";
    return 2;
  }
  const int count = std::atoi(arguments[0].c_str());
  const std::filesystem::path dir = std::filesystem::absolute(arguments[1]);
  std::filesystem::create_directories(dir);
  try {
    {
      // Freed before the load: a million pages take gigabytes.
      const std::vector<GeneratedPage> pages = generatePages(count);
      writeTables(pages, dir);
      if (documents) writeDocuments(pages, dir);
      if (arguments.size() > 2) writeSite(pages, arguments[2]);
    }
    IndexConnection index;
    load(index, dir, documents);
    std::cout << "pages: " << index.count("select count(*) from Url")
              << ", keyword rows: " << index.count("select count(*) from CorrespMotUrl")
              << ", documents: " << index.count("select count(*) from Document") << '\n';
  } catch (const std::exception& error) {
    std::cerr << "index_generator: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
