#include "searchcgi/json_text.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

// A strict check of one JSON string literal: quotes at both ends, valid
// UTF-8 only, no raw control character, only JSON's escapes.
bool isValidJsonString(const std::string& json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return false;
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const auto byte = static_cast<unsigned char>(json[i]);
    if (byte < 0x20 || byte == '"') return false;
    if (byte == '\\') {
      const char next = json[++i];
      if (next == 'u') {
        if (i + 4 >= json.size() - 1) return false;
        for (int k = 1; k <= 4; ++k)
          if (!isxdigit(static_cast<unsigned char>(json[i + k]))) return false;
        i += 4;
      } else if (std::string("\"\\/bfnrt").find(next) == std::string::npos) {
        return false;
      }
    } else if (byte >= 0x80) {
      // Latin-1 gives only two-byte sequences C2 or C3, then 80-BF.
      if ((byte != 0xC2 && byte != 0xC3) || i + 2 >= json.size()) return false;
      const auto trail = static_cast<unsigned char>(json[++i]);
      if (trail < 0x80 || trail > 0xBF) return false;
    }
  }
  return true;
}

TEST(JsonText, ConvertsEachLatin1ByteToOneCharacter) {
  struct Case {
    std::string latin1;
    std::string utf8;
  } cases[] = {
      {"abc", "abc"},
      {"R\xe9"
       "colte \xc0 \xff \xa0 \xd7",
       "R\xc3\xa9"
       "colte \xc3\x80 \xc3\xbf \xc2\xa0 \xc3\x97"},
      {"\x80\x9f", "\xc2\x80\xc2\x9f"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(latin1ToUtf8(c.latin1), c.utf8) << "text: " << c.latin1;
}

TEST(JsonText, EscapesHostileTextIntoValidJson) {
  struct Case {
    std::string latin1;
    std::string json;
  } cases[] = {
      {"", "\"\""},
      {"Le \"rucher\" \\ l'\xe9t\xe9 </script>",
       "\"Le \\\"rucher\\\" \\\\ l'\xc3\xa9t\xc3\xa9 </script>\""},
      {std::string("\0\x01\t\n\r\x1f\x7f\x80\x92\x9f\xa0", 11),
       "\"\\u0000\\u0001\\u0009\\u000A\\u000D\\u001F\\u007F\\u0080\\u0092\\u009F\xc2\xa0\""},
  };
  for (const Case& c : cases) EXPECT_EQ(jsonString(c.latin1), c.json) << "text: " << c.latin1;

  // Every byte, alone and in a run, gives valid JSON.
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_TRUE(isValidJsonString(jsonString(one))) << "byte " << byte << ": " << jsonString(one);
    all += one;
  }
  EXPECT_TRUE(isValidJsonString(jsonString(all)));
  std::string appended = "[";
  appendJsonString(appended, "x\"y");
  EXPECT_EQ(appended, "[\"x\\\"y\"");
}

TEST(JsonText, QueryTextIsWrittenAsItsCharacters) {
  struct Case {
    std::string utf8;
    std::string json;
  } cases[] = {
      {"caf\xc3\xa9 \xf0\x9f\x90\x9d \"\\", "\"caf\xc3\xa9 \xf0\x9f\x90\x9d \\\"\\\\\""},
      {"\x01\xc2\x85\x7f", "\"\\u0001\\u0085\\u007F\""},
      // Not UTF-8: Latin-1, its 0x80-0x9F read as Windows-1252.
      {"caf\xe9 \x9cuf \x81", "\"caf\xc3\xa9 \xc5\x93uf \\u0081\""},
  };
  for (const Case& c : cases) {
    std::string json = "[";
    appendJsonStringOfUtf8(json, c.utf8);
    EXPECT_EQ(json, "[" + c.json) << "text: " << c.utf8;
  }
}

TEST(JsonText, WritesAnExcerptWithItsMarksInCharacters) {
  const Excerpt excerpt{
      "...la r\xe9"
      "colte \"bio\"...",
      {{6, 7}, {15, 3}}};
  EXPECT_EQ(excerptJson(excerpt),
            "{\"text\":\"...la r\xc3\xa9"
            "colte \\\"bio\\\"...\",\"marks\":[{\"offset\":6,\"length\":7},"
            "{\"offset\":15,\"length\":3}]}");
  EXPECT_EQ(excerptJson(Excerpt{}), "{\"text\":\"\",\"marks\":[]}");
}

}  // namespace
