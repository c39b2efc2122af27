#pragma once

#include <ostream>
#include <string>

namespace theme_search {

// Writes a whole log line (or line fragment) with one write and flushes it,
// so lines of threads that share the stream never interleave.
inline void writeLog(std::ostream& log, const std::string& text) {
  log.write(text.data(), static_cast<std::streamsize>(text.size()));
  log.flush();
}

}  // namespace theme_search
