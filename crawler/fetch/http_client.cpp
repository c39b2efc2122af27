// HTTP/1.1 GET through libcurl, with the crawler's reply check, limits and
// stop request hooked into libcurl's callbacks.
#include "crawler/fetch/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "common/text.h"
#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client_detail.h"
#include "crawler/fetch/reply.h"
#include "crawler/fetch/stop_signal.h"
#include "crawler/fetch/url_rules.h"

namespace theme_search {

namespace {

using Clock = std::chrono::steady_clock;
using http_detail::FetchLimits;

const long kMaxRedirects = 5;

// What one transfer's callbacks share.
struct Transfer {
  Transfer(const EngineConfig& config, const FetchLimits& limits, const StopSignal* stop,
           bool anyReply, bool conditional)
      : config(config), limits(limits), stop(stop), anyReply(anyReply), conditional(conditional) {}

  const EngineConfig& config;
  const FetchLimits& limits;
  const StopSignal* stop;
  bool anyReply;
  bool conditional;          // the request carries validators: "304" is an answer
  bool notModified = false;  // ... and the server gave it
  std::string header;        // the current header block, as received
  std::string body;          // decoded
  bool headerComplete = false;
  std::optional<std::string> refusal;
  bool overCap = false;
  bool silent = false;
  bool stopped = false;
  bool requestSent = false;
  Clock::time_point lastData = Clock::now();
};

FetchResult failure(std::string reason, std::string reply = std::string()) {
  return FetchResult{FetchResult::Outcome::failed, std::move(reason), std::move(reply)};
}

// errno's text, starting in lower case to read well after a colon.
std::string systemReason(long error) {
  std::string text = std::strerror(static_cast<int>(error));
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

std::string seconds(std::chrono::milliseconds duration) {
  return std::to_string((duration.count() + 999) / 1000) + " s";
}

// The second word of the block starts with '1': an interim reply ("100
// Continue"), followed by the real one.
bool isInterim(const std::string& header) {
  const std::size_t space = header.find(' ');
  return space != std::string::npos && space + 1 < header.size() && header[space + 1] == '1';
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer.lastData = Clock::now();
  // Every reply, interim or redirect, starts a block of its own.
  if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    transfer.header.clear();
    transfer.headerComplete = false;
  }
  if (transfer.header.size() + length > transfer.limits.maxSize) {
    transfer.overCap = true;
    return 0;
  }
  transfer.header.append(data, length);
  const bool blankLine =
      (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
  if (!blankLine || isInterim(transfer.header)) return length;
  transfer.headerComplete = true;
  if (transfer.anyReply) return length;
  if (transfer.conditional && replyStatus(transfer.header) == "304") {
    transfer.notModified = true;
    return length;
  }
  // The check runs on the whole header block; an unwanted body is never read.
  transfer.refusal = refusalReason(transfer.config, transfer.header);
  return transfer.refusal ? 0 : length;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  transfer.lastData = Clock::now();
  if (transfer.header.size() + transfer.body.size() + length > transfer.limits.maxSize) {
    transfer.overCap = true;
    return 0;
  }
  transfer.body.append(data, length);
  return length;
}

// Called by libcurl about once a second, and more often while data flows.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  if (transfer.stop != nullptr && transfer.stop->requested()) {
    transfer.stopped = true;
    return 1;
  }
  if (transfer.requestSent && Clock::now() - transfer.lastData >= transfer.limits.silence) {
    transfer.silent = true;
    return 1;
  }
  return 0;
}

// The silence limit counts from the moment the request goes out, not
// during the connection and the TLS handshake.
int onRequestReady(void* user, char*, char*, int, int) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  transfer.requestSent = true;
  transfer.lastData = Clock::now();
  return CURL_PREREQFUNC_OK;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// A host name or IPv4 address, or a bracketed IPv6 address, with an
// optional ":port" of digits; anything else is refused before libcurl sees
// it.
bool plausibleHost(const std::string& host) {
  std::size_t nameEnd;
  if (startsWith(host, "[")) {
    nameEnd = host.find(']');
    if (nameEnd == std::string::npos) return false;
    ++nameEnd;
  } else {
    nameEnd = std::min(host.find(':'), host.size());
    if (nameEnd == 0) return false;
    for (std::size_t i = 0; i < nameEnd; ++i) {
      const char c = host[i];
      if (!isAsciiLetter(c) && !isDigit(c) && c != '.' && c != '-' && c != '_') return false;
    }
  }
  if (nameEnd == host.size()) return true;
  const std::string port = host.substr(nameEnd + 1);
  return host[nameEnd] == ':' && !port.empty() && port.size() <= 5 &&
         std::all_of(port.begin(), port.end(), isDigit);
}

std::string failureReason(CURL* curl, CURLcode code, const char* errorText,
                          const FetchLimits& limits, bool requestSent) {
  const std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "host not found";
    case CURLE_COULDNT_CONNECT: {
      long error = 0;
      curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &error);
      return error != 0 ? systemReason(error) : "no connection";
    }
    case CURLE_OPERATION_TIMEDOUT:
      // The connect limit covers the TLS handshake too.
      if (!requestSent) return "no connection within " + seconds(limits.connectTimeout);
      return "download not complete within " + seconds(limits.deadline);
    case CURLE_PEER_FAILED_VERIFICATION:
      return "certificate not trusted: " + detail;
    case CURLE_SSL_CONNECT_ERROR:
      return "TLS handshake failed: " + detail;
    case CURLE_GOT_NOTHING:
      return "no reply";
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
      return "not an HTTP reply";
    case CURLE_PARTIAL_FILE:
      return "reply cut short";
    case CURLE_BAD_CONTENT_ENCODING:
      return "body cannot be decoded: " + detail;
    case CURLE_TOO_MANY_REDIRECTS:
      return "more than " + std::to_string(kMaxRedirects) + " redirects";
    default:
      return detail;
  }
}

