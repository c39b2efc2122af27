// The search's results with their titles and excerpts, for the readable views.
#include "searchcgi/result_list.h"

#include <algorithm>

#include "common/stored_text.h"
#include "common/text.h"
#include "index/sql_text.h"
#include "searchcgi/relevance.h"
#include "searchcgi/result_page.h"
#include "searchcgi/strategies.h"

namespace theme_search {

std::string documentsStatement(const std::vector<std::string>& urls) {
  std::string list;
  for (const std::string& url : urls) {
    if (!list.empty()) list += ',';
    list += "'" + escapeSql(url) + "'";
  }
  return "select U.url, D.titre, D.texte from Url U straight_join Document D where U.url in (" +
         list + ") and D.idUrl=U.idUrl;";
}

std::map<std::string, StoredDocument> storedDocuments(const std::vector<Row>& rows) {
  std::map<std::string, StoredDocument> documents;
  for (const Row& row : rows) {
    if (row.size() < 3) continue;
    StoredDocument& document = documents[row[0]];
    document.title = row[1];
    document.displayText = expandStoredText(row[2]).value_or(std::string());
  }
  return documents;
}

ShownResult shownResult(const std::string& url, const StoredDocument* stored,
                        const std::vector<std::string>& queryTerms) {
  ShownResult shown{url, url, {}, std::nullopt};
  if (!stored) return shown;
  if (!stored->title.empty()) shown.title = stored->title;
  if (!stored->displayText.empty())
    shown.excerpt = cutExcerpt(stored->displayText, queryTerms, kExcerptLength, stored->title);
  return shown;
}

std::vector<bool> holdPhrases(IndexConnection& index, const std::vector<std::string>& urls,
                              const std::vector<std::vector<std::string>>& phrases) {
  std::vector<bool> kept;
  kept.reserve(urls.size());
  for (std::size_t begin = 0; begin < urls.size(); begin += kPhraseBatch) {
    const std::vector<std::string> batch(
        urls.begin() + static_cast<std::ptrdiff_t>(begin),
        urls.begin() + static_cast<std::ptrdiff_t>(std::min(urls.size(), begin + kPhraseBatch)));
    const std::map<std::string, StoredDocument> documents =
        storedDocuments(index.query(documentsStatement(batch)));
    for (const std::string& url : batch) {
      const auto document = documents.find(url);
      kept.push_back(document != documents.end() &&
                     std::all_of(phrases.begin(), phrases.end(), [&](const auto& phrase) {
                       return holdsPhrase(document->second.displayText, phrase);
                     }));
    }
  }
  return kept;
}

ResultList searchResultList(IndexConnection& index, IndexFigures& figures,
                            const std::string& queryString, const CheckerCommand& checkerCommand,
                            const RankingWeights& weights) {
  ResultList list;
  const ViewQuery view = takeOrderParameter(queryString);
  list.order = view.order;
  list.query = decodeQuery(view.queryString);
  list.words = splitKeywords(list.query.keywordText);
  if (list.query.spellCheck) {
    list.suggestions = spellSuggestions(allKeywords(list.words), checkerCommand);
  }
  const std::int64_t firstRow = (std::int64_t{list.query.pageNumber} - 1) * resultsPerPage;
  // A phrase is checked on the stored text of every page found, before the
  // page's window is cut.
  const bool phrased = !list.words.phrases.empty();
  const std::int64_t first = phrased ? 0 : firstRow;
  const std::int64_t rows = phrased ? 0 : resultsPerPage;
  SearchResult found;
  std::vector<double> scores;
  if (list.order == ResultOrder::count) {
    std::optional<SearchResult> counted =
        runSearch(index, list.words.searchTerms, list.words.excludedTerms, first, rows);
    if (!counted) return list;
    found = std::move(*counted);
  } else {
    std::optional<RankedSearch> ranked = runRankedSearch(
        index, figures, list.words.searchTerms, list.words.excludedTerms, first, rows, weights);
    if (!ranked) return list;
    found.total = ranked->total;
    for (RankedPage& page : ranked->pages) {
      found.urls.push_back(std::move(page.url));
      scores.push_back(page.score);
    }
  }
  if (phrased) {
    const std::vector<bool> kept = holdPhrases(index, found.urls, list.words.phrases);
    SearchResult window;
    std::vector<double> windowScores;
    for (std::size_t i = 0; i < found.urls.size(); ++i) {
      if (!kept[i]) continue;
      if (window.total >= firstRow && window.total < firstRow + resultsPerPage) {
        window.urls.push_back(std::move(found.urls[i]));
        if (i < scores.size()) windowScores.push_back(scores[i]);
      }
      ++window.total;
    }
    found = std::move(window);
    scores = std::move(windowScores);
  }
  list.searched = true;
  list.total = found.total;
  if (found.urls.empty()) return list;
  std::map<std::string, StoredDocument> documents =
      storedDocuments(index.query(documentsStatement(found.urls)));
  // What most of the page's texts share is their site's navigation: no
  // excerpt shows it.
  std::vector<std::string*> texts;
  for (auto& entry : documents) texts.push_back(&entry.second.displayText);
  markSharedStretches(texts);
  // The terms keep the case they were typed in; excerpts compare in lower
  // case, as the index does.
  std::vector<std::string> queryTerms;
  for (std::string term : list.words.searchTerms) queryTerms.push_back(toLowerLatin1(term));
  for (std::size_t i = 0; i < found.urls.size(); ++i) {
    const auto document = documents.find(found.urls[i]);
    list.results.push_back(shownResult(
        found.urls[i], document == documents.end() ? nullptr : &document->second, queryTerms));
    if (i < scores.size()) list.results.back().score = scores[i];
  }
  return list;
}

std::string typedQuery(const KeywordLists& words) {
  std::string query;
  for (const std::string& word : words.searchWords) {
    if (!query.empty()) query += ' ';
    query += word;
  }
  for (const std::string& word : words.excludedWords) {
    if (!query.empty()) query += ' ';
    query += '-' + word;
  }
  return query;
}

std::vector<std::string> suggestionList(const std::string& suggestionText) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at <= suggestionText.size()) {
    std::size_t end = suggestionText.find(',', at);
    if (end == std::string::npos) end = suggestionText.size();
    std::size_t begin = at, stop = end;
    while (begin < stop && isAsciiSpace(suggestionText[begin])) ++begin;
    while (stop > begin && isAsciiSpace(suggestionText[stop - 1])) --stop;
    if (stop > begin) words.push_back(suggestionText.substr(begin, stop - begin));
    at = end + 1;
  }
  return words;
}

}  // namespace theme_search
