#pragma once

#include <optional>
#include <string>

namespace theme_search {

// The checks that make a configuration file usable, each a function of one
// line's text, and the texts of the mistakes they find (config_reader.h
// applies them). Pure.

// True for a number line: optional blanks and sign, then decimal digits
// that fit 32 bits, then the end of the line or white space (a remark, a
// carriage return). "one", "", "12abc" and "99999999999" are not.
[[nodiscard]] bool isWholeNumberLine(const std::string& line);

// What a site line lacks, as the text that follows "expected"; nullopt for
// a good one: the site between double quotes, either empty (no
// restriction) or beginning with http:// or https:// (any case) and a host.
[[nodiscard]] std::optional<std::string> siteLineProblem(const std::string& line);

// A mistake of the configuration file, with its line end:
//   configuration file engineconfig.cfg, line 2: expected the depth limit, a
//   whole number such as 1; found: one
// Line 0 is no line: the problem of a file that ended too soon.
[[nodiscard]] std::string configMistake(const std::string& fileName, unsigned line,
                                        const std::string& problem);

// The problem of a value line that is not what `expected` describes,
// quoting the line: "expected <expected>; found: <line>", or "...; found an
// empty line".
[[nodiscard]] std::string unexpectedLine(const std::string& expected, const std::string& line);

// A theme-word file that gives no theme word, with its line end.
[[nodiscard]] std::string noThemeWordMessage(const std::string& fileName);

}  // namespace theme_search
