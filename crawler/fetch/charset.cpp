// Character sets of fetched documents, decoded with iconv into code points
// and written back as Latin-1.
#include "crawler/fetch/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "common/text.h"
#include "common/text_folding.h"

namespace theme_search {

namespace {

const std::size_t kMetaSearchLength = 4096;
const char kDecodedForm[] = "UTF-32LE";

// An iconv descriptor from one charset to UTF-32LE, closed with the object.
class Decoder {
 public:
  explicit Decoder(const std::string& charset)
      : descriptor(iconv_open(kDecodedForm, charset.c_str())) {}
  ~Decoder() {
    if (valid()) iconv_close(descriptor);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  [[nodiscard]] bool valid() const { return descriptor != reinterpret_cast<iconv_t>(-1); }
  [[nodiscard]] iconv_t get() const { return descriptor; }

 private:
  iconv_t descriptor;
};

void appendCodePoint(std::string& out, char32_t codePoint) {
  if (codePoint < 0x100) {
    out += static_cast<char>(codePoint);
    return;
  }
  const std::string spelled = beyondLatin1(codePoint);
  out += spelled.empty() ? std::string(" ") : spelled;
}

// The code points iconv wrote, little-endian 32-bit units.
void appendDecoded(std::string& out, const char* units, std::size_t length) {
  for (std::size_t at = 0; at + 4 <= length; at += 4) {
    const auto byte = [&](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(units[at + i]));
    };
    appendCodePoint(out, byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
  }
}

bool isUtf8Name(const std::string& charset) {
  return charset == "utf-8" || charset == "utf8";
}

bool isLatin1Name(const std::string& charset) {
  for (const char* name : {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "latin-1", "l1",
                           "us-ascii", "ascii", "windows-1252", "cp1252", "x-cp1252"})
    if (charset == name) return true;
  return false;
}

bool hasByteIn(std::string_view text, unsigned char low, unsigned char high) {
  return std::any_of(text.begin(), text.end(), [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= low && byte <= high;
  });
}

std::string decode(std::string_view text, const std::string& charset);

// A byte that the charset does not accept: read as Windows-1252 within a
// UTF-8 text (a page mixing both), a blank otherwise.
void appendUndecodable(std::string& out, char byte, bool utf8) {
  if (utf8 && static_cast<unsigned char>(byte) >= 0x80) {
    out += decode(std::string_view(&byte, 1), "windows-1252");
    return;
  }
  out += ' ';
}

// Decodes the whole text with iconv, one undecodable byte at a time passed
// to appendUndecodable. The charset must be one iconv knows.
std::string decode(std::string_view text, const std::string& charset) {
  const Decoder decoder(charset);
  std::string out;
  char units[4096];
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char* write = units;
    std::size_t room = sizeof units;
    const std::size_t done = iconv(decoder.get(), &in, &inLeft, &write, &room);
    const int error = errno;
    appendDecoded(out, units, static_cast<std::size_t>(write - units));
    if (done != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // EILSEQ, or EINVAL for a sequence cut off by the end of the text.
    appendUndecodable(out, *in, isUtf8Name(charset));
    ++in;
    --inLeft;
    iconv(decoder.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool isCharsetNameByte(char c) {
  return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

// The charset after "charset" at `at` in a lower-cased tag text.
std::string charsetValueAt(const std::string& tag, std::size_t at) {
  at += 7;
  while (at < tag.size() && isAsciiSpace(tag[at])) ++at;
  if (at >= tag.size() || tag[at] != '=') return std::string();
  ++at;
  while (at < tag.size() && (isAsciiSpace(tag[at]) || tag[at] == '"' || tag[at] == '\'')) ++at;
  std::size_t end = at;
  while (end < tag.size() && isCharsetNameByte(tag[end])) ++end;
  return tag.substr(at, end - at);
}

}  // namespace

std::string beyondLatin1(char32_t codePoint) {
  const std::optional<std::string_view> spelled = transliterate(codePoint);
  return spelled ? std::string(*spelled) : std::string();
}

bool isMultiByteUtf8(std::string_view text) {
  bool multiByte = false;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    char32_t codePoint;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      codePoint = lead & 0x07;
    } else {
      return false;
    }
    if (at + length > text.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = codePoint << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    const char32_t smallest = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
    if (codePoint < smallest || (codePoint >= 0xD800 && codePoint <= 0xDFFF) ||
        codePoint > 0x10FFFF)
      return false;
    multiByte = true;
    at += length;
  }
  return multiByte;
}

std::string metaCharset(std::string_view html) {
  const std::string head = lowered(std::string(html.substr(0, kMetaSearchLength)));
  for (std::size_t meta = head.find("<meta"); meta != std::string::npos;
       meta = head.find("<meta", meta + 5)) {
    const std::string tag = head.substr(meta, head.find('>', meta) - meta);
    for (std::size_t at = tag.find("charset"); at != std::string::npos;
         at = tag.find("charset", at + 7)) {
      std::string value = charsetValueAt(tag, at);
      if (!value.empty()) return value;
    }
  }
  return std::string();
}

std::string toLatin1(std::string_view text, std::string_view charset) {
  std::string name = lowered(std::string(charset));
  if (!name.empty() && !isLatin1Name(name) && !Decoder(name).valid()) name.clear();
  if (name.empty()) name = isMultiByteUtf8(text) ? "utf-8" : "windows-1252";
  // The common cases cost nothing: Latin-1 without typographic bytes, and
  // plain ASCII.
  if (isLatin1Name(name) && !hasByteIn(text, 0x80, 0x9F)) return std::string(text);
  if (isUtf8Name(name) && !hasByteIn(text, 0x80, 0xFF)) return std::string(text);
  return decode(text, isLatin1Name(name) ? "windows-1252" : name);
}

}  // namespace theme_search
