// Writing analysed pages into the index: their keywords, Document rows and
// visits, one transaction a page or a group of pages.
#include "index/page_writer.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "index/keyword_counts.h"
#include "index/sql_text.h"

namespace theme_search {

PageWriter::PageWriter(IndexConnection& connection, std::function<bool()> stopRequested,
                       Writes writes)
    : connection(connection), stopRequested(std::move(stopRequested)), writes(writes) {}

bool PageWriter::stopped() const {
  return stopRequested && stopRequested();
}

void PageWriter::Learned::merge(Learned& page) {
  keywordIds.merge(page.keywordIds);
  types.merge(page.types);
  changes.merge(page.changes);
}

PageWriteResult PageWriter::write(const std::string& url, const PageRecord& record,
                                  bool replacing) {
  PageWriteResult result;
  Transaction transaction(connection);
  part = countPart.next();
  Learned learned;
  if (!writePage(PageToWrite{url, &record, replacing}, Learned{}, learned, result)) {
    result.stopped = true;
    return result;  // the transaction rolls back
  }
  applyKeywordChanges(connection, learned.changes, part);
  transaction.commit();
  remember(learned);
  return result;
}

namespace {

// Whether the pages can be written together: each new to the index under
// its own URL, and no URL twice.
bool writableTogether(const std::vector<PageToWrite>& pages) {
  std::unordered_set<std::string_view> urls;
  for (const PageToWrite& page : pages)
    if (page.replacing || page.record->canonicalUrl || !urls.insert(page.url).second) return false;
  return true;
}

// A CorrespMotUrl row (idMot,idUrl,ratio) and a MotChamp row
// (idMot,idUrl,champ,nb), given the keyword's id and the page's as text.
std::string linkRow(const std::string& keywordId, const std::string& pageId, unsigned count) {
  return "(" + keywordId + "," + pageId + "," + std::to_string(count) + ")";
}

std::string fieldRow(const std::string& keywordId, const std::string& pageId, PageField field,
                     unsigned count) {
  return "(" + keywordId + "," + pageId + "," + std::to_string(static_cast<int>(field)) + "," +
         std::to_string(count) + ")";
}

// The Document rows of the index that a group's pages may repeat, by idUrl:
// the text hash (none for an empty text) and the URL of each.
using DocumentHashes =
    std::map<std::uint64_t, std::pair<std::optional<std::uint64_t>, std::string>>;

// For each page of a group written together (with its id), in order, the
// URL of the indexed page whose text it repeats, as duplicateOf finds it
// after the pages before it are written: the first by idUrl of another URL
// among `documents` and the Document rows of the pages before. None for a
// page that is not indexed or repeats nothing.
std::vector<std::optional<std::string>> repeatedTexts(const std::vector<PageToWrite>& pages,
                                                      const std::vector<std::uint64_t>& ids,
                                                      DocumentHashes documents) {
  std::vector<std::optional<std::string>> repeated(pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const PageRecord& record = *pages[i].record;
    if (record.documentType.empty() || !record.document) continue;
    if (record.document->textHash)
      for (const auto& [id, document] : documents)
        if (document.first == record.document->textHash && document.second != pages[i].url) {
          repeated[i] = document.second;
          break;
        }
    if (!repeated[i]) documents[ids[i]] = {record.document->textHash, pages[i].url};
  }
  return repeated;
}

// The rows' texts joined into as few statements as joinedBatches makes,
// each made by `statement`.
template <class Statement>
std::vector<std::string> batchedStatements(const std::vector<std::string>& rows,
                                           Statement statement) {
  std::vector<std::string> statements;
  for (const std::string& list : joinedBatches(rows)) statements.push_back(statement(list));
  return statements;
}

}  // namespace

std::vector<PageWriteResult> PageWriter::writeGroup(const std::vector<PageToWrite>& pages) {
  if (pages.empty()) return {};
  if (writes == Writes::batched && writableTogether(pages))
    if (std::optional<std::vector<PageWriteResult>> results = writeTogether(pages))
      return std::move(*results);
  return writeEachInSavepoint(pages);
}

// The pages of a group in a few statements a table, in one transaction, as
// writePage would write them one after the other; nullopt when the server
// rejected a statement (a rejection that leaves the transaction open) or a
// field word has no keyword id, with nothing written.
std::optional<std::vector<PageWriteResult>> PageWriter::writeTogether(
    const std::vector<PageToWrite>& pages) {
  std::vector<PageWriteResult> results(pages.size());
  const auto stoppedResults = [&results] {
    for (PageWriteResult& result : results) {
      result = PageWriteResult{};
      result.stopped = true;
    }
    return results;
  };
  const auto waitedBefore = connection.statementTime();
  Transaction transaction(connection);
  part = countPart.next();
  Learned group;
  try {
    const std::optional<std::vector<std::uint64_t>> ids = addPagesTogether(pages);
    if (!ids) return std::nullopt;  // page by page, which reports it
    if (stopped()) return stoppedResults();

    // Which pages repeat an indexed text, which are indexed, and what they
    // need in MotCle and Extension.
    std::vector<std::string> hashes;
    for (const PageToWrite& page : pages)
      if (page.record->document && page.record->document->textHash)
        hashes.push_back(std::to_string(*page.record->document->textHash));
    DocumentHashes documents;
    for (const std::string& list : joinedBatches(hashes))
      for (Row& row : connection.query(textHashesStatement(list)))
        documents[std::stoull(row.at(1))] = {std::stoull(row.at(0)), std::move(row.at(2))};
    std::vector<std::optional<std::string>> repeated =
        repeatedTexts(pages, *ids, std::move(documents));
    std::vector<bool> indexed(pages.size(), false);
    // Each keyword once, in the order the pages would insert them.
    std::vector<const std::string*> keywords;
    std::unordered_set<std::string_view> listed;
    std::set<std::string> newTypes;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const PageRecord& record = *pages[i].record;
      results[i].duplicateOf = std::move(repeated[i]);
      if (record.documentType.empty() || results[i].duplicateOf) continue;
      indexed[i] = true;
      if (committed.types.count(record.documentType) == 0) newTypes.insert(record.documentType);
      for (const auto& keyword : record.keywords)
        if (listed.insert(keyword.first).second) keywords.push_back(&keyword.first);
    }
    for (const std::string& type : newTypes) {
      connection.execute(extensionStatement(type));
      group.types.insert(type);
    }

    // The keywords and every indexed page's rows.
    learnIds(keywords, Learned{}, group);
    if (stopped()) return stoppedResults();
    std::vector<std::pair<std::pair<std::uint64_t, std::uint64_t>, std::string>> links;
    std::vector<std::string> documentRows, measureRows, fieldRows, validatorRows;
    std::vector<std::pair<std::uint64_t, int>> themeCounts;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const PageRecord& record = *pages[i].record;
      const std::uint64_t pageId = (*ids)[i];
      const std::string page = std::to_string(pageId);
      themeCounts.emplace_back(pageId, indexed[i] ? record.themeWordCount : 0);
      if (!indexed[i]) continue;
      for (const auto& [word, count] : record.keywords)
        if (const std::string* id = keywordId(word, Learned{}, group))
          links.emplace_back(std::pair{std::stoull(*id), pageId}, linkRow(*id, page, count));
      if (record.document) documentRows.push_back(documentRow(pageId, *record.document));
      if (record.ranking) {
        measureRows.push_back(measureRow(pageId, *record.ranking));
        for (const auto& [field, words] : record.ranking->fieldWords)
          for (const auto& [word, count] : words) {
            const std::string* id = keywordId(word, Learned{}, group);
            if (!id) return std::nullopt;  // page by page, which finds it by word
            fieldRows.push_back(fieldRow(*id, page, field, count));
          }
      }
      if (!record.validators.empty())
        validatorRows.push_back(validatorsRow(pageId, record.validators));
    }
    // In keyword order (the first column of the table's primary key), as
    // writeBatched sends them.
    std::sort(links.begin(), links.end());
    std::vector<std::string> linkRows;
    for (auto& [key, row] : links) {
      linkRows.push_back(std::move(row));
      group.changes.addRow(static_cast<std::uint32_t>(key.first),
                           static_cast<std::uint32_t>(key.second));
    }
    std::vector<std::string> statements = batchedStatements(linkRows, linkBatchStatement);
    for (auto [rows, statement] : {std::pair{&documentRows, &documentRowsStatement},
                                   std::pair{&measureRows, &measureRowsStatement},
                                   std::pair{&fieldRows, &fieldRowsStatement},
                                   std::pair{&validatorRows, &validatorsRowsStatement}})
      for (std::string& text : batchedStatements(*rows, statement))
        statements.push_back(std::move(text));
    for (const std::string& statement : statements) {
      if (stopped()) return stoppedResults();
      connection.execute(statement);
    }
    connection.execute(themeCountsStatement(themeCounts));
    applyKeywordChanges(connection, group.changes, part);
    if (stopped()) return stoppedResults();
    transaction.commit();
  } catch (const MysqlBadQuery& rejected) {
    if (endsTransaction(rejected)) throw;
    return std::nullopt;
  }
  remember(group);
  const auto share = (connection.statementTime() - waitedBefore) / pages.size();
  for (PageWriteResult& result : results) result.databaseTime = share;
  return results;
}

