#include "crawler/pipeline/stage_queues.h"

#include <iterator>

namespace theme_search {

void UrlQueue::push(CrawlItem item) {
  bool wasIdle = false;
  {
    std::lock_guard<std::mutex> hold(mutex);
    if (fetching.count(item.url) != 0) return;
    wasIdle = idleLocked();
    auto [entry, added] =
        waiting.try_emplace(item.url, Waiting{item.priority, item.revisit, item.requested});
    if (!added) {
      entry->second.revisit = entry->second.revisit || item.revisit;
      entry->second.requested = entry->second.requested || item.requested;
      if (item.priority <= entry->second.priority) return;
      entry->second.priority = item.priority;
    }
    heap.push(std::move(item));
  }
  itemAvailable.notify_one();
  if (wasIdle) activity.notify_all();
}

std::optional<CrawlItem> UrlQueue::takeTop() {
  for (; !heap.empty(); heap.pop()) {
    auto entry = waiting.find(heap.top().url);
    if (entry == waiting.end() || entry->second.priority != heap.top().priority) continue;
    CrawlItem item = heap.top();
    item.revisit = entry->second.revisit;
    item.requested = entry->second.requested;
    waiting.erase(entry);
    heap.pop();
    return item;
  }
  return std::nullopt;
}

std::optional<CrawlItem> UrlQueue::pop() {
  std::unique_lock<std::mutex> hold(mutex);
  itemAvailable.wait(hold, [this] { return closed || !waiting.empty(); });
  if (closed) return std::nullopt;
  std::optional<CrawlItem> item = takeTop();
  if (item) {
    fetching.insert(item->url);
    ++inFlight;
  }
  return item;
}

void UrlQueue::handled() {
  bool nowIdle = false;
  {
    std::lock_guard<std::mutex> hold(mutex);
    if (inFlight > 0) --inFlight;
    nowIdle = idleLocked();
  }
  if (nowIdle) activity.notify_all();
}

void UrlQueue::hold() {
  bool wasIdle = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    wasIdle = idleLocked();
    ++inFlight;
  }
  if (wasIdle) activity.notify_all();
}

bool UrlQueue::waitUntilIdle() {
  std::unique_lock<std::mutex> hold(mutex);
  activity.wait(hold, [this] { return closed || idleLocked(); });
  return !closed;
}

bool UrlQueue::waitUntilBusy() {
  std::unique_lock<std::mutex> hold(mutex);
  activity.wait(hold, [this] { return closed || !idleLocked(); });
  return !closed;
}

bool UrlQueue::busy() const {
  std::lock_guard<std::mutex> hold(mutex);
  return !idleLocked();
}

void UrlQueue::finished(const std::string& url) {
  std::lock_guard<std::mutex> hold(mutex);
  fetching.erase(url);
}

bool UrlQueue::holds(const std::string& url) const {
  std::lock_guard<std::mutex> hold(mutex);
  return waiting.count(url) != 0 || fetching.count(url) != 0;
}

void UrlQueue::close() {
  {
    std::lock_guard<std::mutex> hold(mutex);
    closed = true;
  }
  itemAvailable.notify_all();
  activity.notify_all();
}

std::vector<CrawlItem> UrlQueue::drain() {
  std::lock_guard<std::mutex> hold(mutex);
  std::vector<CrawlItem> items;
  items.reserve(waiting.size());
  while (std::optional<CrawlItem> item = takeTop()) items.push_back(std::move(*item));
  return items;
}

std::size_t UrlQueue::size() const {
  std::lock_guard<std::mutex> hold(mutex);
  return waiting.size();
}

void PageHandover::push(FetchedPage page) {
  {
    std::lock_guard<std::mutex> hold(mutex);
    waitingBytes += page.content.size();
    pages.push_back(std::move(page));
  }
  pageAvailable.notify_one();
}

std::optional<FetchedPage> PageHandover::pop() {
  std::optional<FetchedPage> page;
  {
    std::unique_lock<std::mutex> hold(mutex);
    pageAvailable.wait(hold, [this] { return closed || !pages.empty(); });
    if (closed) return std::nullopt;
    page = std::move(pages.front());
    pages.pop_front();
    waitingBytes -= page->content.size();
  }
  roomAvailable.notify_all();
  return page;
}

bool PageHandover::waitForRoom() {
  std::unique_lock<std::mutex> hold(mutex);
  roomAvailable.wait(hold, [this] {
    return closed || (pages.size() <= pauseAbove && waitingBytes <= pauseAboveBytes);
  });
  return !closed;
}

void PageHandover::close() {
  {
    std::lock_guard<std::mutex> hold(mutex);
    closed = true;
  }
  pageAvailable.notify_all();
  roomAvailable.notify_all();
  closing.notify_all();
}

bool PageHandover::waitForCloseUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> hold(mutex);
  return closing.wait_until(hold, deadline, [this] { return closed; });
}

std::vector<FetchedPage> PageHandover::drain() {
  std::lock_guard<std::mutex> hold(mutex);
  std::vector<FetchedPage> drained(std::make_move_iterator(pages.begin()),
                                   std::make_move_iterator(pages.end()));
  pages.clear();
  waitingBytes = 0;
  return drained;
}

std::size_t PageHandover::size() const {
  std::lock_guard<std::mutex> hold(mutex);
  return pages.size();
}

bool PageHandover::isClosed() const {
  std::lock_guard<std::mutex> hold(mutex);
  return closed;
}

}  // namespace theme_search
