// The validators of a reply, and the conditional request that sends them back.
#include "crawler/fetch/validators.h"

#include <algorithm>

#include "crawler/fetch/reply.h"

namespace theme_search {

bool isSafeValidator(std::string_view value) {
  if (value.empty() || value.size() > kMaxValidatorBytes) return false;
  return std::none_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

PageValidators replyValidators(const std::string& reply) {
  PageValidators validators;
  if (replyStatus(reply) != "200") return validators;
  std::string etag = headerValue(reply, "etag");
  std::string lastModified = headerValue(reply, "last-modified");
  if (isSafeValidator(etag)) validators.etag = std::move(etag);
  if (isSafeValidator(lastModified)) validators.lastModified = std::move(lastModified);
  return validators;
}

std::vector<std::string> conditionalHeaders(const PageValidators& validators) {
  std::vector<std::string> lines;
  if (isSafeValidator(validators.etag)) lines.push_back("If-None-Match: " + validators.etag);
  if (isSafeValidator(validators.lastModified))
    lines.push_back("If-Modified-Since: " + validators.lastModified);
  return lines;
}

}  // namespace theme_search