// The pages' Url rows, new or not, out of UrlInvalide, inside the caller's
// transaction; their ids in order, or nullopt when a URL has no row.
std::optional<std::vector<std::uint64_t>> PageWriter::addPagesTogether(
    const std::vector<PageToWrite>& pages) {
  std::vector<std::string> urlRows, quotedUrls;
  for (const PageToWrite& page : pages) {
    quotedUrls.push_back(quote(page.url));
    urlRows.push_back("(" + quotedUrls.back() + ", NULL )");
  }
  for (const std::string& statement : batchedStatements(urlRows, pageRowsStatement))
    connection.execute(statement);
  std::unordered_map<std::string, std::uint64_t> idOf;
  for (const std::string& list : joinedBatches(quotedUrls)) {
    for (const std::string& statement : invalidRemovalStatements(list))
      connection.execute(statement);
    for (const Row& row : connection.query(pageIdsStatement(list)))
      idOf[row.at(1)] = std::stoull(row.at(0));
  }
  std::vector<std::uint64_t> ids;
  for (const PageToWrite& page : pages) {
    const auto found = idOf.find(page.url);
    if (found == idOf.end()) return std::nullopt;
    ids.push_back(found->second);
  }
  return ids;
}

// The pages of a group in one transaction, each inside a savepoint.
std::vector<PageWriteResult> PageWriter::writeEachInSavepoint(
    const std::vector<PageToWrite>& pages) {
  std::vector<PageWriteResult> results(pages.size());
  Transaction transaction(connection);
  part = countPart.next();
  Learned group;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const auto waitedBefore = connection.statementTime();
    connection.execute("SAVEPOINT page");
    Learned learned;
    try {
      if (!writePage(pages[i], group, learned, results[i])) {
        for (PageWriteResult& result : results) {
          result = PageWriteResult{};
          result.stopped = true;
        }
        return results;  // the transaction rolls back
      }
      group.merge(learned);
    } catch (const MysqlBadQuery& rejected) {
      if (endsTransaction(rejected)) throw;
      connection.execute("ROLLBACK TO SAVEPOINT page");
      results[i] = PageWriteResult{};
      results[i].failure = rejected.what();
    }
    results[i].databaseTime = connection.statementTime() - waitedBefore;
  }
  const auto waitedBefore = connection.statementTime();
  applyKeywordChanges(connection, group.changes, part);
  transaction.commit();
  const auto commitShare = (connection.statementTime() - waitedBefore) / pages.size();
  for (PageWriteResult& result : results) result.databaseTime += commitShare;
  remember(group);
  return results;
}

