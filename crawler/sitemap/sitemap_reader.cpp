// Sitemaps and sitemap indexes through expat, decompressed through zlib.
#include "crawler/sitemap/sitemap_reader.h"

#include <expat.h>

#include <algorithm>

#include "common/text_folding.h"
#include "crawler/sitemap/gzip_stream.h"
#include "crawler/sitemap/w3c_datetime.h"

namespace theme_search {

namespace {

// Expat names an element of a namespace "<namespace URI> <local name>"; a
// URI holds no blank.
const XML_Char kNamespaceSeparator = ' ';
const std::size_t kMaxFieldBytes = 8192;
const std::size_t kFeedBytes = 1 << 20;  // expat takes its input in int-sized pieces

struct ElementName {
  std::string_view space;
  std::string_view local;
};

ElementName split(const XML_Char* name) {
  const std::string_view whole(name);
  const std::size_t separator = whole.rfind(kNamespaceSeparator);
  if (separator == std::string_view::npos) return {std::string_view(), whole};
  return {whole.substr(0, separator), whole.substr(separator + 1)};
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// One document's expat parser and what it has read so far. Not copyable.
class SitemapParser {
 public:
  SitemapParser() : parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator)) {
    if (parser == nullptr) {
      reading.refusal = "XML parser not available";
      return;
    }
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);
  }
  ~SitemapParser() {
    if (parser != nullptr) XML_ParserFree(parser);
  }
  SitemapParser(const SitemapParser&) = delete;
  SitemapParser& operator=(const SitemapParser&) = delete;

  // Parses the next bytes of the document (`last`: the end of it); false
  // once the document is refused.
  bool feed(std::string_view bytes, bool last);
  // Refuses the document for a reason found outside the XML.
  void refuse(std::string reason);
  SitemapReading finish();

 private:
  enum class Field { none, location, lastModified };

  static void XMLCALL onStart(void* user, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL onEnd(void* user, const XML_Char* name);
  static void XMLCALL onText(void* user, const XML_Char* text, int length);
  static void XMLCALL onDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int);
  void start(ElementName name);
  void end();
  // Refuses the document from a handler, and stops the parse there.
  void abort(std::string reason);

  XML_Parser parser;
  SitemapReading reading;
  int depth = 0;
  std::string rootSpace;
  std::size_t entriesMet = 0;
  bool inEntry = false;
  SitemapEntry entry;
  Field field = Field::none;
  std::string text;  // of the field being read
  bool overlong = false;
};

void SitemapParser::refuse(std::string reason) {
  if (!reading.refusal) reading.refusal = std::move(reason);
}

void SitemapParser::abort(std::string reason) {
  refuse(std::move(reason));
  XML_StopParser(parser, XML_FALSE);
}

bool SitemapParser::feed(std::string_view bytes, bool last) {
  do {
    if (reading.refusal) return false;
    const std::size_t size = std::min(bytes.size(), kFeedBytes);
    const bool final = last && size == bytes.size();
    if (XML_Parse(parser, bytes.data(), static_cast<int>(size), final) == XML_STATUS_ERROR) {
      if (!reading.refusal)
        reading.refusal = "not well-formed XML (line " +
                          std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
                          XML_ErrorString(XML_GetErrorCode(parser)) + ")";
      return false;
    }
    bytes.remove_prefix(size);
  } while (!bytes.empty());
  return true;
}

SitemapReading SitemapParser::finish() {
  if (reading.refusal) reading.entries.clear();
  return std::move(reading);
}

void SitemapParser::onStart(void* user, const XML_Char* name, const XML_Char**) {
  static_cast<SitemapParser*>(user)->start(split(name));
}

void SitemapParser::onEnd(void* user, const XML_Char*) {
  static_cast<SitemapParser*>(user)->end();
}

void SitemapParser::onText(void* user, const XML_Char* data, int length) {
  SitemapParser& self = *static_cast<SitemapParser*>(user);
  if (self.field == Field::none) return;
  const auto size = static_cast<std::size_t>(length);
  if (self.text.size() + size > kMaxFieldBytes)
    self.overlong = true;
  else
    self.text.append(data, size);
}

// Entities can only be declared inside a document type declaration: refusing
// it before its first declaration leaves nothing to expand.
void SitemapParser::onDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  static_cast<SitemapParser*>(user)->abort("document type declaration refused");
}

void SitemapParser::start(ElementName name) {
  ++depth;
  if (depth == 1) {
    if (name.local == "urlset")
      reading.kind = SitemapReading::Kind::pages;
    else if (name.local == "sitemapindex")
      reading.kind = SitemapReading::Kind::index;
    else
      abort("not a sitemap (root element <" + std::string(name.local) + ">)");
    rootSpace = std::string(name.space);
    return;
  }
  if (name.space != rootSpace) return;
  const bool index = reading.kind == SitemapReading::Kind::index;
  if (depth == 2 && name.local == (index ? "sitemap" : "url")) {
    if (++entriesMet > kMaxSitemapEntries)
      abort("more than " + std::to_string(kMaxSitemapEntries) + " entries");
    inEntry = true;
    entry = SitemapEntry{};
  } else if (depth == 3 && inEntry && (name.local == "loc" || name.local == "lastmod")) {
    field = name.local == "loc" ? Field::location : Field::lastModified;
    text.clear();
    overlong = false;
  }
}

void SitemapParser::end() {
  if (depth == 3 && field != Field::none) {
    const std::string_view value = trimmed(text);
    if (field == Field::location)
      entry.location = overlong ? std::string() : utf8ToLatin1(value);
    else
      entry.lastModified = w3cDateTime(value);
    field = Field::none;
  } else if (depth == 2 && inEntry) {
    inEntry = false;
    if (!entry.location.empty()) reading.entries.push_back(std::move(entry));
  }
  --depth;
}

std::string mebibytes(std::size_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

}  // namespace

SitemapReading readSitemap(std::string_view document) {
  SitemapParser parser;
  if (isGzip(document)) {
    const std::optional<std::string> fault =
        inflateGzip(document, kMaxSitemapBytes,
                    [&parser](std::string_view piece) { return parser.feed(piece, false); });
    if (fault)
      parser.refuse(*fault);
    else
      parser.feed(std::string_view(), true);
  } else if (document.size() > kMaxSitemapBytes) {
    parser.refuse("over " + mebibytes(kMaxSitemapBytes));
  } else {
    parser.feed(document, true);
  }
  return parser.finish();
}

}  // namespace theme_search
