// Any bytes as an HTML document: the scanner must end, in linear time, with
// links and text that come from the document.
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
  return 0;
}