// One page's rows inside the caller's transaction; false when a stop came
// first. `earlier` is what the transaction learned before this page,
// `learned` what this page adds to it.
bool PageWriter::writePage(const PageToWrite& page, const Learned& earlier, Learned& learned,
                           PageWriteResult& result) {
  const PageRecord& record = *page.record;
  bool replacing = page.replacing;
  const std::uint64_t pageId = addPage(page.url);
  if (record.documentType.empty()) {
    visitOnly(pageId, replacing);
    return true;
  }
  result.duplicateOf = duplicateOf(page.url, record);
  if (result.duplicateOf || record.canonicalUrl) visitOnly(pageId, replacing);
  if (result.duplicateOf) return true;
  // The reply's validators belong to the URL it came from; the canonical
  // URL's own no longer describe the rows it gets.
  const PageValidators* validators = &record.validators;
  const PageValidators none;
  const std::string& indexedUrl = record.canonicalUrl ? *record.canonicalUrl : page.url;
  std::uint64_t indexedId = pageId;
  if (record.canonicalUrl) {
    indexedId = addPage(indexedUrl);
    replacing = true;
    validators = &none;
  }
  return writeRecord(indexedUrl, indexedId, record, *validators, replacing, earlier, learned,
                     result.messages);
}

// The URL's Url row, new or not, out of UrlInvalide; returns its id.
std::uint64_t PageWriter::addPage(const std::string& url) {
  connection.execute(pageRowStatement(url));
  const std::uint64_t pageId = connection.lastInsertId();
  if (pageId == 0) throw MysqlBadQuery(("no Url row for " + url).c_str());
  connection.execute("DELETE FROM UrlInvalide WHERE url = " + quote(url));
  connection.execute("DELETE FROM UrlInvalideRaison WHERE url = " + quote(url));
  return pageId;
}

