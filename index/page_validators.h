#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "index/index_connection.h"

// The validators of a page's last "200" reply (its ETag and Last-Modified
// header values), which a revisit sends back so that the server can answer
// "304 Not Modified", and the visit such an answer records. Each call sends
// its statements through the caller's connection, on the caller's thread,
// and blocks until answered; a rejected statement throws MysqlBadQuery.

namespace theme_search {

// The longest value kept of either validator (UrlValidateurs' columns); a
// longer one is not kept at all, since a value cut short would never match.
inline constexpr std::size_t kMaxValidatorBytes = 255;

// The ETag and Last-Modified values of one reply, byte for byte as the server
// wrote them; an empty text is a value the reply did not have. A plain value.
struct PageValidators {
  std::string etag;
  std::string lastModified;

  [[nodiscard]] bool empty() const { return etag.empty() && lastModified.empty(); }
};

// The validators stored for the page, empty when it has none (or is not in
// Url).
[[nodiscard]] PageValidators readValidators(IndexConnection& connection, const std::string& url);

// A page the server says is unchanged since its last visit: its rows stay,
// and lastVisit becomes now. One statement.
void recordUnchangedVisit(IndexConnection& connection, const std::string& url);

// The UrlValidateurs row of the page whose Url.idUrl is given, written or
// replaced. Its removal, for a page whose reply has no validators now.
[[nodiscard]] std::string validatorsStatement(std::uint64_t pageId,
                                              const PageValidators& validators);
// The same row as "(idUrl, etag, lastModified)", and the statement that
// writes or replaces a list of such rows.
[[nodiscard]] std::string validatorsRow(std::uint64_t pageId, const PageValidators& validators);
[[nodiscard]] std::string validatorsRowsStatement(const std::string& rows);
[[nodiscard]] std::string validatorsRemovalStatement(std::uint64_t pageId);

}  // namespace theme_search
