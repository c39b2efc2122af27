#pragma once

#include <string>

// The plain text of a PDF or PostScript document, extracted by an outside
// converter. The constructor writes the document to a temporary file named
// from "zparsepsXXXXXX" in the working directory, runs
// `converter first  second` through the shell (blocking until it ends) and
// reads the text back from the second such file; both files are removed
// before it returns, on every path. A converter that is missing or fails, or
// temporary files that cannot be created, give an empty text; no message is
// written. Used by the parse thread only.
class PsToText {
 public:
  explicit PsToText(const std::string& body, const std::string& converter = "ps2ascii");

  [[nodiscard]] const std::string& text() const { return plainText; }

 private:
  std::string plainText;
};