// The record's rows under the page, inside the caller's transaction; false
// when a stop came first.
bool PageWriter::writeRecord(const std::string& url, std::uint64_t pageId, const PageRecord& record,
                             const PageValidators& validators, bool replacing,
                             const Learned& earlier, Learned& learned, std::string& messages) {
  if (replacing) {
    changeKeywordBlocks(connection, "= " + std::to_string(pageId), -1, part);
    connection.execute(linksRemovalStatement(pageId));
    sendReported(fieldWordsRemovalStatement(pageId), "EXCEPTION MotChamp " + url + "\n", messages);
  }
  if (committed.types.count(record.documentType) == 0 &&
      earlier.types.count(record.documentType) == 0) {
    try {
      connection.execute(extensionStatement(record.documentType));
      learned.types.insert(record.documentType);
    } catch (const MysqlBadQuery& rejected) {
      if (endsTransaction(rejected)) throw;
      messages += "EXCEPTION extension " + record.documentType + "\n";
    }
  }
  if (!writeKeywords(url, pageId, record.keywords, earlier, learned, messages) || stopped())
    return false;
  if (record.document)
    sendReported(documentStatement(pageId, *record.document), "EXCEPTION Document " + url + "\n",
                 messages);
  else if (replacing)
    connection.execute(documentRemovalStatement(pageId));
  if (record.ranking)
    writeRanking(url, pageId, *record.ranking, earlier, learned, messages);
  else if (replacing)
    sendReported(measureRemovalStatement(pageId), "EXCEPTION DocumentMesure " + url + "\n",
                 messages);
  writeValidators(url, pageId, validators, replacing, messages);
  connection.execute(themeCountStatement(record.themeWordCount, pageId));
  return true;
}

// The indexed page whose text the record repeats, other than the fetched
// URL and the one the record goes under (whose rows it replaces). A lookup
// the server rejects (an index whose Document table lacks the text hash,
// or the table itself) finds none; the page's Document statement then
// fails too, and reports it.
std::optional<std::string> PageWriter::duplicateOf(const std::string& url,
                                                   const PageRecord& record) {
  if (!record.document || !record.document->textHash) return std::nullopt;
  const std::string& indexedUrl = record.canonicalUrl ? *record.canonicalUrl : url;
  try {
    std::vector<Row> rows =
        connection.query(duplicateStatement(*record.document->textHash, url, indexedUrl));
    if (!rows.empty()) return std::move(rows.front().at(0));
  } catch (const MysqlBadQuery& rejected) {
    if (endsTransaction(rejected)) throw;
  }
  return std::nullopt;
}

