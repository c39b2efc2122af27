#pragma once

#include <ostream>
#include <string>

// Spelling suggestions from an outside checker that speaks the Ispell pipe
// protocol: the word goes to its standard input, and in its reply the
// suggestions for a misspelt word follow the first ":"; a reply with nothing
// to suggest holds no ":".

// The command the program runs, through the shell, once per word.
inline constexpr const char* spellCommand = "aspell -a";

// What the checker is given for one word: the word and a line feed. A line
// of the word that begins with one of the pipe protocol's command characters
// gets a "^" in front, so the checker only ever checks it as text and never
// takes it as a command (to add a word to a dictionary, save one, ...).
[[nodiscard]] std::string checkerInput(const std::string& word);

// The part of a checker reply after its first ":"; empty when there is none.
[[nodiscard]] std::string suggestionText(const std::string& reply);

// The checker's whole reply to word, bytes as it wrote them. Runs command
// with system(), its standard input and output redirected to two pipes for
// the duration of the call (descriptors 0 and 1 of the whole process, so no
// other thread may write to them meanwhile); the reply is read by a helper
// thread while the checker runs, so no reply size can block it. A word too
// long for the pipe, or a pipe that cannot be made, gives the empty reply
// without running anything. Every descriptor it opens is closed on return.
// Blocks until the command has ended.
[[nodiscard]] std::string spellSuggestions(const std::string& word,
                                           const std::string& command = spellCommand);

// Writes the suggestion block for one word to page: the heading line, the
// suggestion text of the checker's reply and "<BR>" with a line end. The
// heading is flushed before the checker runs.
void writeSpellingBlock(std::ostream& page, const std::string& word,
                        const std::string& command = spellCommand);
