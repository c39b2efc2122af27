// The HTML scanner's hand-written half: construction, entity decoding and
// the operations the rules in html_scanner.l call.
#include "crawler/analysis/html_scanner.h"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "common/text.h"

namespace theme_search {

namespace {

// Entity names of the Latin-1 characters U+00A0-U+00FF, in code order.
constexpr std::array<std::string_view, 96> latin1EntityNames = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

// Entity names of the Latin Extended-A letters U+0100-U+017F, in code
// order; empty where there is none.
constexpr std::array<std::string_view, 128> latinExtendedAEntityNames = {
    "Amacr",  "amacr",  "Abreve", "abreve", "Aogon",  "aogon",  "Cacute", "cacute", "Ccirc",
    "ccirc",  "Cdot",   "cdot",   "Ccaron", "ccaron", "Dcaron", "dcaron", "Dstrok", "dstrok",
    "Emacr",  "emacr",  "",       "",       "Edot",   "edot",   "Eogon",  "eogon",  "Ecaron",
    "ecaron", "Gcirc",  "gcirc",  "Gbreve", "gbreve", "Gdot",   "gdot",   "Gcedil", "",
    "Hcirc",  "hcirc",  "Hstrok", "hstrok", "Itilde", "itilde", "Imacr",  "imacr",  "",
    "",       "Iogon",  "iogon",  "Idot",   "imath",  "IJlig",  "ijlig",  "Jcirc",  "jcirc",
    "Kcedil", "kcedil", "kgreen", "Lacute", "lacute", "Lcedil", "lcedil", "Lcaron", "lcaron",
    "Lmidot", "lmidot", "Lstrok", "lstrok", "Nacute", "nacute", "Ncedil", "ncedil", "Ncaron",
    "ncaron", "napos",  "ENG",    "eng",    "Omacr",  "omacr",  "",       "",       "Odblac",
    "odblac", "OElig",  "oelig",  "Racute", "racute", "Rcedil", "rcedil", "Rcaron", "rcaron",
    "Sacute", "sacute", "Scirc",  "scirc",  "Scedil", "scedil", "Scaron", "scaron", "Tcedil",
    "tcedil", "Tcaron", "tcaron", "Tstrok", "tstrok", "Utilde", "utilde", "Umacr",  "umacr",
    "Ubreve", "ubreve", "Uring",  "uring",  "Udblac", "udblac", "Uogon",  "uogon",  "Wcirc",
    "wcirc",  "Ycirc",  "ycirc",  "Yuml",   "Zacute", "zacute", "Zdot",   "zdot",   "Zcaron",
    "zcaron", "",
};

struct NamedCharacter {
  std::string_view name;
  char32_t character;
};

// The other named entities: ASCII characters and the punctuation beyond
// Latin-1 that the transliteration table maps.
constexpr NamedCharacter otherEntities[] = {
    {"quot", '"'},      {"amp", '&'},      {"apos", '\''},     {"lt", '<'},
    {"gt", '>'},        {"fnof", 0x0192},  {"circ", 0x02C6},   {"tilde", 0x02DC},
    {"ensp", 0x2002},   {"emsp", 0x2003},  {"thinsp", 0x2009}, {"ndash", 0x2013},
    {"mdash", 0x2014},  {"lsquo", 0x2018}, {"rsquo", 0x2019},  {"sbquo", 0x201A},
    {"ldquo", 0x201C},  {"rdquo", 0x201D}, {"bdquo", 0x201E},  {"dagger", 0x2020},
    {"Dagger", 0x2021}, {"bull", 0x2022},  {"hellip", 0x2026}, {"permil", 0x2030},
    {"prime", 0x2032},  {"Prime", 0x2033}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A},
    {"frasl", 0x2044},  {"euro", 0x20AC},  {"trade", 0x2122},  {"minus", 0x2212},
};

// Entity names are case-sensitive: &Eacute; and &eacute; differ.
std::unordered_map<std::string_view, char32_t> buildNamedEntities() {
  std::unordered_map<std::string_view, char32_t> names;
  for (std::size_t i = 0; i < latin1EntityNames.size(); ++i)
    names.emplace(latin1EntityNames[i], static_cast<char32_t>(0xA0 + i));
  for (std::size_t i = 0; i < latinExtendedAEntityNames.size(); ++i)
    if (!latinExtendedAEntityNames[i].empty())
      names.emplace(latinExtendedAEntityNames[i], static_cast<char32_t>(0x100 + i));
  for (const NamedCharacter& entity : otherEntities) names.emplace(entity.name, entity.character);
  return names;
}

const std::unordered_map<std::string_view, char32_t>& namedEntities() {
  static const std::unordered_map<std::string_view, char32_t> names = buildNamedEntities();
  return names;
}

// The value of a numeric reference's digits, held at 0x110000 (beyond the
// last character) once it grows past it.
char32_t numericValue(std::string_view digits, unsigned base) {
  char32_t value = 0;
  for (char digit : digits) {
    unsigned d = digit <= '9' ? digit - '0' : (digit | 0x20) - 'a' + 10;
    value = value * base + d;
    if (value > 0x10FFFF) return 0x110000;
  }
  return value;
}

// The character an entity ("&...;" whole, as the scanner matched it) stands
// for; nullopt for an unknown name.
std::optional<char32_t> entityCharacter(std::string_view entity) {
  std::string_view body = entity.substr(1, entity.size() - 2);
  if (body.size() > 1 && body[0] == '#') {
    if (body[1] == 'x' || body[1] == 'X') return numericValue(body.substr(2), 16);
    return numericValue(body.substr(1), 10);
  }
  const auto& names = namedEntities();
  const auto found = names.find(body);
  if (found == names.end()) return std::nullopt;
  return found->second;
}

// A decoded character as copied into a title or meta text: a letter folded,
// other printable Latin-1 characters as themselves, white space and control
// characters as a blank, characters beyond Latin-1 (and the Windows-1252
// range) transliterated, or a blank where the table has nothing.
std::string copiedText(char32_t character) {
  if (character >= 0x100) return std::string(transliterate(character).value_or(" "));
  const auto byte = static_cast<unsigned char>(character);
  if (isLatin1Letter(byte)) return std::string(foldLatin1Letter(byte));
  if (byte >= 0x80 && byte <= 0x9F)
    return std::string(transliterate(windows1252Character(byte)).value_or(" "));
  if (byte < 0x20 || byte == 0x7F || byte == 0xA0) return " ";
  return std::string(1, static_cast<char>(byte));
}

// Cuts a decoded entity into words as the page text does: a letter joins
// the current word, an unknown name (nullopt) ends it.
void cutCharacter(WordAssembler& cutter, std::optional<char32_t> character) {
  if (character) {
    cutter.addCharacter(*character);
  } else {
    cutter.endWord();
  }
}

// The offset just past the end of a comment whose "<!--" has its dashes at
// `dashes`: past the first "-->" or "--!>" from there (so "<!-->" and
// "<!--->" are whole comments, as a browser reads them), or the end of the
// document when there is none.
std::size_t commentEndFrom(std::string_view document, std::size_t dashes) {
  for (auto i = document.find("--", dashes); i != std::string_view::npos;
       i = document.find("--", i + 1)) {
    const std::string_view after = document.substr(i + 2, 2);
    if (after.substr(0, 1) == ">") return i + 3;
    if (after == "!>") return i + 4;
  }
  return document.size();
}

bool isHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of the attribute `name` (lower case) in a tag's text after its
// name and before its '>', read as a browser reads it: attribute names in
// any case, the first of duplicates, values in double, single or no quotes
// (an unclosed quote runs to the end of the text). nullopt when absent; an
// attribute without a value has an empty one.
std::optional<std::string_view> attributeValue(std::string_view tag, std::string_view name) {
  std::size_t i = 0;
  const auto skipSpaces = [&] {
    while (i < tag.size() && isHtmlSpace(tag[i])) ++i;
  };
  while (true) {
    while (i < tag.size() && (isHtmlSpace(tag[i]) || tag[i] == '/')) ++i;
    if (i == tag.size()) return std::nullopt;
    // A name has at least one character, even a leading '='.
    const std::size_t nameStart = i++;
    while (i < tag.size() && !isHtmlSpace(tag[i]) && tag[i] != '/' && tag[i] != '=') ++i;
    const std::string_view attribute = tag.substr(nameStart, i - nameStart);
    skipSpaces();
    std::string_view value;
    if (i < tag.size() && tag[i] == '=') {
      ++i;
      skipSpaces();
      if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
        const std::size_t end = std::min(tag.find(tag[i], i + 1), tag.size());
        value = tag.substr(i + 1, end - i - 1);
        i = std::min(end + 1, tag.size());
      } else {
        const std::size_t start = i;
        while (i < tag.size() && !isHtmlSpace(tag[i])) ++i;
        value = tag.substr(start, i - start);
      }
    }
    if (equalsIgnoringCase(attribute, name)) return value;
  }
}

