#include "index/saved_queue.h"

#include <unordered_set>

#include "index/keyword_counts.h"
#include "index/sql_text.h"

namespace theme_search {

namespace {

std::vector<std::string> quoted(const std::vector<std::string>& urls) {
  std::vector<std::string> literals;
  literals.reserve(urls.size());
  for (const std::string& url : urls) literals.push_back(quote(url));
  return literals;
}

}  // namespace

std::string queueSaveStatement(const std::string& rows) {
  return "INSERT INTO FileAttente (url, priorite, revisite) VALUES " + rows +
         " ON DUPLICATE KEY UPDATE priorite = GREATEST(priorite, VALUES(priorite)), "
         "revisite = GREATEST(revisite, VALUES(revisite))";
}

std::string queueRemovalStatement(const std::string& quotedUrls) {
  return "DELETE FROM FileAttente WHERE url IN (" + quotedUrls + ")";
}

std::string unanalysedRemovalStatement(const std::string& quotedUrls) {
  return "DELETE FROM Url WHERE lastVisit IS NULL AND url IN (" + quotedUrls + ")";
}

std::string refreshStatement(unsigned days) {
  return "SELECT url FROM Url WHERE lastVisit <= NOW() - INTERVAL " + std::to_string(days) + " DAY";
}

std::string lastVisitStatement(const std::string& quotedUrls) {
  return "SELECT url, UNIX_TIMESTAMP(lastVisit) FROM Url WHERE lastVisit IS NOT NULL AND url IN (" +
         quotedUrls + ")";
}

std::uint64_t removeUnanalysedPages(IndexConnection& connection) {
  Transaction transaction(connection);
  changeKeywordBlocks(connection, "IN (SELECT idUrl FROM Url WHERE lastVisit IS NULL)", -1,
                      KeywordCountPart().next());
  connection.execute(
      "DELETE c FROM CorrespMotUrl c JOIN Url u ON u.idUrl = c.idUrl WHERE u.lastVisit IS NULL");
  const std::uint64_t removed = connection.execute("DELETE FROM Url WHERE lastVisit IS NULL");
  transaction.commit();
  return removed;
}

std::vector<SavedUrl> takeSavedQueue(IndexConnection& connection, const SiteTest& inSite) {
  Transaction transaction(connection);
  std::vector<SavedUrl> taken;
  std::vector<std::string> urls;
  for (Row& row : connection.query("SELECT url, priorite, revisite FROM FileAttente FOR UPDATE")) {
    if (!inSite(row.at(0))) continue;
    urls.push_back(row.at(0));
    taken.push_back(SavedUrl{std::move(row.at(0)),
                             static_cast<std::int32_t>(integerField(row.at(1))), row.at(2) != "0"});
  }
  for (const std::string& list : joinedBatches(quoted(urls)))
    connection.execute(queueRemovalStatement(list));
  transaction.commit();
  return taken;
}

std::size_t saveQueue(IndexConnection& connection, const std::vector<SavedUrl>& left,
                      const std::vector<InvalidUrl>& refused) {
  std::vector<std::string> rows, saved;
  std::unordered_set<std::string> seen;
  for (const SavedUrl& item : left) {
    rows.push_back("(" + quote(item.url) + "," + std::to_string(item.priority) + "," +
                   (item.revisit ? "1" : "0") + ")");
    if (seen.insert(item.url).second) saved.push_back(item.url);
  }
  Transaction transaction(connection);
  for (const std::string& list : joinedBatches(rows)) connection.execute(queueSaveStatement(list));
  for (const std::string& list : joinedBatches(quoted(saved)))
    connection.execute(unanalysedRemovalStatement(list));
  markAllInvalid(connection, refused);
  transaction.commit();
  return saved.size();
}

std::vector<std::string> pagesAnalysedBefore(IndexConnection& connection, unsigned days) {
  std::vector<std::string> pages;
  for (Row& row : connection.query(refreshStatement(days))) pages.push_back(std::move(row.at(0)));
  return pages;
}

std::unordered_map<std::string, std::int64_t> lastVisits(IndexConnection& connection,
                                                         const std::vector<std::string>& urls) {
  std::unordered_map<std::string, std::int64_t> visits;
  for (const std::string& list : joinedBatches(quoted(urls)))
    for (Row& row : connection.query(lastVisitStatement(list)))
      visits[std::move(row.at(0))] = integerField(row.at(1));
  return visits;
}

}  // namespace theme_search
