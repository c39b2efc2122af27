// Status, content type and redirect target of an HTTP reply.
#include "crawler/fetch/reply.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text.h"
#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client.h"
#include "crawler/fetch/url_rules.h"

namespace theme_search {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One header line: its name as written, its value without the blanks
// around it (continuation lines joined with one blank).
struct HeaderField {
  std::string_view name;
  std::string value;
};

// The status line and the header lines of a reply, read up to the first
// empty line; the views point into the reply.
struct HeaderBlock {
  std::string_view statusLine;
  std::vector<HeaderField> fields;

  // The value of the first field of that name (given in lower case) that
  // has one; empty when there is none.
  [[nodiscard]] std::string valueOf(std::string_view lowerName) const {
    for (const HeaderField& field : fields)
      if (!field.value.empty() && equalsIgnoringCase(field.name, lowerName)) return field.value;
    return std::string();
  }

  // The values of every field of that name, in order.
  [[nodiscard]] std::vector<std::string_view> valuesOf(std::string_view lowerName) const {
    std::vector<std::string_view> values;
    for (const HeaderField& field : fields)
      if (equalsIgnoringCase(field.name, lowerName)) values.push_back(field.value);
    return values;
  }
};

// The next line from `at`, without its "\n" or "\r\n"; moves `at` past it.
std::string_view nextLine(std::string_view text, std::size_t& at) {
  const std::size_t end = std::min(text.find('\n', at), text.size());
  std::string_view line = text.substr(at, end - at);
  at = end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

HeaderBlock readHeaderBlock(std::string_view reply) {
  HeaderBlock block;
  std::size_t at = 0;
  block.statusLine = nextLine(reply, at);
  while (at < reply.size()) {
    const std::string_view line = nextLine(reply, at);
    if (line.empty()) break;
    if (isBlank(line.front())) {
      // A folded line continues the previous value.
      if (block.fields.empty()) continue;
      std::string& value = block.fields.back().value;
      const std::string_view more = trimmed(line);
      if (!value.empty() && !more.empty()) value += ' ';
      value += more;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    block.fields.push_back(
        HeaderField{trimmed(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1)))});
  }
  return block;
}

// The second blank-separated word of the status line; empty when it has
// fewer than two.
std::string statusOf(std::string_view statusLine) {
  std::size_t at = 0;
  std::string_view words[2];
  for (std::string_view& word : words) {
    while (at < statusLine.size() && isBlank(statusLine[at])) ++at;
    const std::size_t start = at;
    while (at < statusLine.size() && !isBlank(statusLine[at])) ++at;
    word = statusLine.substr(start, at - start);
  }
  return std::string(words[1]);
}

// A quoted string from its opening quote at `at`: its text with the
// backslash escapes undone, up to the closing quote or the end of the
// value. Moves `at` past it.
std::string quotedString(std::string_view value, std::size_t& at) {
  std::string text;
  for (++at; at < value.size() && value[at] != '"'; ++at) {
    if (value[at] == '\\' && at + 1 < value.size()) ++at;
    text += value[at];
  }
  ++at;
  return text;
}

// What a Content-Type value says.
struct MediaType {
  std::string written;  // "type/subtype" as written, without parameters
  std::string subType;  // lower-cased
  std::string charset;  // lower-cased, unquoted; empty without one
};

// The "charset" parameter among the parameters that follow the media type
// (`at` is on the first ';'): the first one, lower-cased.
std::string charsetParameter(std::string_view value, std::size_t at) {
  while (at < value.size()) {
    while (at < value.size() && (isBlank(value[at]) || value[at] == ';')) ++at;
    const std::size_t nameStart = at;
    while (at < value.size() && value[at] != '=' && value[at] != ';') ++at;
    const std::string name = lowered(std::string(trimmed(value.substr(nameStart, at - nameStart))));
    if (at >= value.size() || value[at] != '=') continue;
    ++at;
    while (at < value.size() && isBlank(value[at])) ++at;
    std::string parameter;
    if (at < value.size() && value[at] == '"') {
      parameter = quotedString(value, at);
    } else {
      const std::size_t start = at;
      while (at < value.size() && value[at] != ';') ++at;
      parameter = std::string(trimmed(value.substr(start, at - start)));
      // Some servers quote with apostrophes, which HTTP does not know.
      if (parameter.size() >= 2 && parameter.front() == '\'' && parameter.back() == '\'')
        parameter = parameter.substr(1, parameter.size() - 2);
    }
    if (name == "charset") return toLower(parameter);
    // Whatever follows a quoted string up to the next ';' is passed over.
    while (at < value.size() && value[at] != ';') ++at;
  }
  return std::string();
}

// The media type of a Content-Type value; nullopt for an empty one. The
// type ends at the first ';' or blank.
std::optional<MediaType> mediaTypeOf(std::string_view value) {
  std::size_t end = 0;
  while (end < value.size() && value[end] != ';' && !isBlank(value[end])) ++end;
  if (end == 0) return std::nullopt;
  MediaType type;
  type.written = std::string(value.substr(0, end));
  const std::size_t slash = type.written.find('/');
  type.subType =
      lowered(slash == std::string::npos ? type.written : type.written.substr(slash + 1));
  const std::size_t parameters = value.find(';', end);
  if (parameters != std::string_view::npos) type.charset = charsetParameter(value, parameters);
  return type;
}

std::optional<MediaType> contentTypeOf(const HeaderBlock& block) {
  return mediaTypeOf(block.valueOf("content-type"));
}

}  // namespace