// The value without the HTML blanks around it.
std::string_view withoutBlanks(std::string_view value) {
  while (!value.empty() && isHtmlSpace(value.front())) value.remove_prefix(1);
  while (!value.empty() && isHtmlSpace(value.back())) value.remove_suffix(1);
  return value;
}

// True when the blank-separated list holds the token, letter case ignored.
bool listsToken(std::string_view list, std::string_view token) {
  std::size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && isHtmlSpace(list[at])) ++at;
    const std::size_t start = at;
    while (at < list.size() && !isHtmlSpace(list[at])) ++at;
    if (equalsIgnoringCase(list.substr(start, at - start), token)) return true;
  }
  return false;
}

// Adds a text to a list of texts separated by single blanks.
void appendWords(std::string& list, std::string_view words) {
  if (words.empty()) return;
  if (!list.empty()) list += ' ';
  list += words;
}

// The primary subtag of a language tag, lower case: the value's text before
// its first '-' or '_', blanks around the value ignored. Empty unless it is
// 2 to 8 ASCII letters (a one-letter "x" or "i" begins a private or
// irregular tag, which names no language to rank by).
std::string primaryLanguage(std::string_view value) {
  value = withoutBlanks(value);
  const std::string_view subtag = value.substr(0, value.find_first_of("-_"));
  if (subtag.size() < 2 || subtag.size() > 8) return {};
  if (!std::all_of(subtag.begin(), subtag.end(), isAsciiLetter)) return {};
  std::string language(subtag);
  std::transform(language.begin(), language.end(), language.begin(), asciiLower);
  return language;
}

}  // namespace

