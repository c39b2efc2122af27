#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "index/index_connection.h"
#include "index/page_validators.h"

namespace theme_search {

// Occurrences of each lower-cased word of one document, in ascending
// unsigned byte order (a prefix before its extensions).
using WordCounts = std::map<std::string, unsigned>;

// The longest keyword the index holds (MotCle.mot); longer words are not
// indexed.
inline constexpr std::size_t kMaxKeywordBytes = 255;

// What the index keeps of an on-theme document so that a result can be
// shown: its title (Latin-1) and its display text in stored form
// (common/stored_text.h). A plain value.
struct DocumentRecord {
  std::string title;
  std::string storedText;
};

// The fields of a page that rank above its body, with their numbers in
// MotChamp.champ.
enum class PageField : int { title = 1, headings = 2, urlPath = 3, description = 4 };

// What the readable views rank an on-theme page by (DocumentMesure and
// MotChamp): its length, the keywords of each field with their counts, and
// its language.
struct RankingSignals {
  // The page's words in all: the length of its body.
  unsigned wordCount = 0;
  // Each field's length in words, and the field's words that are keywords
  // of the page, with their counts.
  std::map<PageField, unsigned> fieldLengths;
  std::map<PageField, WordCounts> fieldWords;
  // "fr", "en", ...; empty when unknown.
  std::string language;
};

// Everything the index records of one analysed page: a plain value that the
// page's analysis makes and PageWriter writes in one transaction.
struct PageRecord {
  // "html", "pdf" or "ps"; empty for a page visited but not indexed (a
  // redirect, a type that is not accepted, a page outside the site).
  std::string documentType;
  // The keywords and their counts: the words of an on-theme page that the
  // index holds (two bytes or more, at most kMaxKeywordBytes, not of
  // negative theme weight); empty for an off-theme page.
  WordCounts keywords;
  // The number of distinct positively weighted theme words of an on-theme
  // page; 0 otherwise (Url.nbMotsTheme).
  int themeWordCount = 0;
  // The title and text a result shows; on-theme pages only.
  std::optional<DocumentRecord> document;
  // What the readable views rank it by; on-theme pages only.
  std::optional<RankingSignals> ranking;
  // The validators of the page's "200" reply (UrlValidateurs); empty when
  // it had none.
  PageValidators validators;
};

// What writing a page gave: the "EXCEPTION ..." lines of the statements the
// server rejected, for the stage to print, and whether a stop came first
// (then nothing of the page was written).
struct PageWriteResult {
  std::string messages;
  bool stopped = false;
};

// Writes analysed pages into the index, each in one transaction: its type
// into Extension, its keywords into MotCle and CorrespMotUrl with their
// counts, its Document row and ranking signals, and last its theme-word count into nbMotsTheme
// of its Url row (found by equality on the URL) with the time of the visit
// into lastVisit. So a Url row whose lastVisit is still NULL is a page
// fetched and never analysed. A page that replaces its earlier visit (a
// refresh) first loses its CorrespMotUrl and MotChamp rows, and its Document,
// DocumentMesure and UrlValidateurs rows when it has none now, in the same
// transaction. A page visited but not
// indexed only gets its visit and a theme count of 0.
//
// The keywords go in a few multi-row statements, using the ids of keywords
// that earlier committed pages met (remembered, up to a bound). When one of
// those statements is rejected, the keywords go again through two
// statements per word, each rejection reported and absorbed, so the rows and
// messages are those of the per-word statements; a rejected Extension,
// Document, DocumentMesure or MotChamp statement is reported the same way. A lost connection, a
// deadlock or any failure of the theme-count update rolls the page back and
// throws (MysqlBadQuery); so does a rejection of the transaction's own
// statements. A stop (stopRequested true, asked between statements) rolls
// it back and returns with `stopped` set.
//
// Used by one thread, on a connection nothing else uses; the connection
// must outlive the object. Not copyable.
class PageWriter {
 public:
  // How keywords are written: in batches with the per-word fallback, or
  // always per word (the fallback alone, for comparison).
  enum class Writes { batched, perWord };
  // Ids remembered before the memory is emptied and filled again.
  static constexpr std::size_t maxRememberedKeywords = 100000;

  explicit PageWriter(IndexConnection& connection, std::function<bool()> stopRequested = nullptr,
                      Writes writes = Writes::batched);
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // Writes the page's record as described above; blocks on the database.
  [[nodiscard]] PageWriteResult write(const std::string& url, const PageRecord& record,
                                      bool replacing = false);

 private:
  using KeywordIds = std::unordered_map<std::string, std::string>;

  bool stopped() const;
  void recordVisit(const std::string& url, bool replacing);
  void writeRanking(const std::string& url, const RankingSignals& signals, std::string& messages);
  void writeValidators(const std::string& url, const PageValidators& validators, bool replacing,
                       std::string& messages);
  void sendReported(const std::string& statement, const std::string& message,
                    std::string& messages);
  bool writeKeywords(const std::string& url, const WordCounts& keywords, KeywordIds& learned,
                     std::string& messages);
  void writeBatched(const std::string& url, const WordCounts& keywords, KeywordIds& learned);
  void learnIds(const WordCounts& keywords, KeywordIds& learned);
  void remember(KeywordIds& learned);

  IndexConnection& connection;
  const std::function<bool()> stopRequested;
  const Writes writes;
  // Keyword -> idMot, as texts, for keywords of committed pages.
  KeywordIds keywordIds;
};

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

// The page's ranking signals: its DocumentMesure row, written or replaced,
// and its MotChamp rows, given as selects joined by " UNION ALL "
// (fieldRowsTable) of ("word", champ, count); no rows when the URL is not in
// Url. The removal of both before a page is indexed again.
[[nodiscard]] std::string measureStatement(const std::string& url, const RankingSignals& signals);
[[nodiscard]] std::string fieldWordsStatement(const std::string& url, const std::string& rows);
[[nodiscard]] std::string fieldWordsRemovalStatement(const std::string& url);
[[nodiscard]] std::string measureRemovalStatement(const std::string& url);

// The batched statements, each given its list of rows (see joinedBatches):
// keywords as ("word"), id lookups as (n,"word") answered by rows (n, idMot),
// links as (idMot,idUrl,count).
[[nodiscard]] std::string keywordBatchStatement(const std::string& rows);
[[nodiscard]] std::string keywordIdStatement(const std::string& rows);
[[nodiscard]] std::string linkBatchStatement(const std::string& rows);
[[nodiscard]] std::string urlIdStatement(const std::string& url);

}  // namespace theme_search
