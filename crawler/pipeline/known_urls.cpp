#include "crawler/pipeline/known_urls.h"

#include "index/url_registry.h"

namespace theme_search {

bool KnownUrls::contains(const std::string& url) const {
  std::lock_guard<std::mutex> hold(mutex);
  return urls.count(url) != 0;
}

void KnownUrls::add(const std::string& url) {
  std::lock_guard<std::mutex> hold(mutex);
  urls.insert(url);
}

std::vector<bool> KnownUrls::lookUp(IndexConnection& connection,
                                    const std::vector<std::string>& wanted) {
  std::vector<std::string> ask;
  {
    std::unordered_set<std::string> asked;
    std::lock_guard<std::mutex> hold(mutex);
    for (const std::string& url : wanted)
      if (urls.count(url) == 0 && asked.insert(url).second) ask.push_back(url);
  }
  // The lock is not held while the database answers.
  const std::vector<std::string> found = knownAmong(connection, ask);
  std::lock_guard<std::mutex> hold(mutex);
  urls.insert(found.begin(), found.end());
  std::vector<bool> known;
  known.reserve(wanted.size());
  for (const std::string& url : wanted) known.push_back(urls.count(url) != 0);
  return known;
}

}  // namespace theme_search
