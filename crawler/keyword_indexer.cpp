// The keyword indexer: word counting, the theme decision and the statements
// that record an on-theme document's keywords.
#include "keyword_indexer.h"

#include <cstdint>
#include <exception>

namespace {

bool isWhitespace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

// Sends one statement whose failure is reported and absorbed: any exception
// while sending it writes `message` (a whole line or lines) to `out`.
void sendReported(IndexConnection& connection, const std::string& statement,
                  const std::string& message, std::ostream& out) {
  try {
    connection.executeStatement(statement);
  } catch (const std::exception&) {
    out << message << std::flush;
  }
}

// Records one word with its count: its keyword row, then the row linking it
// to the document.
void indexWord(IndexConnection& connection, const std::string& word, unsigned count,
               const std::string& url, std::ostream& out) {
  sendReported(connection, keywordStatement(word), "EXCEPTION MotCle " + word + "\n", out);
  const std::string link = linkStatement(word, count, url);
  sendReported(connection, link,
               "EXCEPTION CorrespMotUrl" + word + " " + url + " " + std::to_string(count) + "\n" +
                   link + "\n",
               out);
}

}  // namespace

void countWords(const std::string& text, WordCounts& wordCounts) {
  std::string::size_type end = 0;
  while (true) {
    std::string::size_type begin = end;
    while (begin < text.size() && isWhitespace(text[begin])) ++begin;
    if (begin == text.size()) return;
    end = begin;
    while (end < text.size() && !isWhitespace(text[end])) ++end;
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

void indexDocument(IndexConnection& indexerConnection, WordCounts& wordCounts,
                   const std::string& url, const std::string& documentType, const std::string& text,
                   int& themeWordCount, const EngineConfig& config, std::ostream& out) {
  sendReported(indexerConnection, extensionStatement(documentType),
               "EXCEPTION extension " + documentType + "\n", out);
  countWords(text, wordCounts);
  themeWordCount = 0;
  if (isOnTheme(wordCounts, config)) {
    for (const auto& [word, count] : wordCounts) {
      // Weights of 2^31 and more are negative: such words are kept out.
      const auto weight = static_cast<std::int32_t>(config.themeWeight(word));
      if (weight > 0) ++themeWordCount;
      if (word.size() >= 2 && weight >= 0) indexWord(indexerConnection, word, count, url, out);
    }
  }
  indexerConnection.executeStatement(themeCountStatement(themeWordCount, url));
  wordCounts.clear();
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
