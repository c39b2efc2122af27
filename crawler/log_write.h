#pragma once

#include <ostream>
#include <string>

// Writes a whole log line or fragment at once and flushes it, so the lines
// of the two crawl threads, which share the stream, never interleave.
inline void writeLog(std::ostream& log, const std::string& text) {
  log.write(text.data(), static_cast<std::streamsize>(text.size()));
  log.flush();
}

// The line that reports a statement the index server rejected while one URL
// was handled; the crawl goes on with the next URL.
inline std::string databaseErrorLine(const std::string& url, const std::string& serverText) {
  return "ERROR DATABASE " + url + " : " + serverText + "\n";
}
