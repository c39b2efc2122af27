// The queues of LoadFile: the URL heap and the fetched-page list, their
// construction and destruction.
#include "load_file.h"

LoadFile::LoadFile(const EngineConfig& config, IndexConnection* downloadConnection,
                   std::ostream& log, std::ostream& messages)
    : config(&config), downloadConnection(downloadConnection), log(log), messages(messages) {
  start();
}

LoadFile::~LoadFile() {
  if (isAttached()) stop();
}

void LoadFile::pushUrl(const CrawlItem& item) {
  {
    SemaphoreLock hold(urlQueueLock);
    urlQueue.push(item);
  }
  urlCount.post();
}

CrawlItem LoadFile::popUrl() {
  urlCount.wait();
  SemaphoreLock hold(urlQueueLock);
  // Empty only when stop() posted urlCount to release this wait.
  if (urlQueue.empty()) return CrawlItem();
  CrawlItem item = urlQueue.top();
  urlQueue.pop();
  return item;
}

FetchedPage& LoadFile::newPage() {
  SemaphoreLock hold(pageListLock);
  pageList.emplace_back();
  return pageList.back();
}

void LoadFile::waitPage() {
  readyPages.wait();
}

FetchedPage& LoadFile::frontPage() {
  SemaphoreLock hold(pageListLock);
  return pageList.front();
}

void LoadFile::popPage() {
  SemaphoreLock hold(pageListLock);
  pageList.pop_front();
}

void LoadFile::stop() {
  stopRequested = true;
  readyPages.post();
  // The download thread may wait for a URL that will never come.
  urlCount.post();
  join();
}
