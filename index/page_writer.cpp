// Writing an analysed page into the index: its keywords, its Document row
// and its visit, one transaction a page.
#include "index/page_writer.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "index/sql_text.h"
#include "index/url_registry.h"

namespace theme_search {

PageWriter::PageWriter(IndexConnection& connection, std::function<bool()> stopRequested,
                       Writes writes)
    : connection(connection), stopRequested(std::move(stopRequested)), writes(writes) {}

bool PageWriter::stopped() const {
  return stopRequested && stopRequested();
}

PageWriteResult PageWriter::write(const std::string& url, const PageRecord& record,
                                  bool replacing) {
  PageWriteResult result;
  if (record.documentType.empty()) {
    recordVisit(url, replacing);
    return result;
  }
  const std::string& indexedUrl = record.canonicalUrl ? *record.canonicalUrl : url;
  Transaction transaction(connection);
  result.duplicateOf = duplicateOf(url, record);
  if (result.duplicateOf || record.canonicalUrl) visitOnly(url, replacing);
  if (result.duplicateOf) {
    transaction.commit();
    return result;
  }
  // The reply's validators belong to the URL it came from; the canonical
  // URL's own no longer describe the rows it gets.
  const PageValidators* validators = &record.validators;
  const PageValidators none;
  if (record.canonicalUrl) {
    addFetched(connection, indexedUrl);
    replacing = true;
    validators = &none;
  }
  KeywordIds learned;
  if (!writeRecord(indexedUrl, record, *validators, replacing, learned, result.messages)) {
    result.stopped = true;
    return result;  // the transaction rolls back
  }
  transaction.commit();
  remember(learned);
  return result;
}

// The record's rows under `url`, inside the caller's transaction; false
// when a stop came first.
bool PageWriter::writeRecord(const std::string& url, const PageRecord& record,
                             const PageValidators& validators, bool replacing, KeywordIds& learned,
                             std::string& messages) {
  if (replacing) {
    connection.execute(linksRemovalStatement(url));
    sendReported(fieldWordsRemovalStatement(url), "EXCEPTION MotChamp " + url + "\n", messages);
  }
  sendReported(extensionStatement(record.documentType),
               "EXCEPTION extension " + record.documentType + "\n", messages);
  if (!writeKeywords(url, record.keywords, learned, messages) || stopped()) return false;
  if (record.document)
    sendReported(documentStatement(url, *record.document), "EXCEPTION Document " + url + "\n",
                 messages);
  else if (replacing)
    connection.execute(documentRemovalStatement(url));
  if (record.ranking)
    writeRanking(url, *record.ranking, messages);
  else if (replacing)
    sendReported(measureRemovalStatement(url), "EXCEPTION DocumentMesure " + url + "\n", messages);
  writeValidators(url, validators, replacing, messages);
  connection.execute(themeCountStatement(record.themeWordCount, url));
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

// A page that is analysed but not indexed: one statement, or one
// transaction when it replaces an earlier visit.
void PageWriter::recordVisit(const std::string& url, bool replacing) {
  if (!replacing) {
    connection.execute(themeCountStatement(0, url));
    return;
  }
  Transaction transaction(connection);
  visitOnly(url, replacing);
  transaction.commit();
}

// The visit of a page that is not indexed, inside the caller's
// transaction; one that replaces an earlier visit loses that visit's rows.
void PageWriter::visitOnly(const std::string& url, bool replacing) {
  if (replacing) {
    connection.execute(linksRemovalStatement(url));
    connection.execute(documentRemovalStatement(url));
    // An index made before the ranking tables still records visits.
    std::string ignored;
    sendReported(fieldWordsRemovalStatement(url), "", ignored);
    sendReported(measureRemovalStatement(url), "", ignored);
    sendReported(validatorsRemovalStatement(url), "", ignored);
  }
  connection.execute(themeCountStatement(0, url));
}

// The page's DocumentMesure row and MotChamp rows; each rejection is
// reported and absorbed, as an index made before these tables rejects them.
void PageWriter::writeRanking(const std::string& url, const RankingSignals& signals,
                              std::string& messages) {
  sendReported(measureStatement(url, signals), "EXCEPTION DocumentMesure " + url + "\n", messages);
  std::vector<std::string> rows;
  for (const auto& [field, words] : signals.fieldWords)
    for (const auto& [word, count] : words)
      rows.push_back("SELECT " + quote(word) + ", " + std::to_string(static_cast<int>(field)) +
                     ", " + std::to_string(count));
  for (const std::string& list : joinedBatches(rows, maxBatchBytes, " UNION ALL "))
    sendReported(fieldWordsStatement(url, list), "EXCEPTION MotChamp " + url + "\n", messages);
}

// The page's validators replace those of its earlier visit, which go when
// it has none now; a rejection is reported and absorbed, as an index made
// before UrlValidateurs rejects them.
void PageWriter::writeValidators(const std::string& url, const PageValidators& validators,
                                 bool replacing, std::string& messages) {
  if (!validators.empty())
    sendReported(validatorsStatement(url, validators), "EXCEPTION UrlValidateurs " + url + "\n",
                 messages);
  else if (replacing)
    sendReported(validatorsRemovalStatement(url), "EXCEPTION UrlValidateurs " + url + "\n",
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
bool PageWriter::writeKeywords(const std::string& url, const WordCounts& keywords,
                               KeywordIds& learned, std::string& messages) {
  if (keywords.empty()) return true;
  if (writes == Writes::batched) {
    connection.execute("SAVEPOINT keywords");
    try {
      writeBatched(url, keywords, learned);
      return true;
    } catch (const MysqlBadQuery& rejected) {
      if (endsTransaction(rejected)) throw;
      connection.execute("ROLLBACK TO SAVEPOINT keywords");
      learned.clear();
    }
  }
  for (const auto& [word, count] : keywords) {
    if (stopped()) return false;
    sendReported(keywordStatement(word), "EXCEPTION MotCle " + word + "\n", messages);
    const std::string link = linkStatement(word, count, url);
    sendReported(link,
                 "EXCEPTION CorrespMotUrl" + word + " " + url + " " + std::to_string(count) + "\n" +
                     link + "\n",
                 messages);
  }
  return true;
}

// The keywords whose ids are not remembered go into MotCle (those already
// there are ignored), their ids are read back, then every keyword with an
// id gets its link row. A keyword no MotCle row matches (one cut to the
// column's length) gets no link, as its per-word statement would insert
// none; so does every keyword of a page missing from Url.
void PageWriter::writeBatched(const std::string& url, const WordCounts& keywords,
                              KeywordIds& learned) {
  learnIds(keywords, learned);
  const std::vector<Row> urlRows = connection.query(urlIdStatement(url));
  if (urlRows.empty()) return;
  const std::string& urlId = urlRows.front().at(0);
  // Rows in the order of the table's primary key (idMot first) are cheaper
  // for the server to insert than rows in word order.
  std::vector<std::pair<std::uint64_t, std::string>> rows;
  rows.reserve(keywords.size());
  for (const auto& [word, count] : keywords) {
    auto id = keywordIds.find(word);
    if (id == keywordIds.end()) {
      id = learned.find(word);
      if (id == learned.end()) continue;
    }
    rows.emplace_back(std::stoull(id->second),
                      "(" + id->second + "," + urlId + "," + std::to_string(count) + ")");
  }
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> links;
  links.reserve(rows.size());
  for (auto& row : rows) links.push_back(std::move(row.second));
  for (const std::string& list : joinedBatches(links)) connection.execute(linkBatchStatement(list));
}

// Inserts the keywords whose ids are not remembered and reads their ids
// into `learned`; the server matches each word to its row by the column's
// own comparison.
void PageWriter::learnIds(const WordCounts& keywords, KeywordIds& learned) {
  std::vector<const std::string*> asked;
  std::vector<std::string> inserts, lookups;
  for (const auto& keyword : keywords) {
    if (keywordIds.count(keyword.first) != 0) continue;
    const std::string quoted = quote(keyword.first);
    lookups.push_back("(" + std::to_string(asked.size()) + "," + quoted + ")");
    inserts.push_back("(" + quoted + ")");
    asked.push_back(&keyword.first);
  }
  for (const std::string& rows : joinedBatches(inserts))
    connection.execute(keywordBatchStatement(rows));
  for (const std::string& rows : joinedBatches(lookups))
    for (Row& row : connection.query(keywordIdStatement(rows)))
      learned[*asked.at(std::stoul(row.at(0)))] = std::move(row.at(1));
}

void PageWriter::remember(KeywordIds& learned) {
  if (keywordIds.size() + learned.size() > maxRememberedKeywords) keywordIds.clear();
  if (learned.size() > maxRememberedKeywords) return;
  keywordIds.merge(learned);
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

std::string themeCountStatement(int themeWordCount, const std::string& url) {
  return "UPDATE Url SET nbMotsTheme = " + std::to_string(themeWordCount) +
         ", lastVisit = NOW() WHERE url = " + quote(url) + " LIMIT 1";
}

std::string linksRemovalStatement(const std::string& url) {
  return "DELETE FROM CorrespMotUrl WHERE idUrl IN (SELECT idUrl FROM Url WHERE url = " +
         quote(url) + ")";
}

std::string documentRemovalStatement(const std::string& url) {
  return "DELETE FROM Document WHERE idUrl IN (SELECT idUrl FROM Url WHERE url = " + quote(url) +
         ")";
}

std::string documentStatement(const std::string& url, const DocumentRecord& record) {
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
  return "INSERT INTO Document ( idUrl, titre, texte, empreinte ) SELECT idUrl, " +
         quote(record.title) + ", " + text + ", " + hash + " FROM Url WHERE url = " + quote(url) +
         " ON DUPLICATE KEY UPDATE titre = VALUES(titre), texte = VALUES(texte), "
         "empreinte = VALUES(empreinte)";
}

std::string duplicateStatement(std::uint64_t textHash, const std::string& url,
                               const std::string& otherUrl) {
  return "SELECT u.url FROM Document d JOIN Url u ON u.idUrl = d.idUrl WHERE d.empreinte = " +
         std::to_string(textHash) + " AND u.url NOT IN (" + quote(url) + ", " + quote(otherUrl) +
         ") ORDER BY u.idUrl LIMIT 1";
}

std::string measureStatement(const std::string& url, const RankingSignals& signals) {
  const auto length = [&signals](PageField field) {
    const auto found = signals.fieldLengths.find(field);
    return std::to_string(found == signals.fieldLengths.end() ? 0u : found->second);
  };
  return "INSERT INTO DocumentMesure ( idUrl, nbMots, nbMotsTitre, nbMotsIntertitres, "
         "nbMotsChemin, nbMotsDescription, langue ) SELECT idUrl, " +
         std::to_string(signals.wordCount) + ", " + length(PageField::title) + ", " +
         length(PageField::headings) + ", " + length(PageField::urlPath) + ", " +
         length(PageField::description) + ", " + quote(signals.language.substr(0, 8)) +
         " FROM Url WHERE url = " + quote(url) +
         " ON DUPLICATE KEY UPDATE nbMots = VALUES(nbMots), nbMotsTitre = VALUES(nbMotsTitre), "
         "nbMotsIntertitres = VALUES(nbMotsIntertitres), nbMotsChemin = VALUES(nbMotsChemin), "
         "nbMotsDescription = VALUES(nbMotsDescription), langue = VALUES(langue)";
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

std::string fieldWordsRemovalStatement(const std::string& url) {
  return "DELETE FROM MotChamp WHERE idUrl IN (SELECT idUrl FROM Url WHERE url = " + quote(url) +
         ")";
}

std::string measureRemovalStatement(const std::string& url) {
  return "DELETE FROM DocumentMesure WHERE idUrl IN (SELECT idUrl FROM Url WHERE url = " +
         quote(url) + ")";
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

std::string urlIdStatement(const std::string& url) {
  return "SELECT idUrl FROM Url WHERE url = " + quote(url);
}

}  // namespace theme_search
