#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "crawler/pipeline/crawl_item.h"

namespace theme_search {

// The queues between the crawl's threads. Both are safe to use from any
// thread, and both close: a closed queue wakes every waiter at once and
// hands out nothing more, which is how the crawl stops its stages. A closed
// queue still keeps what it holds and what is pushed after the close, for
// drain(): an orderly stop saves it for the next run.

// The URL queue: a max-heap on priority that holds each URL once. A URL
// pushed again while it waits keeps the highest priority it was pushed with,
// and stays a revisit (or a requested URL) if any push was one; a URL pushed
// while it is being fetched (taken by pop() and not yet finished()) is
// dropped. Equal priorities leave in heap order, not in the order they were
// pushed (four items of one priority pushed 1, 2, 3, 4 leave 1, 3, 2, 4).
// The console and the parse stage push; the download stage pops.
//
// The queue also knows when the crawl is idle: an item pop() hands out is
// in flight until handled() is called for it (the parse stage calls it once
// the item's page is analysed and its links pushed), so "nothing waits and
// nothing is in flight" is one state read under one lock, and a page's
// links are pushed before its item stops counting.
class UrlQueue {
 public:
  UrlQueue() = default;
  UrlQueue(const UrlQueue&) = delete;
  UrlQueue& operator=(const UrlQueue&) = delete;

  // Queues the item, or merges it into the entry of its URL; after close()
  // it is only kept for drain().
  void push(CrawlItem item);
  // Takes the highest-priority item; its URL is then being fetched until
  // finished() is called for it, and the item is in flight until handled().
  // Blocks while the queue is empty and open; nullopt once closed.
  [[nodiscard]] std::optional<CrawlItem> pop();
  // An item pop() gave is handled through to its end: its page analysed and
  // its links pushed, or the item dropped. Once for each item popped, and
  // once for each hold().
  void handled();
  // Counts work that is no item but may push items (a sitemap waiting to be
  // read) as in flight until handled() is called for it, so that the crawl
  // is not idle meanwhile.
  void hold();
  // Blocks while items wait or are in flight, and the queue is open. True
  // when the crawl is idle, false once closed.
  [[nodiscard]] bool waitUntilIdle();
  // Blocks while no item waits or is in flight, and the queue is open. True
  // when there is work, false once closed.
  [[nodiscard]] bool waitUntilBusy();
  // True while items wait or are in flight (stale as soon as read).
  [[nodiscard]] bool busy() const;
  // The URL taken by pop() is settled: the index records it, or it needs no
  // record. It may be queued again from now on.
  void finished(const std::string& url);
  // True while the URL waits in the queue or is being fetched.
  [[nodiscard]] bool holds(const std::string& url) const;
  // Wakes every waiter; nothing is handed out afterwards.
  void close();
  // Takes every item held, highest priority first, and empties the queue.
  [[nodiscard]] std::vector<CrawlItem> drain();
  // Items waiting (stale as soon as read).
  [[nodiscard]] std::size_t size() const;

 private:
  struct Waiting {
    std::int32_t priority;
    bool revisit;
    bool requested;
  };
  // The live entry of the heap's top, or nullopt once the heap is empty;
  // entries left behind by a later push of a higher priority are dropped.
  std::optional<CrawlItem> takeTop();

  [[nodiscard]] bool idleLocked() const { return waiting.empty() && inFlight == 0; }

  mutable std::mutex mutex;
  std::condition_variable itemAvailable;
  // Notified when the queue turns idle or busy, and at the close.
  std::condition_variable activity;
  // Entries by priority; a URL pushed again with a higher priority has an
  // outdated entry here too, recognised by its priority in `waiting`.
  std::priority_queue<CrawlItem> heap;
  std::unordered_map<std::string, Waiting> waiting;
  std::unordered_set<std::string> fetching;
  std::size_t inFlight = 0;
  bool closed = false;
};

// The fetched pages on their way from the download stage to the parse
// stage, oldest first. The download stage waits for room before it takes a
// new URL: it pauses while more than `pauseAbove` pages, or more than
// `pauseAboveBytes` bytes of content, wait, and is woken as soon as the parse
// stage takes one, so at most pauseAbove + 1 pages (and pauseAboveBytes plus
// one page's bytes) wait
// in memory.
class PageHandover {
 public:
  explicit PageHandover(std::size_t pauseAbove, std::size_t pauseAboveBytes = SIZE_MAX)
      : pauseAbove(pauseAbove), pauseAboveBytes(pauseAboveBytes) {}
  PageHandover(const PageHandover&) = delete;
  PageHandover& operator=(const PageHandover&) = delete;