HtmlScanner::HtmlScanner(const std::string& document) : yyFlexLexer(nullptr, nullptr) {
  // Only the bytes before the first NUL are scanned.
  const std::size_t length = std::min(document.find('\0'), document.size());
  source = std::string_view(document.data(), length);
  std::istringstream input(document.substr(0, length));
  // A buffer that holds the whole text (read at once, see parse_html.l);
  // the lexer's destructor deletes it.
  const auto size = std::min<std::size_t>(length + 2, INT_MAX / 2);
  yy_switch_to_buffer(yy_create_buffer(input, static_cast<int>(size)));
  yylex();
  words.endWord();
  headingCutter.endWord();
  finishMeta();
  // The stream and the document are only read by this constructor; leave
  // nothing pointing at them.
  yyin.rdbuf(nullptr);
  source = {};
}

void HtmlScanner::appendPlainText() {
  const std::string_view text(YYText(), YYLeng());
  words.addText(text);
  displayText.addText(text);
  if (inHeading) headingCutter.addText(outsideComment());
}

void HtmlScanner::appendEntity() {
  const std::string_view entity(YYText(), YYLeng());
  const auto character = entityCharacter(entity);
  cutCharacter(words, character);
  if (inHeading && !inComment()) cutCharacter(headingCutter, character);
  if (character) {
    displayText.addCharacter(*character);
  } else {
    // An unknown name is shown as written, as a browser shows it.
    displayText.addText(entity);
  }
}

void HtmlScanner::appendAmpersand() {
  words.endWord();
  headingCutter.endWord();
  copyStarted = false;
  displayText.addText("&");
}

void HtmlScanner::separate() {
  words.endWord();
  headingCutter.endWord();
  displayText.addBlank();
  copyStarted = false;
}

std::string_view HtmlScanner::outsideComment() const {
  const std::string_view match(YYText(), YYLeng());
  const std::size_t start = matchStart();
  if (start >= commentEnd) return match;
  return match.substr(std::min(match.size(), commentEnd - start));
}

void HtmlScanner::beginComment() {
  separate();
  // A "<!--" inside a comment is part of it. The match begins after '<'.
  if (!inComment()) commentEnd = commentEndFrom(source, matchStart() + 1);
}

