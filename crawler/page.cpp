#include "page.h"

#include "parse_html.h"
#include "ps_to_text.h"
#include "reply.h"
#include "url_rules.h"

Page::Page(std::string& url, std::string& reply, const EngineConfig& config,
           IndexConnection& indexerConnection, std::ostream& messages)
    : reply(reply),
      url(url),
      config(config),
      indexerConnection(indexerConnection),
      messages(messages) {
  baseUrl = computeBase(url);
  interpretReply(reply, baseUrl, documentType, redirected, pageLinks);
  removeHeader(reply);
  analyse();
}

void Page::analyse() {
  if (!config.inScope(url)) return;
  if (redirected) {
    normalizeLinks(baseUrl, pageLinks);
    return;
  }
  if (documentType == "html" && config.isAcceptedType("html")) {
    ParseHTML scanner(reply);
    pageLinks = scanner.getLinkTargets();
    index("html", scanner.getPageText());
  } else if ((documentType == "pdf" || documentType == "ps") &&
             config.isAcceptedType(documentType)) {
    index(documentType, PsToText(reply).text());
  } else {
    return;
  }
  normalizeLinks(baseUrl, pageLinks);
}

void Page::index(const std::string& kind, const std::string& text) {
  indexDocument(indexerConnection, wordCounts, url, kind, text, themeWords, config, messages);
}
