// gzip through zlib's inflate, with a bound on what comes out.
#include "crawler/sitemap/gzip_stream.h"

#include <zlib.h>

namespace theme_search {

namespace {

// One inflate stream for gzip data, ended on every path.
class Inflater {
 public:
  Inflater() { ready = inflateInit2(&stream, 16 + MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ready) inflateEnd(&stream);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  z_stream stream{};
  bool ready = false;
};

std::string mebibytes(std::size_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

}  // namespace

bool isGzip(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

std::optional<std::string> inflateGzip(std::string_view data, std::size_t maxBytes,
                                       const std::function<bool(std::string_view piece)>& sink) {
  Inflater inflater;
  if (!inflater.ready) return std::string("gzip decoder not available");
  z_stream& stream = inflater.stream;
  // zlib counts input in 32 bits; a sitemap's reply is far below that.
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  char piece[64 * 1024];
  std::size_t total = 0;
  for (;;) {
    stream.next_out = reinterpret_cast<Bytef*>(piece);
    stream.avail_out = sizeof piece;
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = sizeof piece - stream.avail_out;
    total += produced;
    if (total > maxBytes) return "over " + mebibytes(maxBytes) + " once decompressed";
    if (produced != 0 && !sink(std::string_view(piece, produced))) return std::nullopt;
    if (status == Z_STREAM_END) {
      const std::string_view rest(reinterpret_cast<const char*>(stream.next_in), stream.avail_in);
      if (!isGzip(rest)) return std::nullopt;
      inflateReset(&stream);  // the next member
      continue;
    }
    if (status == Z_BUF_ERROR && stream.avail_in == 0) return std::string("gzip data cut short");
    if (status != Z_OK)
      return std::string("not valid gzip data (") + (stream.msg ? stream.msg : "error") + ")";
  }
}

}  // namespace theme_search
