// Any bytes as an HTML document: the scanner must end, in linear time, with
// links and text that come from the document, and display texts that hold
// single blanks between printable Latin-1 bytes only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crawler/analysis/html_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string document(reinterpret_cast<const char*>(data), size);
  const theme_search::HtmlScanner scanner(document);
  std::size_t linkBytes = 0;
  for (const std::string& link : scanner.getLinkTargets()) linkBytes += link.size();
  // A link is a piece of the document: together they cannot outgrow it.
  if (linkBytes > document.size()) __builtin_trap();
  for (const std::string* text : {&scanner.getDisplayText(), &scanner.getTitle()}) {
    if (!text->empty() && (text->front() == ' ' || text->back() == ' ')) __builtin_trap();
    for (std::size_t i = 0; i < text->size(); ++i) {
      const auto byte = static_cast<unsigned char>((*text)[i]);
      if (byte < 0x20 || (byte >= 0x7F && byte <= 0xA0)) __builtin_trap();
      if (byte == ' ' && (*text)[i + 1] == ' ') __builtin_trap();
    }
  }
  return 0;
}
