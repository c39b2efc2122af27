// Conversion of PDF and PostScript documents to text through temporary
// files and the outside converter.
#include "crawler/analysis/document_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <dirent.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "common/child_process.h"

namespace theme_search {

namespace {

const char kTemplate[] = "zparsepsXXXXXX";

// A metadata reader prints a few lines; more is not a title worth reading.
constexpr std::size_t kMetadataOutputLimit = 64 * 1024;

// The names of the temporary files that exist, for a signal handler that
// must remove them: a slot's name is written before the slot is marked used,
// and the mark is cleared before the name changes.
struct NameSlot {
  std::atomic<bool> used{false};
  char name[sizeof kTemplate] = {};
};
NameSlot registeredNames[8];

// Registers a name; the slot, or null when every slot is taken (the file is
// then only removed by its owner or at the next start).
NameSlot* registerName(const std::string& name) {
  static std::mutex claiming;
  const std::lock_guard<std::mutex> hold(claiming);
  for (NameSlot& slot : registeredNames) {
    if (slot.used.load()) continue;
    name.copy(slot.name, sizeof slot.name - 1);
    slot.used.store(true);
    return &slot;
  }
  return nullptr;
}

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
    slot = registerName(fileName);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (slot) slot->used.store(false);
    if (!fileName.empty()) ::unlink(fileName.c_str());
  }

  // Empty when the file could not be created.
  [[nodiscard]] const std::string& name() const { return fileName; }

 private:
  std::string fileName;
  NameSlot* slot = nullptr;
};

std::string readFile(const std::string& name) {
  std::ifstream text(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
}

}  // namespace

std::string metadataTitle(std::string_view readerOutput) {
  constexpr std::string_view kTitle = "Title:";
  std::size_t at = 0;
  while (at < readerOutput.size()) {
    std::size_t end = readerOutput.find('\n', at);
    if (end == std::string_view::npos) end = readerOutput.size();
    std::string_view line = readerOutput.substr(at, end - at);
    if (line.substr(0, kTitle.size()) == kTitle) {
      line.remove_prefix(kTitle.size());
      const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
      while (!line.empty() && blank(line.front())) line.remove_prefix(1);
      while (!line.empty() && blank(line.back())) line.remove_suffix(1);
      return std::string(line);
    }
    at = end + 1;
  }
  return std::string();
}

ConvertedText convertDocument(const std::string& body, const std::vector<std::string>& converter,
                              std::chrono::milliseconds deadline,
                              const std::vector<std::string>& titleReader) {
  TempFile document;
  TempFile extracted;
  // The converter needs both files; without them nothing runs.
  if (document.name().empty() || extracted.name().empty())
    return {std::string(), "no temporary file for the conversion", std::string()};
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
      return {std::string(), converter.front() + ": " + run.reason, std::string()};
    default:
      break;
  }
  ConvertedText converted{readFile(extracted.name()), std::nullopt, std::string()};
  if (!titleReader.empty()) {
    std::vector<std::string> reader = titleReader;
    reader.push_back(document.name());
    const ChildResult read = runChild(reader, "", deadline, kMetadataOutputLimit);
    if (read.succeeded()) converted.title = metadataTitle(read.output);
  }
  return converted;
}

std::string documentText(const std::string& body, const std::vector<std::string>& converter,
                         std::chrono::milliseconds deadline) {
  return convertDocument(body, converter, deadline).text;
}

void removeTemporaryFilesNow() noexcept {
  for (NameSlot& slot : registeredNames)
    if (slot.used.load()) ::unlink(slot.name);
}

std::size_t removeLeftoverTemporaryFiles(const std::string& directory) {
  DIR* listing = ::opendir(directory.c_str());
  if (!listing) return 0;
  const std::size_t prefix = sizeof kTemplate - 1 - 6;  // "zparseps"
  std::size_t removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const char* name = entry->d_name;
    if (std::strlen(name) != sizeof kTemplate - 1 || std::strncmp(name, kTemplate, prefix) != 0)
      continue;
    if (::unlinkat(::dirfd(listing), name, 0) == 0) ++removed;
  }
  ::closedir(listing);
  return removed;
}

}  // namespace theme_search
