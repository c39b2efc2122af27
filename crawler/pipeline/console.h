#pragma once

#include <iosfwd>

namespace theme_search {

class Crawl;

// The operator's console: every whitespace-separated word read from `in` is
// queued as a start URL with priority 0. The word "exit" (exact) is queued
// too and ends the console; so does the end of the input, as if "exit" had
// been typed. Runs on the main thread while the crawl threads work.
void readConsole(Crawl& crawl, std::istream& in);

}  // namespace theme_search
