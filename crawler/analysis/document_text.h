#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace theme_search {

// The converter of PDF and PostScript documents: a program given two file
// names, the document's and the one to write its text into.
inline const std::vector<std::string> kPostScriptConverter = {"ps2ascii"};

// The longest a conversion may run before the converter is killed.
inline constexpr std::chrono::seconds kConversionDeadline{30};

// What a conversion gave: the text, and why there is none when the
// converter did not do its work (it could not be started, was killed at its
// deadline, or failed), for the caller's log.
struct ConvertedText {
  std::string text;
  std::optional<std::string> failure;
};

// The plain text of a PDF or PostScript document, extracted by an outside
// converter: the document is written to a temporary file named from
// "zparsepsXXXXXX" in the working directory, the converter runs (no shell)
// with that name and a second such file's name as its last two arguments,
// and the text is read back from the second file. Both files are removed
// before it returns, on every path. A converter that is missing, fails or
// passes its deadline, or temporary files that cannot be created, give an
// empty text, and the reason. Blocks while the converter runs; used by the
// parse thread.
[[nodiscard]] ConvertedText convertDocument(
    const std::string& body, const std::vector<std::string>& converter = kPostScriptConverter,
    std::chrono::milliseconds deadline = kConversionDeadline);

// convertDocument's text alone.
[[nodiscard]] std::string documentText(
    const std::string& body, const std::vector<std::string>& converter = kPostScriptConverter,
    std::chrono::milliseconds deadline = kConversionDeadline);

// Removes the conversion's temporary files that exist now, from a signal
// handler: async-signal-safe (it only unlinks names registered beforehand).
void removeTemporaryFilesNow() noexcept;

// Removes the files named "zparseps" and six more characters left in
// `directory` by a run that was killed; returns how many. Called at start-up,
// before any conversion runs.
std::size_t removeLeftoverTemporaryFiles(const std::string& directory = ".");

}  // namespace theme_search
