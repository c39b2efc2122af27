#include "crawler/analysis/page_analysis.h"

#include "common/text_folding.h"
#include "crawler/analysis/document_record.h"
#include "crawler/analysis/document_text.h"
#include "crawler/analysis/html_scanner.h"
#include "crawler/analysis/keyword_selection.h"
#include "crawler/analysis/ranking_signals.h"
#include "crawler/fetch/charset.h"
#include "crawler/fetch/reply.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/fetch/validators.h"

namespace theme_search {

namespace {

bool isConvertedType(const std::string& documentType) {
  return documentType == "pdf" || documentType == "ps";
}

// The URL a page is indexed under instead of its own: its canonical link
// made absolute as its links are, when that is inside the site and another
// URL than the page's.
std::optional<std::string> canonicalTarget(const std::string& url, std::string baseUrl,
                                           const std::string& link, const EngineConfig& config) {
  if (link.empty()) return std::nullopt;
  std::vector<std::string> resolved{link};
  normalizeLinks(baseUrl, resolved);
  if (resolved.empty() || resolved.front() == url || !config.inScope(resolved.front()))
    return std::nullopt;
  return std::move(resolved.front());
}

}  // namespace

PageAnalysis analysePage(const std::string& url, std::string reply, const EngineConfig& config) {
  std::string trimmedUrl = url;
  std::string baseUrl = computeBase(trimmedUrl);
  const ReplyReading reading = interpretReply(reply, baseUrl);
  PageAnalysis analysis;
  analysis.record.validators = replyValidators(reply);
  removeHeader(reply);

  if (!config.inScope(url)) {
    if (reading.redirectTarget) analysis.links.push_back(*reading.redirectTarget);
    return analysis;
  }
  std::string text;
  // What a result list shows: the title and the text as a reader sees them.
  std::string title, displayText;
  // The fields that rank above the body.
  PageFields fields;
  std::string canonicalLink;
  const auto scanStart = std::chrono::steady_clock::now();
  if (reading.redirected) {
    if (reading.redirectTarget) analysis.links.push_back(*reading.redirectTarget);
  } else if (reading.documentType == "html" && config.isAcceptedType("html")) {
    // The page's character set: its Content-Type, else its meta tag, else
    // a guess from its bytes (toLatin1).
    const std::string charset = reading.charset.empty() ? metaCharset(reply) : reading.charset;
    const HtmlScanner scanner(toLatin1(reply, charset));
    analysis.links = scanner.getLinkTargets();
    text = scanner.getPageText();
    title = scanner.getTitle();
    displayText = scanner.getDisplayText();
    fields.headings = scanner.getHeadingWords();
    fields.description = scanner.getDescriptionWords();
    fields.language = scanner.getLanguage();
    analysis.robots = parseRobotsDirectives(scanner.getRobotsDirectives());
    canonicalLink = scanner.getCanonicalLink();
  } else if (isConvertedType(reading.documentType) && config.isAcceptedType(reading.documentType)) {
    // The converter prints UTF-8 with its accents; its words are cut and
    // folded by the rules the HTML scanner follows, so a word is the same
    // in both.
    // The converter runs once: its text gives both the words and the
    // display text. A PDF's title comes from its metadata (pdfinfo), with
    // its accents; without one, the record names it by its first words.
    const bool pdf = reading.documentType == "pdf";
    const ConvertedText converted =
        convertDocument(reply, kPostScriptConverter, kConversionDeadline,
                        pdf ? kPdfTitleReader : std::vector<std::string>());
    analysis.conversionFailure = converted.failure;
    for (const std::string& word : wordsOf(utf8ToLatin1(converted.text))) text += word + ' ';
    displayText = convertedDisplayText(converted.text);
    title = convertedDisplayText(converted.title);
  } else {
    return analysis;
  }
  analysis.scanTime = std::chrono::steady_clock::now() - scanStart;
  analysis.robots |= reading.robots;
  if (!reading.redirected) {
    KeywordSelection selection = selectKeywords(text, config);
    analysis.themeWordCount = selection.themeWordCount;
    if (!analysis.robots.noindex) {
      PageRecord& record = analysis.record;
      record.documentType = reading.documentType;
      record.themeWordCount = selection.themeWordCount;
      record.keywords = std::move(selection.keywords);
      record.canonicalUrl = canonicalTarget(url, baseUrl, canonicalLink, config);
      if (selection.onTheme) {
        record.document = makeDocumentRecord(title, displayText);
        fields.title = title;  // a page without a title has no title field
        if (fields.language.empty()) fields.language = reading.language;
        record.ranking = rankingSignals(url, selection.wordCount, fields, record.keywords,
                                        config.defaultLanguage);
      }
    }
  }
  if (analysis.robots.nofollow) analysis.links.clear();
  normalizeLinks(baseUrl, analysis.links);
  return analysis;
}

}  // namespace theme_search
