#pragma once

#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "index/index_connection.h"

namespace theme_search {

// The URLs this crawl knows the index to hold in Url or UrlInvalide: those
// its own stages wrote and those the index named when asked. A crawl never
// removes such rows, so a URL once known stays known and is not asked about
// again; a URL not held here may still be known to the index (another
// crawler on the same index may have recorded it since).
//
// Shared by the download and parse threads; every operation takes the lock.
// Not copyable.
class KnownUrls {
 public:
  KnownUrls() = default;
  KnownUrls(const KnownUrls&) = delete;
  KnownUrls& operator=(const KnownUrls&) = delete;

  [[nodiscard]] bool contains(const std::string& url) const;
  // Records a URL the index holds (a row just written, or one it named).
  void add(const std::string& url);

  // Which of `urls` the index holds, asked only about those not known here,
  // each once, in one statement (knownAmong); the answers are recorded. The
  // result has one flag per URL, in order. Blocks on the database; throws
  // MysqlBadQuery when the lookup is rejected.
  [[nodiscard]] std::vector<bool> lookUp(IndexConnection& connection,
                                         const std::vector<std::string>& urls);

 private:
  mutable std::mutex mutex;
  std::unordered_set<std::string> urls;
};

}  // namespace theme_search
