#include "searchcgi/spelling.h"

#include "common/child_process.h"
#include "common/text.h"
#include "common/text_folding.h"
#include "searchcgi/excerpt_html.h"
#include "searchcgi/query_string.h"

namespace theme_search {

std::string checkerInput(const std::vector<std::string>& words) {
  std::string input;
  for (const std::string& word : words) {
    input += '^';
    for (char byte : utf8ToLatin1(word)) input += byte == '\n' || byte == '\r' ? ' ' : byte;
    input += '\n';
  }
  return input;
}

std::string suggestionText(const std::string& answer) {
  std::string discarded;
  return splitAt(answer, discarded, ':');
}

std::vector<std::string> suggestionTexts(const std::string& reply, std::size_t wordCount) {
  std::vector<std::string> texts(wordCount);
  std::size_t at = 0;
  if (startsWith(reply, "@(#)")) {
    const std::size_t bannerEnd = reply.find('\n');
    at = bannerEnd == std::string::npos ? reply.size() : bannerEnd + 1;
  }
  for (std::string& text : texts) {
    if (at >= reply.size()) break;
    // An answer ends with an empty line: its own line feed follows the line
    // feed of the line before it, or opens the answer.
    std::size_t end = reply[at] == '\n' ? at : reply.find("\n\n", at);
    end = end == std::string::npos ? reply.size() : end + (reply[at] == '\n' ? 1 : 2);
    text = suggestionText(reply.substr(at, end - at));
    at = end;
  }
  return texts;
}

std::vector<std::string> spellSuggestions(const std::vector<std::string>& words,
                                          const CheckerCommand& command) {
  if (words.empty()) return {};
  // Whatever the checker managed to write counts, as it would had it ended.
  const ChildResult run = runChild(command, checkerInput(words), kSpellDeadline);
  return suggestionTexts(run.output, words.size());
}

std::string spellingBlock(const std::string& suggestion) {
  return "<B>Corrections possibles :</B><P>\n" + htmlText(suggestion) + "<BR>\n";
}

}  // namespace theme_search
