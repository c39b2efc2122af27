#include "common/stored_text.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

std::string everyByte() {
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919) & 0xFF);
  return bytes;
}

TEST(StoredText, GivesBackEveryTextItStores) {
  std::string prose;
  while (prose.size() < 100000)
    prose += "Les abeilles butinent les fleurs du rucher en \xe9t\xe9. ";
  const std::string texts[] = {"", "a", std::string("nul\0and\xff", 8), everyByte(), prose};
  for (const std::string& text : texts) {
    const std::string stored = compressStoredText(text);
    EXPECT_EQ(expandStoredText(stored), text) << "text of " << text.size() << " bytes";
    if (text.empty()) {
      EXPECT_EQ(stored, "");
      continue;
    }
    // Four bytes of length, low byte first, then the zlib stream.
    ASSERT_GT(stored.size(), 6u);
    std::size_t declared = 0;
    for (int i = 3; i >= 0; --i) declared = declared * 256 + static_cast<unsigned char>(stored[i]);
    EXPECT_EQ(declared, text.size());
    EXPECT_EQ(static_cast<unsigned char>(stored[4]), 0x78) << "zlib header";
  }
  EXPECT_LT(compressStoredText(prose).size(), prose.size() / 10) << "repeated prose compresses";
}

TEST(StoredText, RefusesBytesThatAreNoStoredText) {
  const std::string good = compressStoredText("le miel de lavande");
  std::string longer = good;
  longer[0] = static_cast<char>(longer[0] + 1);  // declares one byte more than the stream
  std::string shorter = good;
  shorter[0] = static_cast<char>(shorter[0] - 1);
  std::string huge = good;
  huge[3] = 0x10;  // 256 MiB
  std::string broken = good;
  broken[good.size() / 2] = static_cast<char>(broken[good.size() / 2] ^ 0x55);
  const std::string cases[] = {
      "x",
      "abcd",
      std::string("\0\0\0\0", 4),
      std::string("\0\0\0\0\x78\x9c", 6),
      "plain text, never compressed",
      good.substr(0, good.size() - 1),
      longer,
      shorter,
      huge,
      broken,
  };
  // Bytes after the stream are ignored, as the server's UNCOMPRESS() does:
  // its COMPRESS() adds a '.' after the stream of a text ending in a blank.
  EXPECT_EQ(expandStoredText(good + "."), "le miel de lavande");
  for (const std::string& stored : cases)
    EXPECT_EQ(expandStoredText(stored), std::nullopt)
        << "stored: " << ::testing::PrintToString(stored);
}

}  // namespace
