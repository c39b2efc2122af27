// The keyword indexer: word counting, the theme decision and the statements
// that record an on-theme document's keywords.
#include "crawler/analysis/keyword_indexer.h"

#include <cstdint>

#include "common/text.h"
#include "index/sql_text.h"

namespace theme_search {

namespace {

// Sends one statement whose rejection is reported and absorbed: a rejected
// statement adds `message` (a whole line or lines) to `messages`.
void sendReported(IndexConnection& connection, const std::string& statement,
                  const std::string& message, std::string& messages) {
  if (connection.tryExecute(statement)) messages += message;
}

// Records one word with its count: its keyword row, then the row linking it
// to the document.
void indexWord(IndexConnection& connection, const std::string& word, unsigned count,
               const std::string& url, std::string& messages) {
  sendReported(connection, keywordStatement(word), "EXCEPTION MotCle " + word + "\n", messages);
  const std::string link = linkStatement(word, count, url);
  sendReported(connection, link,
               "EXCEPTION CorrespMotUrl" + word + " " + url + " " + std::to_string(count) + "\n" +
                   link + "\n",
               messages);
}

}  // namespace

void countWords(const std::string& text, WordCounts& wordCounts) {
  std::string::size_type end = 0;
  while (true) {
    std::string::size_type begin = end;
    while (begin < text.size() && isAsciiSpace(text[begin])) ++begin;
    if (begin == text.size()) return;
    end = begin;
    while (end < text.size() && !isAsciiSpace(text[end])) ++end;
    std::string word = text.substr(begin, end - begin);
    ++wordCounts[toLower(word)];
  }
}

bool isOnTheme(const WordCounts& wordCounts, const EngineConfig& config) {
  bool weightedReached = false;
  for (const auto& [themeWord, weight] : config.themeWords) {
    auto found = wordCounts.find(themeWord);
    if (weight == 0) {
      if (found == wordCounts.end()) return false;  // a required word is missing
    } else if (found != wordCounts.end() && weight <= found->second) {
      weightedReached = true;
    }
  }
  return weightedReached;
}

IndexedDocument indexDocument(IndexConnection& connection, const std::string& url,
                              const std::string& documentType, const std::string& text,
                              const EngineConfig& config) {
  IndexedDocument indexed;
  sendReported(connection, extensionStatement(documentType),
               "EXCEPTION extension " + documentType + "\n", indexed.messages);
  WordCounts wordCounts;
  countWords(text, wordCounts);
  if (isOnTheme(wordCounts, config)) {
    for (const auto& [word, count] : wordCounts) {
      // Weights of 2^31 and more are negative: such words are kept out.
      const auto weight = static_cast<std::int32_t>(config.themeWeight(word));
      if (weight > 0) ++indexed.themeWordCount;
      if (word.size() >= 2 && weight >= 0)
        indexWord(connection, word, count, url, indexed.messages);
    }
  }
  connection.execute(themeCountStatement(indexed.themeWordCount, url));
  return indexed;
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
         " WHERE url = " + quote(url) + " LIMIT 1";
}

}  // namespace theme_search