  // Appends a page; after close() it is only kept for drain().
  void push(FetchedPage page);
  // Takes the oldest page. Blocks while none waits and the queue is open;
  // nullopt once closed (pages still waiting stay for drain()).
  [[nodiscard]] std::optional<FetchedPage> pop();
  // Blocks while more than pauseAbove pages or pauseAboveBytes bytes wait
  // and the queue is open.
  // Returns false once closed.
  [[nodiscard]] bool waitForRoom();
  // Blocks until `deadline` or the close, whichever comes first; true when
  // the queue is closed.
  [[nodiscard]] bool waitForCloseUntil(std::chrono::steady_clock::time_point deadline);
  // Wakes every waiter; nothing is handed out afterwards.
  void close();
  // Takes every page held, oldest first, and empties the queue.
  [[nodiscard]] std::vector<FetchedPage> drain();
  // Pages waiting (stale as soon as read).
  [[nodiscard]] std::size_t size() const;
  // True once close() has been called.
  [[nodiscard]] bool isClosed() const;

 private:
  const std::size_t pauseAbove;
  const std::size_t pauseAboveBytes;
  std::size_t waitingBytes = 0;
  mutable std::mutex mutex;
  std::condition_variable pageAvailable;
  std::condition_variable roomAvailable;
  std::condition_variable closing;
  std::deque<FetchedPage> pages;
  bool closed = false;
};

// A first-in first-out queue between two threads of one stage, of at most
// `capacity` items whose weights (what each holds, in units of the
// owner's choosing) add up to at most `maxWeight`: push() blocks while it
// is full, pop() while it is empty, and close() wakes both for good. An
// item heavier than maxWeight alone is taken when the queue is empty, so
// every item gets through. Items left at the close stay for drain().
template <class Item>
class BoundedQueue {
 public:
  explicit BoundedQueue(std::size_t capacity,
                        std::size_t maxWeight = std::numeric_limits<std::size_t>::max())
      : capacity(capacity), maxWeight(maxWeight) {}
  BoundedQueue(const BoundedQueue&) = delete;
  BoundedQueue& operator=(const BoundedQueue&) = delete;

  // Appends the item once there is room for it; false (the item dropped)
  // once closed.
  bool push(Item item, std::size_t weight = 0) {
    std::unique_lock<std::mutex> lock(mutex);
    roomAvailable.wait(lock, [this, weight] {
      return closed || items.empty() ||
             (items.size() < capacity && held <= maxWeight && weight <= maxWeight - held);
    });
    if (closed) return false;
    items.emplace_back(std::move(item), weight);
    held += weight;
    itemAvailable.notify_one();
    return true;
  }
  // Takes the oldest item; blocks while none waits and the queue is open;
  // nullopt once closed.
  std::optional<Item> pop() {
    std::unique_lock<std::mutex> lock(mutex);
    itemAvailable.wait(lock, [this] { return closed || !items.empty(); });
    if (closed) return std::nullopt;
    Item item = std::move(items.front().first);
    held -= items.front().second;
    items.pop_front();
    roomAvailable.notify_one();
    return item;
  }
  // Items waiting (stale as soon as read).
  [[nodiscard]] std::size_t size() const {
    std::lock_guard<std::mutex> lock(mutex);
    return items.size();
  }
  void close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    itemAvailable.notify_all();
    roomAvailable.notify_all();
  }
  // Takes every item held, oldest first.
  [[nodiscard]] std::deque<Item> drain() {
    std::lock_guard<std::mutex> lock(mutex);
    std::deque<Item> drained;
    for (auto& [item, weight] : items) drained.push_back(std::move(item));
    items.clear();
    held = 0;
    return drained;
  }

 private:
  const std::size_t capacity;
  const std::size_t maxWeight;
  mutable std::mutex mutex;
  std::condition_variable itemAvailable;
  std::condition_variable roomAvailable;
  std::deque<std::pair<Item, std::size_t>> items;
  std::size_t held = 0;
  bool closed = false;
};

}  // namespace theme_search
