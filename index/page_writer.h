#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "index/index_connection.h"
#include "index/keyword_counts.h"
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
// the page repeats, when that kept its record from being written. In a
// group (PageWriter::writeGroup), a page the server refused has the reason
// in `failure` and none of its rows, and `databaseTime` is the time its
// statements waited for the server, its share of the commit included.
struct PageWriteResult {
  std::string messages;
  bool stopped = false;
  std::optional<std::string> duplicateOf;
  std::optional<std::string> failure;
  std::chrono::nanoseconds databaseTime{0};
};

// One page to write: the URL it was fetched at, its record, and whether it
// replaces rows of an earlier visit. The pointed-to record must outlive
// the write.
struct PageToWrite {
  std::string url;
  const PageRecord* record = nullptr;
  bool replacing = false;
};

// Writes analysed pages into the index, each all or nothing: first the
// fetched URL's Url row (inserted when new, with a NULL lastVisit, and taken
// out of UrlInvalide), then its type into Extension (once a session), its
// keywords into MotCle and CorrespMotUrl with their counts, its Document row
// and ranking signals, and last its theme-word count into nbMotsTheme of
// its Url row with the time of the visit into lastVisit. So a Url row whose
// lastVisit is still NULL is a page whose writing has not committed. A page
// that replaces its earlier visit (a refresh) first loses its CorrespMotUrl
// and MotChamp rows, and its Document, DocumentMesure and UrlValidateurs
// rows when it has none now. A page visited but not indexed only gets its
// visit and a theme count of 0.
//
// write() gives a page a transaction of its own; writeGroup() writes
// several pages in one transaction, so a group costs the server one commit
// (one flush of its log) instead of one a page. A group of pages new to the
// index (none replacing earlier rows, none with a canonical URL, no URL
// twice) goes in a few multi-row statements a table, as few round trips
// for the group as for one page; when the server rejects one of them, or
// a page's field words lack an id, the group starts again with each page
// inside a savepoint of its own, which leaves the same rows. Other groups
// go page by page from the start.
// Each transaction keeps the keywords' blocks (MotBloc) in step with the
// keyword rows it changed: rows it removes are taken out of them as they
// go, rows it inserts are put in at its end.
//
// A record with a canonical URL is written under that URL, in the same
// transaction: the URL becomes a page of the index (in Url, out of
// UrlInvalide), whatever it held before is replaced (its validators
// removed, the reply's being the fetched URL's), and the fetched URL only
// gets its visit (losing its earlier rows on a refresh). A record whose
// text hash is that of a Document row of another URL (neither the fetched
// nor the canonical one) is not written at all: the fetched URL only gets
// its visit, and the result names the other URL.
//
// The keywords go in a few multi-row statements, using the ids of keywords
// that earlier committed pages met (remembered, up to a bound). When one of
// those statements is rejected, the keywords go again through two
// statements per word, each rejection reported and absorbed, so the rows and
// messages are those of the per-word statements; a rejected Extension,
// Document, DocumentMesure or MotChamp statement is reported the same way. A
// lost connection, a deadlock or any failure of the Url statements rolls
// the page back and throws (MysqlBadQuery); so does a rejection of the
// transaction's own statements. A stop (stopRequested true, asked between
// statements) rolls it back and returns with `stopped` set.
//
// Used by one thread, on a connection nothing else uses; the connection
// must outlive the object. Not copyable.
class PageWriter {
 public:
  // How pages are written: a group's pages together and keywords in
  // batches (falling back to page by page and to per-word statements);
  // a group's pages one by one with keywords in batches; or every page
  // one by one with its keywords per word (the fallbacks alone, for
  // comparison).
  enum class Writes { batched, pageByPage, perWord };
  // Ids remembered before the memory is emptied and filled again.
  static constexpr std::size_t maxRememberedKeywords = 100000;

  explicit PageWriter(IndexConnection& connection, std::function<bool()> stopRequested = nullptr,
                      Writes writes = Writes::batched);
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // Writes the page's record in a transaction of its own, as described
  // above; blocks on the database.
  [[nodiscard]] PageWriteResult write(const std::string& url, const PageRecord& record,
                                      bool replacing = false);

  // Writes the pages in one transaction, a result for each, in order. A
  // page the server refuses (a rejection that leaves the transaction open)
  // is rolled back to its savepoint and the others go on; a rejection that
  // ends the transaction (a lost connection, a deadlock) or a refused
  // commit throws, with nothing of the group written. After a stop nothing
  // of the group is written and every result is `stopped`.
  [[nodiscard]] std::vector<PageWriteResult> writeGroup(const std::vector<PageToWrite>& pages);

 private:
  using KeywordIds = std::unordered_map<std::string, std::string>;
  // What a transaction has learned so far: the ids of the keywords its
  // pages inserted or looked up, and the types it wrote into Extension.
  struct Learned {
    KeywordIds keywordIds;
    std::set<std::string> types;
    // The keyword rows inserted, for the blocks.
    KeywordChanges changes;
    void merge(Learned& page);
  };

