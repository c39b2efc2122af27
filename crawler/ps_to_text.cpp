// Conversion of PDF and PostScript documents to text through temporary
// files and the outside converter.
#include "ps_to_text.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

// A file created with a unique name in the working directory and removed
// again when the object ends. Only the name is kept: the descriptor that
// mkstemp opens is closed at once.
class TempFile {
 public:
  TempFile() {
    char name[] = "zparsepsXXXXXX";
    int descriptor = mkstemp(name);
    if (descriptor < 0) return;
    close(descriptor);
    fileName = name;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!fileName.empty()) unlink(fileName.c_str());
  }

  // Empty when the file could not be created.
  [[nodiscard]] const std::string& name() const { return fileName; }

 private:
  std::string fileName;
};

}  // namespace

PsToText::PsToText(const std::string& body, const std::string& converter) {
  TempFile document;
  TempFile extracted;
  // The converter needs both files; without them nothing runs.
  if (document.name().empty() || extracted.name().empty()) return;

  std::ofstream(document.name(), std::ios::binary | std::ios::trunc)
      .write(body.data(), static_cast<std::streamsize>(body.size()));
  // The converter's status says nothing useful: a failure leaves the text
  // file empty, and an empty text is what a failure should give.
  int status = std::system((converter + " " + document.name() + "  " + extracted.name()).c_str());
  static_cast<void>(status);

  std::ifstream text(extracted.name(), std::ios::binary);
  plainText.assign(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
}
