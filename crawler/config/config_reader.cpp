// Reading of the configuration and theme-word files.
#include "crawler/config/config_reader.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "common/text_folding.h"
#include "crawler/config/config_checks.h"
#include "crawler/fetch/charset.h"

namespace theme_search {

namespace {

// How reading a line, or a value line, ended.
enum class LineRead {
  value,    // a line was read
  ended,    // the file ended first
  tooLong,  // a line did not fit the buffer: the stream failed
};

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
  LineRead readValueLine() {
    LineRead read = LineRead::ended;
    while (in.good()) {
      read = readLine();
      if (!isComment()) return read;
    }
    return read == LineRead::tooLong ? read : LineRead::ended;
  }

  LineRead readLine() {
    std::memset(buffer, ' ', sizeof buffer);
    in.getline(buffer, sizeof buffer);
    if (!in.fail()) {
      ++lineNumber;
      return LineRead::value;
    }
    // getline fails without taking anything once the file has ended, and
    // after filling the buffer when the line is longer.
    if (in.gcount() == 0) return LineRead::ended;
    ++lineNumber;
    return LineRead::tooLong;
  }

  [[nodiscard]] bool good() const { return in.good(); }
  [[nodiscard]] bool isComment() const { return buffer[0] == '/' || buffer[1] == '/'; }
  [[nodiscard]] std::string line() const { return std::string(buffer); }
  [[nodiscard]] std::int32_t number() const { return std::atoi(buffer); }
  // The number of the line in the buffer, from 1.
  [[nodiscard]] unsigned at() const { return lineNumber; }

 private:
  std::istream& in;
  char buffer[256];
  unsigned lineNumber = 0;
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

// Keeps the first mistake of the configuration file in the reading; later
// ones are not noted, since a misplaced line shifts every value after it.
class MistakeNote {
 public:
  MistakeNote(const std::string& fileName, ConfigReading& reading)
      : fileName(fileName), reading(reading) {}

  // A value line that is not what `expected` describes.
  void wrongLine(const LineReader& reader, const std::string& expected) {
    note(reader.at(), unexpectedLine(expected, reader.line()));
  }
  // Notes a value that was not read from a line of its own; true when it was.
  bool readWhole(LineRead read, const LineReader& reader, const std::string& value) {
    if (read == LineRead::tooLong) note(reader.at(), "longer than 255 characters");
    if (read == LineRead::ended) note(0, "ends before " + value);
    return read == LineRead::value;
  }
  void note(unsigned line, const std::string& problem) {
    if (reading.mistake.empty()) reading.mistake = configMistake(fileName, line, problem);
  }

 private:
  const std::string& fileName;
  ConfigReading& reading;
};

void readNumber(LineReader& reader, MistakeNote& mistakes, std::int32_t& number,
                const std::string& expected) {
  const LineRead read = reader.readValueLine();
  number = reader.number();
  if (mistakes.readWhole(read, reader, expected) && !isWholeNumberLine(reader.line()))
    mistakes.wrongLine(reader, expected);
}

// The type block: its words, up to the comment line that closes it. A line
// beginning with a double quote is the site: the closing comment is missing.
void readTypes(LineReader& reader, MistakeNote& mistakes, std::vector<std::string>& types) {
  LineRead read = reader.readValueLine();
  while (reader.good() && !reader.isComment()) {
    const std::string line = reader.line();
    if (!line.empty() && line[0] == '"')
      mistakes.wrongLine(reader, "a document type, or the comment line that ends the types");
    std::string word = leadingWord(line);
    if (!word.empty()) types.push_back(std::move(word));
    read = reader.readLine();
  }
  if (read == LineRead::value && reader.isComment()) {
    if (types.empty())
      mistakes.note(reader.at(),
                    "expected at least one document type (html, pdf, ps) before this comment line");
    return;
  }
  // The file ended in the block (its last line, if any, was not taken).
  mistakes.readWhole(read == LineRead::tooLong ? read : LineRead::ended, reader,
                     "the comment line that ends the document types");
}

// The five values of the configuration file, noting the first mistake.
void readConfigValues(std::istream& in, const std::string& fileName, ConfigReading& reading) {
  LineReader reader(in);
  MistakeNote mistakes(fileName, reading);
  readNumber(reader, mistakes, reading.config.maxDepth,
             "the depth limit, a whole number such as 1");
  readNumber(reader, mistakes, reading.config.reservedValue,
             "the reserved number, a whole number such as 0");
  readTypes(reader, mistakes, reading.config.acceptedTypes);
  LineRead read = reader.readValueLine();
  reading.siteUrl = quotedValue(reader.line());
  if (mistakes.readWhole(read, reader, "the site"))
    if (std::optional<std::string> problem = siteLineProblem(reader.line()))
      mistakes.wrongLine(reader, *problem);
  read = reader.readValueLine();
  const std::string line = reader.line();
  reading.themeFileName = line.substr(0, line.find(' '));
  if (mistakes.readWhole(read, reader, "the theme-word file name") && reading.themeFileName.empty())
    mistakes.wrongLine(reader, "the name of the theme-word file");
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

ConfigReading readEngineConfig(const std::string& fileName) {
  ConfigReading reading;
  std::ifstream config(fileName, std::ios::binary);
  if (!config.is_open()) {
    reading.messages = configFileMissingMessage(fileName);
    return reading;
  }
  readConfigValues(config, fileName, reading);
  reading.config.siteHost = hostPart(reading.siteUrl);
  reading.config.sitePath = pathPart(reading.siteUrl);
  // After a mistake the name may come from any line: nothing is opened.
  if (!reading.mistake.empty()) return reading;
  std::ifstream themes(reading.themeFileName, std::ios::binary);
  if (!themes.is_open()) {
    reading.messages += themeFileMissingMessage(reading.themeFileName);
    return reading;
  }
  readThemeWords(wholeFile(themes), reading.themeFileName, reading);
  if (reading.config.themeWords.empty()) {
    reading.mistake = noThemeWordMessage(reading.themeFileName);
    return reading;
  }
  reading.usable = true;
  return reading;
}

}  // namespace theme_search
