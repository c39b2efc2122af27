#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// The converter of PDF and PostScript documents: a program given two file
// names, the document's and the one to write its text into.
inline const std::vector<std::string> kPostScriptConverter = {"ps2ascii"};

// The reader of a PDF document's metadata: a program given the document's
// file name, which prints "Title:" and the title among other lines, in
// UTF-8 (poppler's pdfinfo).
inline const std::vector<std::string> kPdfTitleReader = {"pdfinfo", "-enc", "UTF-8"};

// The longest a conversion may run before the converter is killed.
inline constexpr std::chrono::seconds kConversionDeadline{30};

// What a conversion gave: the text, and why there is none when the
// converter did not do its work (it could not be started, was killed at its
// deadline, or failed), for the caller's log; and the title the document's
// metadata gives (UTF-8), empty when it gives none or was not read.
struct ConvertedText {
  std::string text;
  std::optional<std::string> failure;
  std::string title;
};

// The title in a metadata reader's output: the rest of the first line that
// begins with "Title:", blanks around it dropped; empty when there is none.
[[nodiscard]] std::string metadataTitle(std::string_view readerOutput);

// The plain text of a PDF or PostScript document, extracted by an outside
// converter: the document is written to a temporary file named from
// "zparsepsXXXXXX" in the working directory, the converter runs (no shell)
// with that name and a second such file's name as its last two arguments,
// and the text is read back from the second file. Both files are removed
// before it returns, on every path. A converter that is missing, fails or
// passes its deadline, or temporary files that cannot be created, give an
// empty text, and the reason. With a title reader (kPdfTitleReader for a
// PDF), the reader then runs (no shell, the same deadline, its output
// bounded) with the document's file name as its last argument, and its
// "Title:" line gives the title; a reader that fails gives none, and no
// failure. Blocks while the programs run; used by the parse thread.
[[nodiscard]] ConvertedText convertDocument(
    const std::string& body, const std::vector<std::string>& converter = kPostScriptConverter,
    std::chrono::milliseconds deadline = kConversionDeadline,
    const std::vector<std::string>& titleReader = {});

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
