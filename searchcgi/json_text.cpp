// Latin-1 to UTF-8 and JSON strings.
#include "searchcgi/json_text.h"

#include "common/text_folding.h"

namespace theme_search {

namespace {

bool isControl(char32_t character) {
  return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

// One character of a JSON string: '"' and '\' backslash-escaped, the
// controls as \u00XX, every other character in UTF-8.
void appendJsonCharacter(std::string& json, char32_t character) {
  static constexpr char hex[] = "0123456789ABCDEF";
  if (character == '"' || character == '\\') {
    json += '\\';
    json += static_cast<char>(character);
  } else if (isControl(character)) {
    json += "\\u00";
    json += hex[character >> 4];
    json += hex[character & 0xF];
  } else {
    appendUtf8(json, character);
  }
}

}  // namespace

std::string latin1ToUtf8(std::string_view latin1) {
  std::string utf8;
  utf8.reserve(latin1.size() + latin1.size() / 8);
  for (char c : latin1) appendUtf8(utf8, static_cast<unsigned char>(c));
  return utf8;
}

void appendJsonString(std::string& json, std::string_view latin1) {
  json += '"';
  for (char c : latin1) appendJsonCharacter(json, static_cast<unsigned char>(c));
  json += '"';
}

void appendJsonStringOfUtf8(std::string& json, std::string_view utf8) {
  json += '"';
  for (char32_t character : utf8OrLatin1Characters(utf8)) appendJsonCharacter(json, character);
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
