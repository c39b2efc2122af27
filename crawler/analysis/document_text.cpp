// Conversion of PDF and PostScript documents to text through temporary
// files and the outside converter.
#include "crawler/analysis/document_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "common/child_process.h"

namespace theme_search {

namespace {

// A file created with a unique name in the working directory and removed
// again when the object ends. Only the name is kept: the descriptor that
// mkstemp opens is closed at once.
class TempFile {
 public:
  TempFile() {
    char name[] = "zparsepsXXXXXX";
    const int descriptor = ::mkostemp(name, O_CLOEXEC);
    if (descriptor < 0) return;
    ::close(descriptor);
    fileName = name;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!fileName.empty()) ::unlink(fileName.c_str());
  }

  // Empty when the file could not be created.
  [[nodiscard]] const std::string& name() const { return fileName; }

 private:
  std::string fileName;
};

std::string readFile(const std::string& name) {
  std::ifstream text(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
}

}  // namespace

ConvertedText convertDocument(const std::string& body, const std::vector<std::string>& converter,
                              std::chrono::milliseconds deadline) {
  TempFile document;
  TempFile extracted;
  // The converter needs both files; without them nothing runs.
  if (document.name().empty() || extracted.name().empty())
    return {std::string(), "no temporary file for the conversion"};
  std::ofstream(document.name(), std::ios::binary | std::ios::trunc)
      .write(body.data(), static_cast<std::streamsize>(body.size()));

  std::vector<std::string> command = converter;
  command.push_back(document.name());
  command.push_back(extracted.name());
  // The converter's status says little: a failure leaves the text file
  // empty, and an empty text is what a failure should give. Its own output
  // on standard output is not the text and is dropped.
  const ChildResult run = runChild(command, "", deadline);
  switch (run.outcome) {
    case ChildResult::Outcome::notStarted:
    case ChildResult::Outcome::killedAtDeadline:
    case ChildResult::Outcome::killedBySignal:
    case ChildResult::Outcome::outputTooLarge:
      return {std::string(), converter.front() + ": " + run.reason};
    default:
      return {readFile(extracted.name()), std::nullopt};
  }
}

std::string documentText(const std::string& body, const std::vector<std::string>& converter,
                         std::chrono::milliseconds deadline) {
  return convertDocument(body, converter, deadline).text;
}

}  // namespace theme_search
