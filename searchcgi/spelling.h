#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace theme_search {

// Spelling suggestions from an outside checker that speaks the Ispell pipe
// protocol: the word goes to its standard input, and in its reply the
// suggestions for a misspelt word follow the first ":"; a reply with nothing
// to suggest holds no ":".

// The checker's program and arguments, run without a shell once per word.
using CheckerCommand = std::vector<std::string>;
inline const CheckerCommand spellCommand = {"aspell", "-a"};

// The longest one exchange with the checker may take before it is killed.
inline constexpr std::chrono::seconds kSpellDeadline{2};

// What the checker is given for one word: the word and a line feed. A line
// of the word that begins with one of the pipe protocol's command characters
// gets a "^" in front, so the checker only ever checks it as text and never
// takes it as a command (to add a word to a dictionary, save one, ...).
[[nodiscard]] std::string checkerInput(const std::string& word);

// The part of a checker reply after its first ":"; empty when there is none.
[[nodiscard]] std::string suggestionText(const std::string& reply);

// The checker's whole reply to word, bytes as it wrote them: the command is
// started with pipes for its standard input and output (the process's own
// descriptors are never touched, and the checker inherits none of ours), and
// killed if it has not answered within kSpellDeadline. A checker that cannot
// be started, fails or is killed gives what it wrote, often nothing; its
// standard error is ours. Blocks until the exchange has ended.
[[nodiscard]] std::string spellSuggestions(const std::string& word,
                                           const CheckerCommand& command = spellCommand);

// Writes the suggestion block for one word to page: the heading line, the
// suggestion text of the checker's reply and "<BR>" with a line end. The
// heading is flushed before the checker runs.
void writeSpellingBlock(std::ostream& page, const std::string& word,
                        const CheckerCommand& command = spellCommand);

}  // namespace theme_search
