#include "console.h"

#include <istream>
#include <string>

#include "spider.h"

void readConsole(Spider& spider, std::istream& in) {
  std::string word;
  while (in >> word) {
    spider.loader.pushUrl(CrawlItem(word, 0));
    if (word == "exit") return;
  }
}