  bool stopped() const;
  std::optional<std::vector<PageWriteResult>> writeTogether(const std::vector<PageToWrite>& pages);
  std::optional<std::vector<std::uint64_t>> addPagesTogether(const std::vector<PageToWrite>& pages);
  std::vector<PageWriteResult> writeEachInSavepoint(const std::vector<PageToWrite>& pages);
  bool writePage(const PageToWrite& page, const Learned& earlier, Learned& learned,
                 PageWriteResult& result);
  std::uint64_t addPage(const std::string& url);
  void visitOnly(std::uint64_t pageId, bool replacing);
  std::optional<std::string> duplicateOf(const std::string& url, const PageRecord& record);
  bool writeRecord(const std::string& url, std::uint64_t pageId, const PageRecord& record,
                   const PageValidators& validators, bool replacing, const Learned& earlier,
                   Learned& learned, std::string& messages);
  const std::string* keywordId(const std::string& word, const Learned& earlier,
                               const Learned& learned) const;
  void writeRanking(const std::string& url, std::uint64_t pageId, const RankingSignals& signals,
                    const Learned& earlier, const Learned& learned, std::string& messages);
  void writeValidators(const std::string& url, std::uint64_t pageId,
                       const PageValidators& validators, bool replacing, std::string& messages);
  void sendReported(const std::string& statement, const std::string& message,
                    std::string& messages);
  bool writeKeywords(const std::string& url, std::uint64_t pageId, const WordCounts& keywords,
                     const Learned& earlier, Learned& learned, std::string& messages);
  void writeBatched(std::uint64_t pageId, const WordCounts& keywords, const Learned& earlier,
                    Learned& learned);
  void learnIds(const WordCounts& keywords, const Learned& earlier, Learned& learned);
  void learnIds(const std::vector<const std::string*>& words, const Learned& earlier,
                Learned& learned);
  void remember(Learned& learned);

  IndexConnection& connection;
  const std::function<bool()> stopRequested;
  const Writes writes;
  // What committed transactions learned.
  Learned committed;
  KeywordCountPart countPart;
  // The part the transaction at hand writes its block changes to.
  unsigned part = 0;
};

// The per-word statements, every text value through quote().
[[nodiscard]] std::string extensionStatement(const std::string& documentType);
[[nodiscard]] std::string keywordStatement(const std::string& word);
[[nodiscard]] std::string linkStatement(const std::string& word, unsigned count,
                                        const std::string& url);

// The statements of one page, which is known by its id (Url.idUrl).
// The page's Url row, inserted when new (lastVisit NULL); the server's
// last insert id is then the page's id, whether the row is new or not.
[[nodiscard]] std::string pageRowStatement(const std::string& url);
// The page's theme count and the time of its visit.
[[nodiscard]] std::string themeCountStatement(int themeWordCount, std::uint64_t pageId);
// Removes the CorrespMotUrl rows of a page, before it is indexed again.
[[nodiscard]] std::string linksRemovalStatement(std::uint64_t pageId);
// Removes the Document row of a page that is no longer on theme.
[[nodiscard]] std::string documentRemovalStatement(std::uint64_t pageId);
// The document's Document row, written or replaced; the stored text as a
// hexadecimal literal, the text hash as a number or NULL.
[[nodiscard]] std::string documentStatement(std::uint64_t pageId, const DocumentRecord& record);
// The URL of the first page (by idUrl) whose Document row has the text
// hash, other than the two URLs given; no row when there is none.
[[nodiscard]] std::string duplicateStatement(std::uint64_t textHash, const std::string& url,
                                             const std::string& otherUrl);

// The page's ranking signals: its DocumentMesure row, written or replaced,
// and its MotChamp rows, either as (idMot,idUrl,champ,nb) rows
// (fieldRowsStatement) or, when some keyword's id is not known, as selects
// joined by " UNION ALL " of ("word", champ, count) that find each keyword
// by the keyword column's own comparison (fieldWordsStatement; no rows when
// the URL is not in Url). The removal of both before a page is indexed again.
[[nodiscard]] std::string measureStatement(std::uint64_t pageId, const RankingSignals& signals);
[[nodiscard]] std::string fieldRowsStatement(const std::string& rows);
[[nodiscard]] std::string fieldWordsStatement(const std::string& url, const std::string& rows);
[[nodiscard]] std::string fieldWordsRemovalStatement(std::uint64_t pageId);
[[nodiscard]] std::string measureRemovalStatement(std::uint64_t pageId);

// The statements that write a group of new pages together, each given its
// list of rows or values (see joinedBatches). The pages' Url rows, as
// ("url", NULL ) rows, inserted when new (lastVisit NULL); the ids and
// URLs of the pages of a list of quoted URLs; their removal from
// UrlInvalide and UrlInvalideRaison; the hash, id and URL of the Document
// rows whose text hash is one of a list; Document rows as documentRow
// gives them; DocumentMesure rows as measureRow gives them; UrlValidateurs
// rows as validatorsRow gives them (page_validators.h); and the theme
// counts and visits of
// pages given as (idUrl, count) pairs.
[[nodiscard]] std::string pageRowsStatement(const std::string& rows);
[[nodiscard]] std::string pageIdsStatement(const std::string& quotedUrls);
[[nodiscard]] std::vector<std::string> invalidRemovalStatements(const std::string& quotedUrls);
[[nodiscard]] std::string textHashesStatement(const std::string& hashes);
[[nodiscard]] std::string documentRow(std::uint64_t pageId, const DocumentRecord& record);
[[nodiscard]] std::string documentRowsStatement(const std::string& rows);
[[nodiscard]] std::string measureRow(std::uint64_t pageId, const RankingSignals& signals);
[[nodiscard]] std::string measureRowsStatement(const std::string& rows);
[[nodiscard]] std::string themeCountsStatement(
    const std::vector<std::pair<std::uint64_t, int>>& counts);

// The batched statements, each given its list of rows (see joinedBatches):
// keywords as ("word"), id lookups as (n,"word") answered by rows (n, idMot),
// links as (idMot,idUrl,count).
[[nodiscard]] std::string keywordBatchStatement(const std::string& rows);
[[nodiscard]] std::string keywordIdStatement(const std::string& rows);
[[nodiscard]] std::string linkBatchStatement(const std::string& rows);

}  // namespace theme_search