// What the transfer gave, once libcurl has returned.
FetchResult outcome(Transfer& transfer, CURL* curl, CURLcode code, const char* errorText) {
  const FetchLimits& limits = transfer.limits;
  if (transfer.stopped) return failure("crawl stopped");
  if (transfer.silent)
    return FetchResult{FetchResult::Outcome::timedOut, "no data for " + seconds(limits.silence),
                       std::string()};
  if (transfer.overCap || code == CURLE_FILESIZE_EXCEEDED)
    return failure("reply over " + std::to_string(limits.maxSize >> 20) + " MiB");
  if (transfer.refusal) return failure(std::move(*transfer.refusal), std::move(transfer.header));
  if (code != CURLE_OK) {
    // A header block that never ended is judged on what came of it.
    if (!transfer.anyReply && !transfer.headerComplete && !transfer.header.empty()) {
      if (std::optional<std::string> refused = refusalReason(transfer.config, transfer.header))
        return failure(std::move(*refused), std::move(transfer.header));
    }
    return failure(failureReason(curl, code, errorText, limits, transfer.requestSent));
  }
  if (transfer.notModified)
    return FetchResult{FetchResult::Outcome::notModified, "status 304", std::move(transfer.header)};
  FetchResult result{FetchResult::Outcome::fetched, std::string(), std::move(transfer.header)};
  std::string().swap(transfer.header);
  result.reply += transfer.body;
  return result;
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Appends a line to the list; false when libcurl cannot (the list is then
// unchanged, and still owned).
bool append(HeaderList& list, const char* line) {
  curl_slist* longer = curl_slist_append(list.get(), line);
  if (longer == nullptr) return false;
  static_cast<void>(list.release());
  list.reset(longer);
  return true;
}

// The request carries exactly the request line, "Host:", "Connection:
// close" (and "User-Agent" when polite): libcurl's own "Accept" and
// "Accept-Encoding" are removed. Compressed bodies are still decoded. The
// conditions follow, each line as given: libcurl sends a custom header line
// as it stands.
HeaderList requestHeaders(const std::vector<std::string>& conditions) {
  HeaderList list(nullptr, curl_slist_free_all);
  for (const char* line : {"Accept:", "Accept-Encoding:", "Connection: close"})
    if (!append(list, line)) return HeaderList(nullptr, curl_slist_free_all);
  for (const std::string& line : conditions)
    if (!append(list, line.c_str())) return HeaderList(nullptr, curl_slist_free_all);
  return list;
}

void setOptions(CURL* curl, const FetchTarget& parts, Transfer& transfer, curl_slist* headers,
                char* errorText) {
  const std::string origin = std::string(parts.secure ? kHttpsPrefix : kHttpPrefix) + parts.host;
  // The path is sent as it stands; libcurl would refuse blanks and drop a
  // fragment. A followed redirect needs the whole URL instead.
  if (transfer.anyReply) {
    curl_easy_setopt(curl, CURLOPT_URL, (origin + parts.path).c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  } else {
    curl_easy_setopt(curl, CURLOPT_URL, (origin + "/").c_str());
    curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, parts.path.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // no proxy from the environment
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  if (transfer.config.polite) curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  if (!transfer.config.extraCaFile.empty())
    curl_easy_setopt(curl, CURLOPT_CAINFO, transfer.config.extraCaFile.c_str());
  const FetchLimits& limits = transfer.limits;
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(limits.connectTimeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.deadline.count()));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxSize));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, onRequestReady);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &transfer);
}

}  // namespace

FetchTarget splitTarget(const std::string& target) {
  FetchTarget parts;
  std::string rest = target;
  if (startsWith(target, kHttpsPrefix)) {
    parts.secure = true;
    rest.erase(0, kHttpsPrefix.size());
  } else if (startsWith(target, kHttpPrefix)) {
    rest.erase(0, kHttpPrefix.size());
  }
  const std::size_t slash = rest.find('/');
  parts.host = rest.substr(0, slash);
  parts.path = slash == std::string::npos ? "/" : rest.substr(slash);
  return parts;
}

FetchResult httpGet(const EngineConfig& config, const std::string& target, const StopSignal* stop,
                    const std::vector<std::string>& conditions) {
  return http_detail::fetchWith(config, target, http_detail::FetchLimits{}, stop, false,
                                conditions);
}

FetchResult httpGetFollowing(const EngineConfig& config, const std::string& target,
                             const StopSignal* stop) {
  return http_detail::fetchWith(config, target, http_detail::FetchLimits{}, stop, true);
}

namespace http_detail {

FetchResult fetchWith(const EngineConfig& config, const std::string& target,
                      const FetchLimits& limits, const StopSignal* stop, bool anyReply,
                      const std::vector<std::string>& conditions) {
  const FetchTarget parts = splitTarget(target);
  if (parts.host.empty()) return failure("no host name");
  if (!plausibleHost(parts.host)) return failure("bad host name " + parts.host);
  const CurlHandle curl(curl_easy_init(), curl_easy_cleanup);
  const HeaderList headers = requestHeaders(conditions);
  if (!curl || !headers) return failure("HTTP library not available");
  Transfer transfer{config, limits, stop, anyReply, !conditions.empty()};
  char errorText[CURL_ERROR_SIZE] = "";
  setOptions(curl.get(), parts, transfer, headers.get(), errorText);
  const CURLcode code = curl_easy_perform(curl.get());
  return outcome(transfer, curl.get(), code, errorText);
}

}  // namespace http_detail

}  // namespace theme_search