// The visit of a page that is not indexed, inside the caller's
// transaction; one that replaces an earlier visit loses that visit's rows.
void PageWriter::visitOnly(std::uint64_t pageId, bool replacing) {
  if (replacing) {
    changeKeywordBlocks(connection, "= " + std::to_string(pageId), -1, part);
    connection.execute(linksRemovalStatement(pageId));
    connection.execute(documentRemovalStatement(pageId));
    // An index made before the ranking tables still records visits.
    std::string ignored;
    sendReported(fieldWordsRemovalStatement(pageId), "", ignored);
    sendReported(measureRemovalStatement(pageId), "", ignored);
    sendReported(validatorsRemovalStatement(pageId), "", ignored);
  }
  connection.execute(themeCountStatement(0, pageId));
}

const std::string* PageWriter::keywordId(const std::string& word, const Learned& earlier,
                                         const Learned& learned) const {
  for (const KeywordIds* ids : {&committed.keywordIds, &earlier.keywordIds, &learned.keywordIds}) {
    const auto found = ids->find(word);
    if (found != ids->end()) return &found->second;
  }
  return nullptr;
}

// The page's DocumentMesure row and MotChamp rows; each rejection is
// reported and absorbed, as an index made before these tables rejects them.
// The field words go by id when every one's id is known (the batched
// keywords), otherwise by word.
void PageWriter::writeRanking(const std::string& url, std::uint64_t pageId,
                              const RankingSignals& signals, const Learned& earlier,
                              const Learned& learned, std::string& messages) {
  sendReported(measureStatement(pageId, signals), "EXCEPTION DocumentMesure " + url + "\n",
               messages);
  const std::string page = std::to_string(pageId);
  std::vector<std::string> byId, byWord;
  bool allKnown = true;
  for (const auto& [field, words] : signals.fieldWords)
    for (const auto& [word, count] : words) {
      if (const std::string* id = allKnown ? keywordId(word, earlier, learned) : nullptr)
        byId.push_back(fieldRow(*id, page, field, count));
      else
        allKnown = false;
      byWord.push_back("SELECT " + quote(word) + ", " + std::to_string(static_cast<int>(field)) +
                       ", " + std::to_string(count));
    }
  if (allKnown) {
    for (const std::string& list : joinedBatches(byId))
      sendReported(fieldRowsStatement(list), "EXCEPTION MotChamp " + url + "\n", messages);
    return;
  }
  for (const std::string& list : joinedBatches(byWord, maxBatchBytes, " UNION ALL "))
    sendReported(fieldWordsStatement(url, list), "EXCEPTION MotChamp " + url + "\n", messages);
}

// The page's validators replace those of its earlier visit, which go when
// it has none now; a rejection is reported and absorbed, as an index made
// before UrlValidateurs rejects them.
void PageWriter::writeValidators(const std::string& url, std::uint64_t pageId,
                                 const PageValidators& validators, bool replacing,
                                 std::string& messages) {
  if (!validators.empty())
    sendReported(validatorsStatement(pageId, validators), "EXCEPTION UrlValidateurs " + url + "\n",
                 messages);
  else if (replacing)
    sendReported(validatorsRemovalStatement(pageId), "EXCEPTION UrlValidateurs " + url + "\n",
                 messages);
}

// Sends one statement whose rejection is reported and absorbed: a rejected
// statement adds `message` (a whole line or lines) to `messages`. A
// rejection that ends the transaction is thrown on.
void PageWriter::sendReported(const std::string& statement, const std::string& message,
                              std::string& messages) {
  try {
    connection.execute(statement);
  } catch (const MysqlBadQuery& rejected) {
    if (endsTransaction(rejected)) throw;
    messages += message;
  }
}

