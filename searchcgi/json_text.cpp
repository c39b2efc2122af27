// Latin-1 to UTF-8 and JSON strings.
#include "searchcgi/json_text.h"

namespace theme_search {

namespace {

void appendUtf8(std::string& out, unsigned char byte) {
  if (byte < 0x80) {
    out += static_cast<char>(byte);
  } else {
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
  }
}

bool isControl(unsigned char byte) {
  return byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
}

}  // namespace

std::string latin1ToUtf8(std::string_view latin1) {
  std::string utf8;
  utf8.reserve(latin1.size() + latin1.size() / 8);
  for (char c : latin1) appendUtf8(utf8, static_cast<unsigned char>(c));
  return utf8;
}

void appendJsonString(std::string& json, std::string_view latin1) {
  static constexpr char hex[] = "0123456789ABCDEF";
  json += '"';
  for (char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (isControl(byte)) {
      json += "\\u00";
      json += hex[byte >> 4];
      json += hex[byte & 0xF];
    } else {
      appendUtf8(json, byte);
    }
  }
  json += '"';
}

std::string jsonString(std::string_view latin1) {
  std::string json;
  appendJsonString(json, latin1);
  return json;
}

std::string excerptJson(const Excerpt& excerpt) {
  std::string json = "{\"text\":";
  appendJsonString(json, excerpt.text);
  json += ",\"marks\":[";
  for (std::size_t i = 0; i < excerpt.marks.size(); ++i) {
    if (i > 0) json += ',';
    json += "{\"offset\":" + std::to_string(excerpt.marks[i].offset) +
            ",\"length\":" + std::to_string(excerpt.marks[i].length) + '}';
  }
  json += "]}";
  return json;
}

}  // namespace theme_search
