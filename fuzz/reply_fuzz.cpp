// Any bytes as an HTTP reply: the early check, the reading of status, type
// and redirect, and the cut to the body must end without fault, and the body
// is a tail of the reply.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  theme_search::EngineConfig config;
  config.acceptedTypes = {"html", "pdf", "ps"};
  static_cast<void>(theme_search::refusalReason(config, reply));
  static_cast<void>(theme_search::interpretReply(reply, "http://srv/dir"));
  std::string body = reply;
  theme_search::removeHeader(body);
  if (body.size() > reply.size() ||
      reply.compare(reply.size() - body.size(), body.size(), body) != 0)
    __builtin_trap();
  return 0;
}
