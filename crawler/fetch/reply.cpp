// Status, content type and redirect target of an HTTP reply.
#include "crawler/fetch/reply.h"

#include <algorithm>
#include <string_view>

#include "common/text.h"
#include "crawler/config/engine_config.h"
#include "crawler/fetch/url_rules.h"

namespace theme_search {

namespace {

// Hands out the words of a text one at a time, without copying the text.
class WordReader {
 public:
  explicit WordReader(const std::string& text) : text(text) {}

  // False, leaving `word` as it is, when the text has no word left.
  [[nodiscard]] bool next(std::string& word) {
    while (position < text.size() && isAsciiSpace(text[position])) ++position;
    if (position == text.size()) return false;
    const std::size_t start = position;
    while (position < text.size() && !isAsciiSpace(text[position])) ++position;
    word.assign(text, start, position - start);
    return true;
  }

 private:
  const std::string& text;
  std::size_t position = 0;
};

// The second word; empty when the reply has fewer than two.
std::string readStatus(WordReader& words) {
  std::string version;
  std::string status;
  if (!words.next(version) || !words.next(status)) return std::string();
  return status;
}

// Lower-cases `word` and the words after it until one is `name`; false when
// the words run out first.
bool seekHeader(WordReader& words, std::string& word, const char* name) {
  while (toLower(word) != name) {
    if (!words.next(word)) return false;
  }
  return true;
}

// The sub-type of the first "content-type:" value after `word`, as written:
// "text/html;" gives "html", "application/pdf" gives "pdf".
bool readSubType(WordReader& words, std::string word, std::string& subType,
                 std::string* value = nullptr) {
  std::string own;
  if (!value) value = &own;
  if (!seekHeader(words, word, "content-type:") || !words.next(*value)) return false;
  if (!value->empty() && value->back() == ';') value->pop_back();
  const std::size_t slash = value->rfind('/');
  subType = slash == std::string::npos ? *value : value->substr(slash + 1);
  return true;
}

// The value of the first "location:" header after `word`, as written;
// repeated "location:" words are passed over.
bool readLocation(WordReader& words, std::string word, std::string& target) {
  if (!seekHeader(words, word, "location:")) return false;
  do {
    if (!words.next(word)) return false;
  } while (lowered(word) == "location:");
  target = word;
  return true;
}

}  // namespace

std::optional<std::string> refusalReason(const EngineConfig& config, const std::string& reply) {
  WordReader words(reply);
  const std::string status = readStatus(words);
  if (status.empty()) return "no status line";
  if (isRedirectStatus(status)) return std::nullopt;
  if (status != "200") return "status " + status;
  // The sub-type is compared as written: "text/HTML" is not "html".
  std::string subType;
  std::string contentType;
  if (!readSubType(words, status, subType, &contentType)) return "no content type";
  if (config.isAcceptedType(subType)) return std::nullopt;
  return "content type " + contentType + " not accepted";
}

bool acceptReply(const EngineConfig& config, const std::string& reply) {
  return !refusalReason(config, reply);
}

ReplyReading interpretReply(const std::string& reply, const std::string& baseUrl) {
  ReplyReading reading;
  WordReader words(reply);
  const std::string status = readStatus(words);
  if (status == "200") {
    std::string subType;
    if (readSubType(words, status, subType)) reading.documentType = toLower(subType);
    reading.charset = contentTypeCharset(reply);
  } else if (isRedirectStatus(status)) {
    reading.redirected = true;
    std::string target;
    if (readLocation(words, status, target))
      reading.redirectTarget = resolveRedirect(baseUrl, target);
  } else {
    reading.documentType = "bad";
  }
  return reading;
}

bool isRedirectStatus(const std::string& status) {
  return status == "301" || status == "302" || status == "303" || status == "307" ||
         status == "308";
}

std::string contentTypeCharset(const std::string& reply) {
  const std::size_t headerEnd = std::min(reply.find("\r\n\r\n"), reply.size());
  for (std::size_t line = 0; line < headerEnd;) {
    const std::size_t end = std::min(reply.find('\n', line), headerEnd);
    std::string text = lowered(reply.substr(line, end - line));
    line = end + 1;
    if (!startsWith(text, "content-type:")) continue;
    const std::size_t key = text.find("charset=");
    if (key == std::string::npos) return std::string();
    std::size_t start = key + 8;
    while (start < text.size() && (text[start] == '"' || text[start] == '\'')) ++start;
    std::size_t stop = start;
    while (stop < text.size() && !isAsciiSpace(text[stop]) &&
           std::string_view("\"';,").find(text[stop]) == std::string_view::npos)
      ++stop;
    return text.substr(start, stop - start);
  }
  return std::string();
}

void removeHeader(std::string& reply) {
  std::size_t end = reply.find("\r\n\r\n");
  if (end != std::string::npos) {
    reply.erase(0, end + 4);
    return;
  }
  end = reply.find("\n\n");
  if (end != std::string::npos)
    reply.erase(0, end + 2);
  else
    reply.clear();
}

}  // namespace theme_search
