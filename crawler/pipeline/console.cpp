#include "crawler/pipeline/console.h"

#include <istream>
#include <string>

#include "crawler/pipeline/crawl.h"

namespace theme_search {

void readConsole(Crawl& crawl, std::istream& in) {
  std::string word;
  while (in >> word) {
    crawl.addStartUrl(word);
    if (word == "exit") return;
  }
}

}  // namespace theme_search