// Writes the keywords and their links; false when a stop came first. The
// batch runs inside a savepoint, so a rejected batch leaves nothing behind
// for the per-word statements that replace it.
bool PageWriter::writeKeywords(const std::string& url, std::uint64_t pageId,
                               const WordCounts& keywords, const Learned& earlier, Learned& learned,
                               std::string& messages) {
  if (keywords.empty()) return true;
  if (writes != Writes::perWord) {
    connection.execute("SAVEPOINT keywords");
    try {
      writeBatched(pageId, keywords, earlier, learned);
      return true;
    } catch (const MysqlBadQuery& rejected) {
      if (endsTransaction(rejected)) throw;
      connection.execute("ROLLBACK TO SAVEPOINT keywords");
      learned.keywordIds.clear();
      learned.changes = KeywordChanges{};
    }
  }
  // Which of the per-word statements insert a row is not known here: the
  // page's rows are read back into the blocks, before and after.
  const std::string page = "= " + std::to_string(pageId);
  changeKeywordBlocks(connection, page, -1, part);
  for (const auto& [word, count] : keywords) {
    if (stopped()) return false;
    sendReported(keywordStatement(word), "EXCEPTION MotCle " + word + "\n", messages);
    const std::string link = linkStatement(word, count, url);
    sendReported(link,
                 "EXCEPTION CorrespMotUrl" + word + " " + url + " " + std::to_string(count) + "\n" +
                     link + "\n",
                 messages);
  }
  changeKeywordBlocks(connection, page, 1, part);
  return true;
}

// The keywords whose ids are not known go into MotCle (those already there
// are ignored), their ids are read back, then every keyword with an id gets
// its link row. A keyword no MotCle row matches (one cut to the column's
// length) gets no link, as its per-word statement would insert none.
void PageWriter::writeBatched(std::uint64_t pageId, const WordCounts& keywords,
                              const Learned& earlier, Learned& learned) {
  learnIds(keywords, earlier, learned);
  const std::string page = std::to_string(pageId);
  // Rows in the order of the table's primary key (idMot first) are cheaper
  // for the server to insert than rows in word order.
  std::vector<std::pair<std::uint64_t, std::string>> rows;
  rows.reserve(keywords.size());
  for (const auto& [word, count] : keywords) {
    const std::string* id = keywordId(word, earlier, learned);
    if (!id) continue;
    rows.emplace_back(std::stoull(*id), linkRow(*id, page, count));
  }
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> links;
  links.reserve(rows.size());
  for (auto& row : rows) links.push_back(std::move(row.second));
  for (const std::string& list : joinedBatches(links)) connection.execute(linkBatchStatement(list));
  // Every row was inserted (a plain INSERT refuses the whole statement for
  // one row already there).
  for (const auto& row : rows)
    learned.changes.addRow(static_cast<std::uint32_t>(row.first),
                           static_cast<std::uint32_t>(pageId));
}

// Inserts the keywords whose ids are not known and reads their ids into
// `learned`; the server matches each word to its row by the column's own
// comparison.
void PageWriter::learnIds(const WordCounts& keywords, const Learned& earlier, Learned& learned) {
  std::vector<const std::string*> words;
  words.reserve(keywords.size());
  for (const auto& keyword : keywords) words.push_back(&keyword.first);
  learnIds(words, earlier, learned);
}

// The same for words in the order given: a word's first spelling inserted
// is the one that MotCle keeps.
void PageWriter::learnIds(const std::vector<const std::string*>& words, const Learned& earlier,
                          Learned& learned) {
  std::vector<const std::string*> asked;
  std::vector<std::string> inserts, lookups;
  for (const std::string* word : words) {
    if (keywordId(*word, earlier, learned)) continue;
    const std::string quoted = quote(*word);
    lookups.push_back("(" + std::to_string(asked.size()) + "," + quoted + ")");
    inserts.push_back("(" + quoted + ")");
    asked.push_back(word);
  }
  for (const std::string& rows : joinedBatches(inserts))
    connection.execute(keywordBatchStatement(rows));
  for (const std::string& rows : joinedBatches(lookups))
    for (Row& row : connection.query(keywordIdStatement(rows)))
      learned.keywordIds[*asked.at(std::stoul(row.at(0)))] = std::move(row.at(1));
}

