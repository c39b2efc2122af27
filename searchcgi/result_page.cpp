#include "searchcgi/result_page.h"

#include "searchcgi/html_escape.h"

namespace theme_search {

namespace {

const char* const title = "<HTML><HEAD><TITLE>Moteur de recherche</TITLE></HEAD><BODY>\n";

}  // namespace

std::string pageHead() {
  return std::string("Content-Type: text/html\n\n") + title;
}

std::string countLine(std::int32_t totalResults) {
  return "<B>Nombre de pages trouv\xe9"
         "es : " +
         std::to_string(totalResults) + "</B><BR><BR><BR>\n";
}

std::string parameterErrorLine() {
  return "Erreur de param\xe8tres<BR>\n";
}

std::string entryLine(const std::string& url) {
  const std::string shown = htmlEscape(url);
  return "<A HREF=\"" + shown + "\">" + shown + "</A><BR><BR>\n";
}

std::string linkBase(bool https, const std::string& serverName,
                     const std::optional<std::string>& serverPort, const std::string& scriptName) {
  std::string base = (https ? "https://" : "http://") + serverName;
  if (!serverPort)
    base += ":8080";
  else if (*serverPort != (https ? "443" : "80") && !serverPort->empty())
    base += ":" + *serverPort;
  return base + scriptName;
}

std::string navigationLink(const std::string& base, const std::string& linkKeyword,
                           std::int64_t pageNumber, bool spellCheck) {
  std::string link = base + "?keyword=" + linkKeyword + "&page=" + std::to_string(pageNumber);
  if (spellCheck) link += "&verif=Verifier+l%27ortographe";
  return link;
}

std::string navigationLines(std::int64_t pageNumber, std::int64_t endRow, std::int32_t totalResults,
                            const std::string& previousLink, const std::string& nextLink) {
  std::string lines = "<CENTER>\n";
  if (pageNumber > 1) lines += "<a href=\"" + htmlEscape(previousLink) + "\">Previous</a>\n";
  lines += "&nbsp&nbsp&nbsp&nbsp&nbsp\n";
  if (endRow < totalResults) lines += "<a href=\"" + htmlEscape(nextLink) + "\">Next</a>\n";
  return lines + "</CENTER>\n";
}

std::string pageEnd() {
  return "</BODY></HTML>\n\n";
}

std::string unavailablePage() {
  return std::string("Status: 503 Service Unavailable\nContent-Type: text/html\n\n") + title +
         "L'index de recherche est indisponible pour le moment.<BR>\n" + pageEnd();
}

std::string searchFailedEnd() {
  return "La recherche a \xe9"
         "chou\xe9.<BR>\n" +
         pageEnd();
}

void writeLines(std::ostream& page, const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    page.write(text.data() + start, static_cast<std::streamsize>(end - start));
    page.flush();
    start = end;
  }
}

}  // namespace theme_search
