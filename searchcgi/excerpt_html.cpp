// Escaped HTML text and marked excerpts.
#include "searchcgi/excerpt_html.h"

#include <cstdint>

#include "common/text_folding.h"

namespace theme_search {

namespace {

void appendHtmlText(std::string& html, std::string_view latin1) {
  for (char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '"':
        html += "&quot;";
        break;
      case '\'':
        html += "&#39;";
        break;
      default:
        // Tab, line feed and carriage return are white space; other C0
        // controls, DEL and the C1 range have no place in a page.
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
            (byte >= 0x7F && byte <= 0x9F)) {
          html += ' ';
        } else {
          html += c;
        }
    }
  }
}

}  // namespace

std::string htmlText(std::string_view latin1) {
  std::string html;
  html.reserve(latin1.size());
  appendHtmlText(html, latin1);
  return html;
}

std::string htmlTextOfUtf8(std::string_view utf8) {
  std::string html;
  html.reserve(utf8.size());
  for (char32_t character : utf8OrLatin1Characters(utf8)) {
    if (character > 0xFF) {
      html += "&#" + std::to_string(static_cast<std::uint32_t>(character)) + ';';
    } else {
      const auto byte = static_cast<char>(character);
      appendHtmlText(html, std::string_view(&byte, 1));
    }
  }
  return html;
}

std::string excerptHtml(const Excerpt& excerpt) {
  const std::string_view text = excerpt.text;
  std::string html;
  html.reserve(text.size() + 7 * excerpt.marks.size());
  std::size_t at = 0;
  for (const ExcerptMark& mark : excerpt.marks) {
    if (mark.offset < at || mark.offset > text.size() || mark.length > text.size() - mark.offset)
      continue;
    appendHtmlText(html, text.substr(at, mark.offset - at));
    html += "<b>";
    appendHtmlText(html, text.substr(mark.offset, mark.length));
    html += "</b>";
    at = mark.offset + mark.length;
  }
  appendHtmlText(html, text.substr(at));
  return html;
}

}  // namespace theme_search
