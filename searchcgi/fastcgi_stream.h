#pragma once

#include <fcgiapp.h>

#include <streambuf>

namespace theme_search {

// A std::streambuf that writes into the output stream of one FastCGI
// request, so the page code writes to a std::ostream in both modes. The
// library buffers the bytes and sends them as records; sync() sends nothing
// by itself, so a flush at each line end costs no record of its own, and
// the reply goes out whole when the request is finished. Used by the
// request's thread; the FCGX_Stream must outlive it.
class FastCgiOutput : public std::streambuf {
 public:
  explicit FastCgiOutput(FCGX_Stream* stream) : stream(stream) {}
  FastCgiOutput(const FastCgiOutput&) = delete;
  FastCgiOutput& operator=(const FastCgiOutput&) = delete;

 protected:
  int_type overflow(int_type byte) override {
    if (traits_type::eq_int_type(byte, traits_type::eof())) return traits_type::not_eof(byte);
    return FCGX_PutChar(traits_type::to_char_type(byte), stream) == -1 ? traits_type::eof() : byte;
  }
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    const int written = FCGX_PutStr(bytes, static_cast<int>(count), stream);
    return written < 0 ? 0 : written;
  }
  int sync() override { return 0; }

 private:
  FCGX_Stream* stream;
};

}  // namespace theme_search
