// The stored form read back by the database server: UNCOMPRESS() gives the
// text, and a BLOB column keeps every byte of it through escapeSql.
#include "common/stored_text.h"

#include <string>

#include <gtest/gtest.h>

#include "index/sql_text.h"
#include "test_database.h"

namespace {

using namespace theme_search;

using StoredTextTest = FreshIndexTest;

TEST_F(StoredTextTest, TheServerReadsItBackWithUncompress) {
  std::string bytes;
  for (int i = 0; i < 2000; ++i) bytes += static_cast<char>((i * 131) & 0xFF);
  const std::string texts[] = {
      "R\xe9"
      "colte d'\xe9t\xe9 : 12 kg.",
      bytes};
  ASSERT_EQ(db().tryExecute("CREATE TEMPORARY TABLE Stored (id INT PRIMARY KEY, texte MEDIUMBLOB)"),
            std::nullopt);
  int id = 0;
  for (const std::string& text : texts) {
    const std::string stored = compressStoredText(text);
    ++id;
    EXPECT_EQ(db().execute("INSERT INTO Stored VALUES (" + std::to_string(id) + ", '" +
                           escapeSql(stored) + "')"),
              1u);
    const auto rows = db().query(
        "SELECT texte, UNCOMPRESS(texte), UNCOMPRESSED_LENGTH(texte) "
        "FROM Stored WHERE id = " +
        std::to_string(id));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], stored) << "text of " << text.size() << " bytes";
    EXPECT_EQ(rows[0][1], text);
    EXPECT_EQ(rows[0][2], std::to_string(text.size()));
    // And what the server compresses, this side reads.
    const auto compressed = db().query("SELECT COMPRESS('" + escapeSql(text) + "')");
    ASSERT_EQ(compressed.size(), 1u);
    EXPECT_EQ(expandStoredText(compressed[0][0]), text);
  }
}

}  // namespace
