#include "searchcgi/spelling.h"

#include <cstring>

#include "common/child_process.h"
#include "searchcgi/query_string.h"

namespace theme_search {

namespace {

bool isCommandCharacter(char c) {
  return c != '\0' && std::strchr("*&@+-~#!%^$", c) != nullptr;
}

}  // namespace

std::string checkerInput(const std::string& word) {
  std::string input;
  input.reserve(word.size() + 2);
  bool lineStart = true;
  for (char byte : word) {
    if (lineStart && isCommandCharacter(byte)) input += '^';
    input += byte;
    lineStart = byte == '\n';
  }
  return input + '\n';
}

std::string suggestionText(const std::string& reply) {
  std::string discarded;
  return splitAt(reply, discarded, ':');
}

std::string spellSuggestions(const std::string& word, const CheckerCommand& command) {
  // Whatever the checker managed to write counts, as it would had it ended.
  return runChild(command, checkerInput(word), kSpellDeadline).output;
}

void writeSpellingBlock(std::ostream& page, const std::string& word,
                        const CheckerCommand& command) {
  page << "<B>Corrections possibles"
       << " :</B><P>\n"
       << std::flush;
  page << suggestionText(spellSuggestions(word, command)) << "<BR>\n" << std::flush;
}

}  // namespace theme_search
