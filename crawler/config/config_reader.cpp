// Reading of the configuration and theme-word files.
#include "crawler/config/config_reader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "common/text.h"

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

void readThemeWords(std::istream& in, std::map<std::string, std::uint32_t>& themeWords) {
  while (in.good() && !in.eof()) {
    std::string word;
    in >> word;
    if (in.eof() || !in.good()) break;
    // A sign is not part of an unsigned weight: stop before it.
    in >> std::ws;
    if (!std::isdigit(static_cast<unsigned char>(in.peek()))) break;
    std::uint32_t weight = 0;
    in >> weight;
    if (in.fail()) break;
    themeWords.emplace(word, weight);
  }
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
    readThemeWords(themes, reading.config.themeWords);
  return reading;
}

}  // namespace theme_search
