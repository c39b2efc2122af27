#include "crawler/analysis/document_record.h"

#include <string>

#include <gtest/gtest.h>

#include "common/stored_text.h"

namespace {

using namespace theme_search;

TEST(DocumentRecord, NamesADocumentByItsTitleOrItsFirstWords) {
  const std::string longTitle = std::string(150, 'a') + " " + std::string(60, 'b') + " c";
  const std::string longWord(300, 'w');
  struct Case {
    std::string title;
    std::string displayText;
    std::string expected;
  } cases[] = {
      {"Le rucher & ses abeilles", "Texte de la page", "Le rucher & ses abeilles"},
      {"", "un deux trois quatre cinq", "un deux trois quatre cinq"},
      {"", "un deux trois quatre cinq six sept huit neuf dix onze douze",
       "un deux trois quatre cinq six sept huit neuf dix..."},
      {"", "un deux trois quatre cinq six sept huit neuf dix",
       "un deux trois quatre cinq six sept huit neuf dix"},
      // At most 80 bytes of first words, cut at a blank.
      {"",
       "Vingt-cinq ruches Dadant install\xe9"
       "es au rucher-\xe9"
       "cole communal de Valmont-sur-Loire depuis 2004",
       "Vingt-cinq ruches Dadant install\xe9"
       "es au rucher-\xe9"
       "cole communal de..."},
      {"", longWord, std::string(80, 'w') + "..."},
      // A long title is cut at a blank after at most 200 bytes.
      {longTitle, "x", std::string(150, 'a') + "..."},
      {longWord, "x", std::string(200, 'w') + "..."},
      {"", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(documentTitle(c.title, c.displayText), c.expected)
        << "title: " << c.title << "\ntext: " << c.displayText;
}

TEST(DocumentRecord, StoresTheDisplayTextCompressedUpToItsLimit) {
  const std::string shortText =
      "La r\xe9"
      "colte du miel";
  DocumentRecord record = makeDocumentRecord("Titre", shortText);
  EXPECT_EQ(record.title, "Titre");
  EXPECT_EQ(expandStoredText(record.storedText), shortText);

  std::string longText;
  while (longText.size() < kMaxStoredTextLength + 100)
    longText += "abeille" + std::to_string(longText.size()) + " ";
  longText.pop_back();
  record = makeDocumentRecord("", longText);
  const auto stored = expandStoredText(record.storedText);
  ASSERT_TRUE(stored.has_value());
  EXPECT_LE(stored->size(), kMaxStoredTextLength);
  EXPECT_GT(stored->size(), kMaxStoredTextLength - 20);
  EXPECT_EQ(longText.compare(0, stored->size(), *stored), 0) << "a prefix of the text";
  EXPECT_EQ(longText[stored->size()], ' ') << "cut at a blank";
  EXPECT_EQ(record.title.substr(0, 20), "abeille0 abeille9 ab");

  EXPECT_EQ(makeDocumentRecord("", "").storedText, "");
}

// The hash is 64-bit FNV-1a (its published values), of the whole display
// text: texts alike in their stored first 32 KiB but not after differ, the
// title takes no part, and an empty text has none.
TEST(DocumentRecord, HashesTheWholeDisplayText) {
  EXPECT_EQ(textHash(""), 0xcbf29ce484222325u);
  EXPECT_EQ(textHash("a"), 0xaf63dc4c8601ec8cu);
  EXPECT_EQ(textHash("foobar"), 0x85944171f73967e8u);

  const std::string prefix(kMaxStoredTextLength + 10, 'x');
  const DocumentRecord one = makeDocumentRecord("Un", prefix + " fin");
  const DocumentRecord other = makeDocumentRecord("Autre", prefix + " suite");
  EXPECT_EQ(one.storedText, other.storedText);
  ASSERT_TRUE(one.textHash && other.textHash);
  EXPECT_NE(*one.textHash, *other.textHash);
  EXPECT_EQ(makeDocumentRecord("Autre", prefix + " fin").textHash, one.textHash);
  EXPECT_EQ(makeDocumentRecord("Titre", "").textHash, std::nullopt);
}

TEST(DocumentRecord, ReadsConvertedTextAsLatin1WithAccents) {
  struct Case {
    std::string utf8;
    std::string display;
  } cases[] = {
      {"  Le guide de la\n\ntranshumance\f\n  R\xc3\xa9"
       "colte d\xe2\x80\x99\xc3\xa9t\xc3\xa9 \xe2\x80\x93 2004\n",
       "Le guide de la transhumance R\xe9"
       "colte d'\xe9t\xe9 - 2004"},
      // Invalid UTF-8 (a Latin-1 or Windows-1252 file) and controls.
      {"caf\xe9 l\x92"
       "eau \x01\x7f\x81 \xc3(\xe4\xb8\xad",
       "caf\xe9 l'eau \xc3("},
  };
  for (const Case& c : cases)
    EXPECT_EQ(convertedDisplayText(c.utf8), c.display) << "utf8: " << c.utf8;
}

}  // namespace
