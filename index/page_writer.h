#pragma once

#include <cstddef>
#include <cstdint>
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
// (common/stored_text.h), and a hash of its whole display text by which a
// page that repeats it is found (Document.empreinte); none for an empty
// text, which repeats nothing. A plain value.
struct DocumentRecord {
  std::string title;
  std::string storedText;
  std::optional<std::uint64_t> textHash;
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
  // The URL the record is written under when it is not the one the page
  // was fetched at: the page's canonical URL, inside the site. The fetched
  // URL then gets its visit only.
  std::optional<std::string> canonicalUrl;
};

// What writing a page gave: the "EXCEPTION ..." lines of the statements the
// server rejected, for the stage to print, whether a stop came first
// (then nothing of the page was written), and the indexed page whose text
// the page repeats, when that kept its record from being written.
struct PageWriteResult {
  std::string messages;
  bool stopped = false;
  std::optional<std::string> duplicateOf;
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
// A record with a canonical URL is written under that URL, in the same
// transaction: the URL becomes a page of the index (recordFetched's rows:
// in Url, out of UrlInvalide), whatever it held before is replaced (its
// validators removed, the reply's being the fetched URL's), and the fetched
// URL only gets its visit (losing its earlier rows on a refresh). A
// record whose text hash is that of a Document row of another URL (neither
// the fetched nor the canonical one) is not written at all: the fetched URL
// only gets its visit, and the result names the other URL.
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
  void visitOnly(const std::string& url, bool replacing);
  std::optional<std::string> duplicateOf(const std::string& url, const PageRecord& record);
  bool writeRecord(const std::string& url, const PageRecord& record,
                   const PageValidators& validators, bool replacing, KeywordIds& learned,
                   std::string& messages);
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
// hexadecimal literal, the text hash as a number or NULL. No row when the
// URL is not in Url.
[[nodiscard]] std::string documentStatement(const std::string& url, const DocumentRecord& record);
// The URL of the first page (by idUrl) whose Document row has the text
// hash, other than the two URLs given; no row when there is none.
[[nodiscard]] std::string duplicateStatement(std::uint64_t textHash, const std::string& url,
                                             const std::string& otherUrl);

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