void HtmlScanner::readHtmlTag() {
  separate();
  if (htmlTagSeen || inComment()) return;
  htmlTagSeen = true;
  // The match begins with the tag's name, "html".
  const std::string_view attributes = std::string_view(YYText(), YYLeng()).substr(4);
  auto value = attributeValue(attributes, "lang");
  if (!value) value = attributeValue(attributes, "xml:lang");
  if (value) language = primaryLanguage(*value);
}

void HtmlScanner::readLinkTag() {
  separate();
  if (!canonicalLink.empty() || inComment()) return;
  // The match begins with the tag's name, "link".
  const std::string_view attributes = std::string_view(YYText(), YYLeng()).substr(4);
  const auto rel = attributeValue(attributes, "rel");
  if (!rel || !listsToken(*rel, "canonical")) return;
  if (const auto href = attributeValue(attributes, "href")) canonicalLink = withoutBlanks(*href);
}

void HtmlScanner::beginHeading() {
  separate();
  if (!inComment()) inHeading = true;
}

void HtmlScanner::endHeading() {
  separate();
  if (!inComment()) inHeading = false;
}

void HtmlScanner::beginTitle() {
  separate();
  inMeta = false;
  readingTitle = title.empty();
}

void HtmlScanner::beginMeta() {
  finishMeta();
  separate();
  inMeta = true;
  metaIsText = false;
  pendingMetaContent.clear();
  metaIsDescription = false;
  metaInComment = inComment();
}

void HtmlScanner::takeMetaText() {
  metaIsText = true;
  if (!pendingMetaContent.empty()) copyTarget() += pendingMetaContent;
  pendingMetaContent.clear();
}

void HtmlScanner::takeDescription() {
  takeMetaText();
  metaIsDescription = true;
}

void HtmlScanner::keepBareContent() {
  const std::string_view match(YYText(), YYLeng());
  appendWords(bareMetaContent, withoutBlanks(match.substr(match.find('=') + 1)));
}

void HtmlScanner::finishMeta() {
  metaCutter.endWord();
  if (!metaInComment) {
    if (metaIsDescription) appendWords(descriptionWords, metaWords);
    if (metaIsRobots) {
      appendWords(robotsDirectives, metaWords);
      appendWords(robotsDirectives, bareMetaContent);
    }
  }
  metaWords.clear();
  bareMetaContent.clear();
  metaIsDescription = false;
  metaIsRobots = false;
}

std::string& HtmlScanner::copyTarget() {
  if (inMeta && !metaIsText) return pendingMetaContent;
  if (!copyStarted) {
    words.endWord();
    if (!pageText.empty() && pageText.back() != ' ') pageText += ' ';
    copyStarted = true;
  }
  return pageText;
}

WordAssembler* HtmlScanner::metaTarget() {
  if (!inMeta) return nullptr;
  if (matchStart() != metaCutEnd) metaCutter.endWord();
  metaCutEnd = scanned;
  return &metaCutter;
}

// The copy operations also cut a meta's content into words: the text as it
// stands in the document, where copyTarget() holds it folded.
void HtmlScanner::copyMatch() {
  const std::string_view text(YYText(), YYLeng());
  copyTarget() += text;
  if (WordAssembler* cutter = metaTarget()) cutter->addText(text);
  if (DisplayTextBuilder* target = titleTarget()) target->addText(text);
}

void HtmlScanner::copyFolded() {
  const std::string_view text(YYText(), YYLeng());
  copyTarget() += foldText(text);
  if (WordAssembler* cutter = metaTarget()) cutter->addText(text);
  if (DisplayTextBuilder* target = titleTarget()) target->addText(text);
}

void HtmlScanner::copyBlank() {
  copyTarget() += ' ';
  if (WordAssembler* cutter = metaTarget()) cutter->endWord();
  if (DisplayTextBuilder* target = titleTarget()) target->addBlank();
}

void HtmlScanner::copyEntity() {
  const std::string_view entity(YYText(), YYLeng());
  const auto character = entityCharacter(entity);
  if (WordAssembler* cutter = metaTarget()) cutCharacter(*cutter, character);
  if (character) {
    copyTarget() += copiedText(*character);
  } else {
    // An unknown name is shown as written, as a browser shows it.
    copyTarget() += entity;
  }
  if (DisplayTextBuilder* target = titleTarget())
    character ? target->addCharacter(*character) : target->addText(entity);
}

}  // namespace theme_search