std::optional<std::string> refusalReason(const EngineConfig& config, const std::string& reply) {
  const HeaderBlock block = readHeaderBlock(reply);
  const std::string status = statusOf(block.statusLine);
  if (status.empty()) return "no status line";
  if (isRedirectStatus(status)) return std::nullopt;
  if (status != "200") return "status " + status;
  const std::optional<MediaType> type = contentTypeOf(block);
  if (!type) return "no content type";
  if (config.isAcceptedType(type->subType)) return std::nullopt;
  return "content type " + type->written + " not accepted";
}

bool acceptReply(const EngineConfig& config, const std::string& reply) {
  return !refusalReason(config, reply);
}

ReplyReading interpretReply(const std::string& reply, const std::string& baseUrl) {
  ReplyReading reading;
  const HeaderBlock block = readHeaderBlock(reply);
  const std::string status = statusOf(block.statusLine);
  if (status == "200") {
    if (std::optional<MediaType> type = contentTypeOf(block)) {
      reading.documentType = std::move(type->subType);
      reading.charset = std::move(type->charset);
    }
    reading.language = block.valueOf("content-language");
    for (std::string_view value : block.valuesOf("x-robots-tag"))
      reading.robots |= robotsHeaderDirectives(value, kProductToken);
  } else if (isRedirectStatus(status)) {
    reading.redirected = true;
    const std::string target = block.valueOf("location");
    if (!target.empty()) reading.redirectTarget = resolveRedirect(baseUrl, target);
  } else {
    reading.documentType = "bad";
  }
  return reading;
}

bool isGoneReply(const std::string& reply) {
  std::size_t at = 0;
  const std::string status = statusOf(nextLine(reply, at));
  return status == "404" || status == "410";
}

bool isRedirectStatus(const std::string& status) {
  return status == "301" || status == "302" || status == "303" || status == "307" ||
         status == "308";
}

std::string contentTypeCharset(const std::string& reply) {
  const std::optional<MediaType> type = contentTypeOf(readHeaderBlock(reply));
  return type ? type->charset : std::string();
}

std::string replyStatus(const std::string& reply) {
  std::size_t at = 0;
  return statusOf(nextLine(reply, at));
}

std::string headerValue(const std::string& reply, std::string_view lowerName) {
  return readHeaderBlock(reply).valueOf(lowerName);
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