void PageWriter::remember(Learned& learned) {
  committed.types.merge(learned.types);
  KeywordIds& ids = committed.keywordIds;
  if (ids.size() + learned.keywordIds.size() > maxRememberedKeywords) ids.clear();
  if (learned.keywordIds.size() > maxRememberedKeywords) return;
  ids.merge(learned.keywordIds);
}

std::string extensionStatement(const std::string& documentType) {
  return "INSERT IGNORE INTO Extension ( extension ) VALUES (" + quote(documentType) + ")";
}

std::string keywordStatement(const std::string& word) {
  return "INSERT IGNORE INTO MotCle ( Mot ) VALUES (" + quote(word) + ")";
}

std::string linkStatement(const std::string& word, unsigned count, const std::string& url) {
  return "INSERT INTO CorrespMotUrl ( idMot, idUrl, ratio ) SELECT idMot, idUrl, '" +
         std::to_string(count) + "' FROM MotCle, Url WHERE mot = " + quote(word) +
         " AND url = " + quote(url);
}

std::string pageRowStatement(const std::string& url) {
  return "INSERT INTO Url (url, lastVisit) VALUES (" + quote(url) +
         ", NULL ) ON DUPLICATE KEY UPDATE idUrl = LAST_INSERT_ID(idUrl)";
}

std::string themeCountStatement(int themeWordCount, std::uint64_t pageId) {
  return "UPDATE Url SET nbMotsTheme = " + std::to_string(themeWordCount) +
         ", lastVisit = NOW() WHERE idUrl = " + std::to_string(pageId);
}

std::string linksRemovalStatement(std::uint64_t pageId) {
  return "DELETE FROM CorrespMotUrl WHERE idUrl = " + std::to_string(pageId);
}

std::string documentRemovalStatement(std::uint64_t pageId) {
  return "DELETE FROM Document WHERE idUrl = " + std::to_string(pageId);
}

std::string documentRow(std::uint64_t pageId, const DocumentRecord& record) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text = "X'";
  text.reserve(record.storedText.size() * 2 + 3);
  for (const char c : record.storedText) {
    const auto byte = static_cast<unsigned char>(c);
    text += digits[byte >> 4];
    text += digits[byte & 0xF];
  }
  text += "'";
  const std::string hash = record.textHash ? std::to_string(*record.textHash) : "NULL";
  return "(" + std::to_string(pageId) + ", " + quote(record.title) + ", " + text + ", " + hash +
         ")";
}

std::string documentRowsStatement(const std::string& rows) {
  return "INSERT INTO Document ( idUrl, titre, texte, empreinte ) VALUES " + rows +
         " ON DUPLICATE KEY UPDATE titre = VALUES(titre), texte = VALUES(texte), "
         "empreinte = VALUES(empreinte)";
}

std::string documentStatement(std::uint64_t pageId, const DocumentRecord& record) {
  return documentRowsStatement(documentRow(pageId, record));
}

std::string duplicateStatement(std::uint64_t textHash, const std::string& url,
                               const std::string& otherUrl) {
  return "SELECT u.url FROM Document d JOIN Url u ON u.idUrl = d.idUrl WHERE d.empreinte = " +
         std::to_string(textHash) + " AND u.url NOT IN (" + quote(url) + ", " + quote(otherUrl) +
         ") ORDER BY u.idUrl LIMIT 1";
}

std::string measureRow(std::uint64_t pageId, const RankingSignals& signals) {
  const auto length = [&signals](PageField field) {
    const auto found = signals.fieldLengths.find(field);
    return std::to_string(found == signals.fieldLengths.end() ? 0u : found->second);
  };
  return "(" + std::to_string(pageId) + ", " + std::to_string(signals.wordCount) + ", " +
         length(PageField::title) + ", " + length(PageField::headings) + ", " +
         length(PageField::urlPath) + ", " + length(PageField::description) + ", " +
         quote(signals.language.substr(0, 8)) + ")";
}

