// Reading of the configuration and theme-word files.
#include "crawler/config/config_reader.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "common/text_folding.h"
#include "crawler/fetch/charset.h"

namespace theme_search {

namespace {

// The configuration file seen one line at a time through a fixed buffer.
// Before every read the buffer is filled with blanks, so the byte after a
// short line's terminator is a blank; when the stream stops being good the
// buffer keeps the last line read, and later values are taken from it.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in(in) {
    std::memset(buffer, ' ', sizeof buffer);
    buffer[0] = '\0';
  }

  // Reads lines until one is not a comment; stops early, leaving the
  // buffer as it is, once the stream is no longer good.
  void readValueLine() {
    do {
      if (!in.good()) return;
      readLine();
    } while (isComment());
  }

  [[nodiscard]] bool good() const { return in.good(); }
  [[nodiscard]] bool isComment() const { return buffer[0] == '/' || buffer[1] == '/'; }
  [[nodiscard]] std::string line() const { return std::string(buffer); }
  [[nodiscard]] std::int32_t number() const { return std::atoi(buffer); }

  void readLine() {
    std::memset(buffer, ' ', sizeof buffer);
    in.getline(buffer, sizeof buffer);
  }

 private:
  std::istream& in;
  char buffer[256];
};

std::string leadingWord(const std::string& line) {
  std::size_t end = 0;
  while (end < line.size() && isAsciiLetter(line[end])) ++end;
  return line.substr(0, end);
}

// The text after the opening quote up to the closing one, or to the end of
// the line when there is none.
std::string quotedValue(const std::string& line) {
  if (line.size() < 2) return std::string();
  std::string value = line.substr(1);
  return value.substr(0, value.find('"'));
}

}  // namespace

std::string configFileMissingMessage(const std::string& fileName) {
  return "le fichier pour le chargement de la config n'a pas pu \xea"
         "tre ouvert : " +
         fileName + "\n";
}

std::string themeFileMissingMessage(const std::string& fileName) {
  return "le fichier pour le chargement des mots du theme n'a pas pu \xea"
         "tre ouvert : " +
         fileName + "\n";
}

namespace {

// The five values of the configuration file; returns the theme-word file
// name.
std::string readConfigValues(std::istream& in, ConfigReading& reading) {
  LineReader reader(in);
  reader.readValueLine();
  reading.config.maxDepth = reader.number();
  reader.readValueLine();
  reading.config.reservedValue = reader.number();
  reader.readValueLine();
  while (reader.good() && !reader.isComment()) {
    std::string word = leadingWord(reader.line());
    if (!word.empty()) reading.config.acceptedTypes.push_back(word);
    reader.readLine();
  }
  reader.readValueLine();
  reading.siteUrl = quotedValue(reader.line());
  reader.readValueLine();
  std::string line = reader.line();
  return line.substr(0, line.find(' '));
}

// The theme-word file seen as "word weight" pairs: both are runs of bytes
// other than white space, the weight a run of digits (an unsigned 32-bit
// number) that may be followed at once by the next word ("2mot").
class PairReader {
 public:
  explicit PairReader(std::string_view text) : text(text) {}

  // The next word, its line and its weight; false at the end of the text, at
  // a word without a following weight and at a weight that is not an
  // unsigned 32-bit number.
  [[nodiscard]] bool next(std::string_view& word, unsigned& line, std::uint32_t& weight) {
    skipSpace();
    const std::size_t start = at;
    while (at < text.size() && !isAsciiSpace(text[at])) ++at;
    if (at == start) return false;
    word = text.substr(start, at - start);
    line = lineNumber;
    skipSpace();
    if (at == text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
    std::uint64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      if (value > UINT32_MAX) return false;
    }
    weight = static_cast<std::uint32_t>(value);
    return true;
  }

 private:
  void skipSpace() {
    for (; at < text.size() && isAsciiSpace(text[at]); ++at)
      if (text[at] == '\n') ++lineNumber;
  }

  std::string_view text;
  std::size_t at = 0;
  unsigned lineNumber = 1;
};

std::string themeEntryMessage(const std::string& fileName, unsigned line, const std::string& entry,
                              const char* problem) {
  return "theme word file " + fileName + ", line " + std::to_string(line) + ": \"" + entry +
         "\" gives " + problem + "; ignored\n";
}

// Reads the theme-word file's text into the configuration's theme words,
// adding a message for each entry that is not one page word.
void readThemeWords(const std::string& text, const std::string& fileName, ConfigReading& reading) {
  const bool utf8 = isMultiByteUtf8(text);
  PairReader pairs(text);
  std::string_view written;
  unsigned line = 0;
  std::uint32_t weight = 0;
  while (pairs.next(written, line, weight)) {
    const std::string entry = utf8 ? utf8ToLatin1(written) : std::string(written);
    std::vector<std::string> words = wordsOf(entry);
    if (words.size() == 1)
      reading.config.themeWords.emplace(toLowerLatin1(words.front()), weight);
    else
      reading.messages +=
          themeEntryMessage(fileName, line, entry, words.empty() ? "no word" : "several words");
  }
}

std::string wholeFile(std::istream& in) {
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ConfigReading readEngineConfig(const std::string& fileName) {
  ConfigReading reading;
  std::ifstream config(fileName, std::ios::binary);
  if (!config.is_open()) {
    reading.messages = configFileMissingMessage(fileName);
    return reading;
  }
  const std::string themeFile = readConfigValues(config, reading);
  reading.config.siteHost = hostPart(reading.siteUrl);
  reading.config.sitePath = pathPart(reading.siteUrl);
  std::ifstream themes(themeFile, std::ios::binary);
  if (!themes.is_open())
    reading.messages += themeFileMissingMessage(themeFile);
  else
    readThemeWords(wholeFile(themes), themeFile, reading);
  return reading;
}

}  // namespace theme_search
