#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace theme_search {

// Spelling suggestions from an outside checker that speaks the Ispell pipe
// protocol: one line of text per word goes to its standard input; its reply
// starts with a banner line, then answers each input line with one result
// line per word found on it and an empty line. The suggestions for a
// misspelt word follow the first ":" of its answer; an answer with nothing
// to suggest holds no ":".

// The checker's program and arguments, run without a shell once per request.
using CheckerCommand = std::vector<std::string>;
inline const CheckerCommand spellCommand = {"aspell", "-a"};

// The longest one exchange with the checker may take before it is killed.
inline constexpr std::chrono::seconds kSpellDeadline{2};

// What the checker is given for the words of one request (UTF-8, as
// typed): one line per word, in Latin-1 (utf8ToLatin1: a character beyond
// it transliterated), each starting with "^" so the checker only ever
// checks it as text and never takes it as a command (to add a word to a
// dictionary, save one, ...). A line break inside a word is sent as a
// space, so every word stays one line and gets one answer.
[[nodiscard]] std::string checkerInput(const std::vector<std::string>& words);

// The part of one answer after its first ":"; empty when there is none.
[[nodiscard]] std::string suggestionText(const std::string& answer);

// The suggestion text of each of wordCount words from the checker's whole
// reply: the banner line (beginning with "@(#)") is skipped, and each answer
// runs up to and including the empty line that ends it. Words the reply does
// not answer (a checker that failed or was killed) get the empty text.
[[nodiscard]] std::vector<std::string> suggestionTexts(const std::string& reply,
                                                       std::size_t wordCount);

// The suggestion text of every word, from one run of the checker: the
// command is started with pipes for its standard input and output (the
// process's own descriptors are never touched, and the checker inherits
// none of ours), given checkerInput(words), and killed if it has not
// answered within kSpellDeadline. A checker that cannot be started, fails or
// is killed gives what it answered, often nothing; its standard error is
// ours. Blocks until the exchange has ended. No word: no checker is run.
[[nodiscard]] std::vector<std::string> spellSuggestions(
    const std::vector<std::string>& words, const CheckerCommand& command = spellCommand);

// The suggestion block of one word: the heading line, the suggestion text
// (escaped by htmlText, so a checker's answer is never markup) and "<BR>"
// with a line end.
[[nodiscard]] std::string spellingBlock(const std::string& suggestion);

}  // namespace theme_search