std::string measureRowsStatement(const std::string& rows) {
  return "INSERT INTO DocumentMesure ( idUrl, nbMots, nbMotsTitre, nbMotsIntertitres, "
         "nbMotsChemin, nbMotsDescription, langue ) VALUES " +
         rows +
         " ON DUPLICATE KEY UPDATE nbMots = VALUES(nbMots), nbMotsTitre = VALUES(nbMotsTitre), "
         "nbMotsIntertitres = VALUES(nbMotsIntertitres), nbMotsChemin = VALUES(nbMotsChemin), "
         "nbMotsDescription = VALUES(nbMotsDescription), langue = VALUES(langue)";
}

std::string measureStatement(std::uint64_t pageId, const RankingSignals& signals) {
  return measureRowsStatement(measureRow(pageId, signals));
}

std::string fieldRowsStatement(const std::string& rows) {
  return "INSERT IGNORE INTO MotChamp ( idMot, idUrl, champ, nb ) VALUES " + rows;
}

std::string fieldWordsStatement(const std::string& url, const std::string& rows) {
  // The first, empty select names the columns; each word finds its
  // keyword by the keyword column's own comparison.
  return "INSERT IGNORE INTO MotChamp ( idMot, idUrl, champ, nb ) SELECT M.idMot, U.idUrl, "
         "v.champ, v.nb FROM (SELECT '' AS mot, 0 AS champ, 0 AS nb FROM DUAL WHERE FALSE "
         "UNION ALL " +
         rows +
         ") v JOIN MotCle M ON M.mot = v.mot COLLATE latin1_general_ci JOIN Url U ON U.url = " +
         quote(url);
}

std::string fieldWordsRemovalStatement(std::uint64_t pageId) {
  return "DELETE FROM MotChamp WHERE idUrl = " + std::to_string(pageId);
}

std::string measureRemovalStatement(std::uint64_t pageId) {
  return "DELETE FROM DocumentMesure WHERE idUrl = " + std::to_string(pageId);
}

std::string pageRowsStatement(const std::string& rows) {
  return "INSERT INTO Url (url, lastVisit) VALUES " + rows +
         " ON DUPLICATE KEY UPDATE idUrl = idUrl";
}

std::string pageIdsStatement(const std::string& quotedUrls) {
  return "SELECT idUrl, url FROM Url WHERE url IN (" + quotedUrls + ")";
}

std::vector<std::string> invalidRemovalStatements(const std::string& quotedUrls) {
  return {"DELETE FROM UrlInvalide WHERE url IN (" + quotedUrls + ")",
          "DELETE FROM UrlInvalideRaison WHERE url IN (" + quotedUrls + ")"};
}

std::string textHashesStatement(const std::string& hashes) {
  return "SELECT d.empreinte, d.idUrl, u.url FROM Document d JOIN Url u ON u.idUrl = d.idUrl "
         "WHERE d.empreinte IN (" +
         hashes + ")";
}

std::string themeCountsStatement(const std::vector<std::pair<std::uint64_t, int>>& counts) {
  std::string cases, ids;
  for (const auto& [pageId, count] : counts) {
    const std::string id = std::to_string(pageId);
    cases += " WHEN " + id + " THEN " + std::to_string(count);
    ids += (ids.empty() ? "" : ",") + id;
  }
  return "UPDATE Url SET nbMotsTheme = CASE idUrl" + cases +
         " END, lastVisit = NOW() WHERE idUrl IN (" + ids + ")";
}

std::string keywordBatchStatement(const std::string& rows) {
  return "INSERT IGNORE INTO MotCle ( Mot ) VALUES " + rows;
}

std::string keywordIdStatement(const std::string& rows) {
  return "WITH w (n, mot) AS (VALUES " + rows +
         ") SELECT w.n, m.idMot FROM w JOIN MotCle m ON m.mot = w.mot";
}

std::string linkBatchStatement(const std::string& rows) {
  return "INSERT INTO CorrespMotUrl ( idMot, idUrl, ratio ) VALUES " + rows;
}

}  // namespace theme_search
