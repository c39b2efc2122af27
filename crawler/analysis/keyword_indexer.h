#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "crawler/analysis/document_record.h"
#include "crawler/config/engine_config.h"
#include "index/index_connection.h"

namespace theme_search {

// Occurrences of each lower-cased word of one document, in ascending
// unsigned byte order (a prefix before its extensions).
using WordCounts = std::map<std::string, unsigned>;

// The longest keyword the index holds (MotCle.mot); longer words are not
// indexed.
inline constexpr std::size_t kMaxKeywordBytes = 255;

// What indexing one document gave: the number of distinct positively
// weighted theme words of an on-theme document (0 otherwise), and the
// "EXCEPTION ..." lines of the statements the server rejected, for the
// stage to print. `stopped` is true when a stop came before the document
// was committed: nothing of it was written.
struct IndexedDocument {
  int themeWordCount = 0;
  std::string messages;
  bool stopped = false;
};

// What a reader is shown of a document: its title (empty when it has none)
// and its display text (common/display_text.h). Views of the caller's texts.
struct DocumentDisplay {
  std::string_view title;
  std::string_view displayText;
};

// Writes documents into the index, each in one transaction: its type into
// Extension and, when the document is on the theme of config.themeWords,
// each word of at least two bytes and non-negative theme weight into MotCle
// and CorrespMotUrl with its occurrence count, and its title and stored
// display text into Document (makeDocumentRecord; a rejection is reported
// like a keyword's); last the document's theme-word count into nbMotsTheme
// of its Url row (found by equality on the URL), with the time of the visit
// into lastVisit. The document's rows are committed together or not at all,
// so a Url row whose lastVisit is still NULL is a page fetched and never
// analysed. A document that replaces the page's earlier visit (a refresh)
// first loses its CorrespMotUrl rows, in the same transaction.
//
// The keywords go in a few multi-row statements, using the ids of keywords
// that earlier committed documents met (remembered, up to a bound). When one
// of those statements is rejected, the document's keywords go again through
// two statements per word, each rejection reported and absorbed, so the rows
// and messages are those of the per-word statements. A lost connection, a
// deadlock or any failure of the theme-count update rolls the document back
// and throws (MysqlBadQuery); so does a rejection of the transaction's own
// statements. A stop (stopRequested true, asked between statements) rolls
// it back and returns with `stopped` set.
//
// Used by the parse thread only, on a connection nothing else uses; the
// connection must outlive the object. Not copyable.
class KeywordIndexer {
 public:
  // How keywords are written: in batches with the per-word fallback, or
  // always per word (the fallback alone, for comparison).
  enum class Writes { batched, perWord };
  // Ids remembered before the memory is emptied and filled again.
  static constexpr std::size_t maxRememberedKeywords = 100000;

  explicit KeywordIndexer(IndexConnection& connection,
                          std::function<bool()> stopRequested = nullptr,
                          Writes writes = Writes::batched);
  KeywordIndexer(const KeywordIndexer&) = delete;
  KeywordIndexer& operator=(const KeywordIndexer&) = delete;

  // Indexes one document as described above; blocks on the database.
  [[nodiscard]] IndexedDocument index(const std::string& url, const std::string& documentType,
                                      const std::string& text, const EngineConfig& config,
                                      const DocumentDisplay& display = {}, bool replacing = false);

  // Records the visit of a page that is analysed but not indexed (a
  // redirect, a type that is not accepted): lastVisit now, theme count 0 and,
  // when it replaces an earlier visit, no CorrespMotUrl rows left; one
  // statement, or one transaction when replacing. Throws MysqlBadQuery.
  void recordVisit(const std::string& url, bool replacing = false);

 private:
  using Keyword = std::pair<const std::string, unsigned>;
  using KeywordIds = std::unordered_map<std::string, std::string>;

  bool stopped() const;
  void sendReported(const std::string& statement, const std::string& message,
                    std::string& messages);
  bool writeKeywords(const std::string& url, const std::vector<const Keyword*>& keywords,
                     KeywordIds& learned, std::string& messages);
  void writeBatched(const std::string& url, const std::vector<const Keyword*>& keywords,
                    KeywordIds& learned);
  void learnIds(const std::vector<const Keyword*>& keywords, KeywordIds& learned);
  void remember(KeywordIds& learned);

  IndexConnection& connection;
  const std::function<bool()> stopRequested;
  const Writes writes;
  // Keyword -> idMot, as texts, for keywords of committed documents.
  KeywordIds keywordIds;
};

// Adds one to the count of every whitespace-separated word of `text`,
// lower-cased (accented Latin-1 capitals too, as the index compares them);
// whitespace is space, tab, line feed, vertical tab, form feed and carriage
// return.
void countWords(const std::string& text, WordCounts& wordCounts);

// True when some weighted theme word occurs at least as often as its weight
// and every required (weight 0) theme word occurs.
[[nodiscard]] bool isOnTheme(const WordCounts& wordCounts, const EngineConfig& config);

// The per-word statements, every text value through quote().
[[nodiscard]] std::string extensionStatement(const std::string& documentType);
[[nodiscard]] std::string keywordStatement(const std::string& word);
[[nodiscard]] std::string linkStatement(const std::string& word, unsigned count,
                                        const std::string& url);
[[nodiscard]] std::string themeCountStatement(int themeWordCount, const std::string& url);
// Removes the CorrespMotUrl rows of a page, before it is indexed again.
[[nodiscard]] std::string linksRemovalStatement(const std::string& url);
// Removes the Document row of a page that is no longer on theme.
[[nodiscard]] std::string documentRemovalStatement(const std::string& url);
// The document's Document row, written or replaced; the stored text as a
// hexadecimal literal. No row when the URL is not in Url.
[[nodiscard]] std::string documentStatement(const std::string& url, const DocumentRecord& record);

// The batched statements, each given its list of rows (see joinedBatches):
// keywords as ("word"), id lookups as (n,"word") answered by rows (n, idMot),
// links as (idMot,idUrl,count).
[[nodiscard]] std::string keywordBatchStatement(const std::string& rows);
[[nodiscard]] std::string keywordIdStatement(const std::string& rows);
[[nodiscard]] std::string linkBatchStatement(const std::string& rows);
[[nodiscard]] std::string urlIdStatement(const std::string& url);

}  // namespace theme_search
