#include "index/page_writer.h"

#include <algorithm>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/analysis/document_record.h"
#include "crawler/analysis/keyword_selection.h"
#include "index/page_validators.h"
#include "index/sql_text.h"
#include "index/url_registry.h"
#include "test_database.h"

namespace {

using namespace theme_search;

const std::string kUrl = "http://srv/doc.html";
const std::string kText = "Le moteur de recherche, le MOTEUR.";

EngineConfig withThemeWords(std::map<std::string, std::uint32_t> themeWords) {
  EngineConfig config;
  config.themeWords = std::move(themeWords);
  return config;
}

// What the parse stage does with a document's text: the keyword selection
// makes its record, the page writer writes it.
struct IndexedDocument {
  int themeWordCount = 0;
  std::string messages;
  bool stopped = false;
};
struct DocumentDisplay {
  std::string title, displayText;
};
class Indexer {
 public:
  explicit Indexer(IndexConnection& connection, std::function<bool()> stopRequested = nullptr,
                   PageWriter::Writes writes = PageWriter::Writes::batched)
      : writer(connection, std::move(stopRequested), writes) {}

  IndexedDocument index(const std::string& url, const std::string& type, const std::string& text,
                        const EngineConfig& config, const DocumentDisplay& display = {},
                        bool replacing = false) {
    KeywordSelection selection = selectKeywords(text, config);
    PageRecord record{type, std::move(selection.keywords), selection.themeWordCount, {}, {}, {},
                      {}};
    if (selection.onTheme) record.document = makeDocumentRecord(display.title, display.displayText);
    const PageWriteResult written = writer.write(url, record, replacing);
    return {selection.themeWordCount, written.messages, written.stopped};
  }

  void recordVisit(const std::string& url, bool replacing) {
    static_cast<void>(writer.write(url, PageRecord{}, replacing));
  }

 private:
  PageWriter writer;
};

TEST(KeywordStatements, AreBuiltByteForByteWithQuotedValues) {
  EXPECT_EQ(extensionStatement("pdf"),
            "INSERT IGNORE INTO Extension ( extension ) VALUES (\"pdf\")");
  EXPECT_EQ(keywordStatement("moteur"), "INSERT IGNORE INTO MotCle ( Mot ) VALUES (\"moteur\")");
  EXPECT_EQ(linkStatement("moteur", 3, "http://srv/a.html"),
            "INSERT INTO CorrespMotUrl ( idMot, idUrl, ratio ) SELECT idMot, idUrl, '3' FROM "
            "MotCle, Url WHERE mot = \"moteur\" AND url = \"http://srv/a.html\"");
  EXPECT_EQ(pageRowStatement("http://srv/\"a"),
            "INSERT INTO Url (url, lastVisit) VALUES (\"http://srv/\\\"a\", NULL ) ON DUPLICATE "
            "KEY UPDATE idUrl = LAST_INSERT_ID(idUrl)");
  // A quote or a trailing backslash in a word cannot end the literal.
  EXPECT_EQ(keywordStatement("say\"hi"),
            "INSERT IGNORE INTO MotCle ( Mot ) VALUES (\"say\\\"hi\")");
  EXPECT_EQ(linkStatement("end\\", 4294967295u, "u\""),
            "INSERT INTO CorrespMotUrl ( idMot, idUrl, ratio ) SELECT idMot, idUrl, '4294967295' "
            "FROM MotCle, Url WHERE mot = \"end\\\\\" AND url = \"u\\\"\"");
}

TEST(CountWords, CountsLowerCasedWordsBetweenAnyWhitespaceInUnsignedByteOrder) {
  using Counts = std::vector<std::pair<std::string, unsigned>>;
  struct Case {
    std::string text;
    Counts counts;
  } cases[] = {
      {kText, {{"de", 1}, {"le", 2}, {"moteur", 1}, {"moteur.", 1}, {"recherche,", 1}}},
      {"", {}},
      {" \t\n\v\f\r ", {}},
      {"last", {{"last", 1}}},
      {"\tA\vb\fA\rB\nab ", {{"a", 2}, {"ab", 1}, {"b", 2}}},
      // Accented capitals are left alone; bytes above 127 sort after ASCII.
      {"\xc9T\xc9 z \xe9t\xe9 zz \xd7\xf7",
       {{"z", 1}, {"zz", 1}, {"\xd7\xf7", 1}, {"\xe9t\xe9", 2}}},
  };
  for (const Case& c : cases) {
    WordCounts counts;
    countWords(c.text, counts);
    EXPECT_EQ(Counts(counts.begin(), counts.end()), c.counts) << "text: " << c.text;
  }
}

TEST(IsOnTheme, NeedsAWeightedWordAtItsWeightAndEveryRequiredWord) {
  struct Case {
    std::map<std::string, std::uint32_t> themeWords;
    bool onTheme;
  } cases[] = {
      {{{"moteur", 2}}, false},
      {{{"le", 1}}, true},
      {{{"le", 2}}, true},
      {{{"le", 3}}, false},
      {{{"le", 1}, {"web", 0}}, false},
      {{{"le", 1}, {"de", 0}}, true},
      {{{"de", 0}}, false},
      {{}, false},
      {{{"absent", 1}, {"le", 2}, {"recherche", 1}}, true},
      {{{"le", 4294967295u}}, false},
  };
  WordCounts counts;
  countWords(kText, counts);
  for (const Case& c : cases) {
    std::string words;
    for (const auto& [word, weight] : c.themeWords)
      words += word + ":" + std::to_string(weight) + " ";
    EXPECT_EQ(isOnTheme(counts, withThemeWords(c.themeWords)), c.onTheme) << "theme: " << words;
  }
}

// Every indexer test runs three times: with a group's pages written
// together, page by page, and with the per-word statements alone; each must
// leave the same rows and messages.
class PageWriterTest : public FreshIndexTest,
                       public ::testing::WithParamInterface<PageWriter::Writes> {
 protected:
  void SetUp() override {
    FreshIndexTest::SetUp();
    indexer.emplace(
        db(), [this] { return stopAfter >= 0 && stopAsked++ >= stopAfter; }, GetParam());
    // A non-zero start shows that the theme count is always written.
    db().execute("INSERT INTO Url (url, nbMotsTheme) VALUES (" + quote(kUrl) + ", 9)");
  }
  // Whatever a test wrote, refused or rolled back, the keywords' page
  // counts follow the keyword rows.
  void TearDown() override { EXPECT_EQ(keywordBlockFaults(db()), std::vector<std::string>{}); }
  // Indexes a document; returns its theme-word count.
  int index(const std::string& text, const EngineConfig& config, const std::string& type = "html") {
    const IndexedDocument indexed = indexer->index(kUrl, type, text, config);
    messages += indexed.messages;
    return indexed.themeWordCount;
  }

  // The keywords linked to the document with their ratios, in the order
  // they were inserted into MotCle.
  std::vector<std::pair<std::string, int>> keywords() {
    std::vector<std::pair<std::string, int>> rows;
    for (const Row& row :
         db().query("SELECT mot, ratio FROM MotCle JOIN CorrespMotUrl USING (idMot) JOIN Url USING "
                    "(idUrl) WHERE url = " +
                    quote(kUrl) + " ORDER BY idMot"))
      rows.emplace_back(row[0], std::stoi(row[1]));
    return rows;
  }

  int storedThemeCount() {
    return static_cast<int>(db().count("SELECT nbMotsTheme FROM Url WHERE url = " + quote(kUrl)));
  }

  std::vector<std::string> extensions() {
    std::vector<std::string> rows;
    for (const Row& row : db().query("SELECT extension FROM Extension ORDER BY extension"))
      rows.push_back(row[0]);
    return rows;
  }

  std::string messages;
  std::optional<Indexer> indexer;
  // The stop is requested from the stopAfter-th question on (never when
  // negative).
  int stopAfter = -1;
  int stopAsked = 0;
};

std::string writesName(PageWriter::Writes writes) {
  switch (writes) {
    case PageWriter::Writes::batched:
      return "batched";
    case PageWriter::Writes::pageByPage:
      return "pageByPage";
    case PageWriter::Writes::perWord:
      return "perWord";
  }
  return "";
}

INSTANTIATE_TEST_SUITE_P(Writes, PageWriterTest,
                         ::testing::Values(PageWriter::Writes::batched,
                                           PageWriter::Writes::pageByPage,
                                           PageWriter::Writes::perWord),
                         [](const auto& info) { return writesName(info.param); });

TEST_P(PageWriterTest, OffThemeDocumentRecordsOnlyItsTypeAndZero) {
  for (const auto& theme : {withThemeWords({{"moteur", 2}}),
                            withThemeWords({{"le", 1}, {"web", 0}}), withThemeWords({})}) {
    EXPECT_EQ(index(kText, theme), 0);
    EXPECT_EQ(keywords(), (std::vector<std::pair<std::string, int>>{}));
    EXPECT_EQ(storedThemeCount(), 0);
    db().execute("UPDATE Url SET nbMotsTheme = 9");
  }
  EXPECT_EQ(index("", withThemeWords({{"le", 1}}), "pdf"), 0);
  EXPECT_EQ(storedThemeCount(), 0);
  EXPECT_EQ(extensions(), (std::vector<std::string>{"html", "pdf"}));
  EXPECT_EQ(messages, "");
}

TEST_P(PageWriterTest, OnThemeDocumentRecordsEveryWordWithItsCountInByteOrder) {
  EXPECT_EQ(index(kText + " web", withThemeWords({{"le", 1}, {"web", 0}})), 1);
  EXPECT_EQ(
      keywords(),
      (std::vector<std::pair<std::string, int>>{
          {"de", 1}, {"le", 2}, {"moteur", 1}, {"moteur.", 1}, {"recherche,", 1}, {"web", 1}}));
  EXPECT_EQ(storedThemeCount(), 1);
  EXPECT_EQ(extensions(), std::vector<std::string>{"html"});
  EXPECT_EQ(messages, "");
}

// An on-theme document gets its Document row (title and display text,
// readable with UNCOMPRESS in SQL), written again when it is indexed again;
// an off-theme document gets none.
TEST_P(PageWriterTest, OnThemeDocumentKeepsItsTitleAndDisplayText) {
  const auto documentRows = [this] {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Row& row : db().query("SELECT titre, UNCOMPRESS(texte) FROM Document JOIN Url "
                                     "USING (idUrl) ORDER BY url"))
      rows.emplace_back(row[0], row[1]);
    return rows;
  };
  using Rows = std::vector<std::pair<std::string, std::string>>;
  const EngineConfig theme = withThemeWords({{"moteur", 1}});
  const std::string hostile = "Le \"moteur\" l'a <b>\\ \x01 \xe9t\xe9";
  EXPECT_EQ(indexer->index(kUrl, "html", "le web", theme, {"Hors sujet", "Le web."}).themeWordCount,
            0);
  EXPECT_EQ(documentRows(), Rows{});
  EXPECT_EQ(
      indexer->index(kUrl, "html", "le moteur", theme, {hostile, "Le moteur."}).themeWordCount, 1);
  EXPECT_EQ(documentRows(), (Rows{{hostile, "Le moteur."}}));
  // Indexed again (no title: its first words name it).
  EXPECT_EQ(indexer->index(kUrl, "html", "moteur", theme, {"", "Un moteur neuf."}).themeWordCount,
            1);
  EXPECT_EQ(documentRows(), (Rows{{"Un moteur neuf.", "Un moteur neuf."}}));
}

// A Document statement the server rejects (an index made before the table
// existed) is reported; the keywords are committed all the same.
TEST_P(PageWriterTest, MissingDocumentTableIsReportedAndTheKeywordsCommit) {
  db().execute("DROP TABLE Document");
  EXPECT_EQ(index("le moteur", withThemeWords({{"moteur", 1}})), 1);
  EXPECT_EQ(messages, "EXCEPTION Document " + kUrl + "\n");
  EXPECT_EQ(keywords(), (std::vector<std::pair<std::string, int>>{{"le", 1}, {"moteur", 1}}));
  EXPECT_EQ(storedThemeCount(), 1);
}

TEST_P(PageWriterTest, CountsPositiveThemeWordsButWritesNoOneByteOrNegativeWord) {
  // "a" and "spam" are counted words; "a" (one byte, weight 1) adds to the
  // theme count but is not written, "spam" (negative weight) neither.
  const EngineConfig theme = withThemeWords(
      {{"a", 1}, {"absent", 5}, {"spam", 4294967295u}, {"web", 3}, {"x", 2147483648u}});
  EXPECT_EQ(index("a A web spam spam x B", theme), 2);
  EXPECT_EQ(keywords(), (std::vector<std::pair<std::string, int>>{{"web", 1}}));
  EXPECT_EQ(storedThemeCount(), 2);
  EXPECT_EQ(messages, "");
}

// A word longer than the keyword column is skipped, not stored cut short
// (a cut word would have no row linking it to the page); words that the
// column's collation takes for one are counted as one.
TEST_P(PageWriterTest, SkipsWordsTooLongForTheIndexAndMergesCollationEquals) {
  const std::string longest(kMaxKeywordBytes, 'x');
  const std::string tooLong(kMaxKeywordBytes + 1, 'y');
  EXPECT_EQ(index("le " + longest + " " + tooLong + " \xc9T\xc9 \xe9t\xe9 \xc9t\xe9",
                  withThemeWords({{"le", 1}})),
            1);
  EXPECT_EQ(keywords(),
            (std::vector<std::pair<std::string, int>>{{"le", 1}, {longest, 1}, {"\xe9t\xe9", 3}}));
  EXPECT_EQ(messages, "");
}

TEST_P(PageWriterTest, StoresWordsWithQuotesAndBackslashesAsThemselves) {
  const std::string text = "say\"hi end\\ c'est back\\slash \"\" le";
  EXPECT_EQ(index(text, withThemeWords({{"le", 1}})), 1);
  EXPECT_EQ(
      keywords(),
      (std::vector<std::pair<std::string, int>>{
          {"\"\"", 1}, {"back\\slash", 1}, {"c'est", 1}, {"end\\", 1}, {"le", 1}, {"say\"hi", 1}}));
  EXPECT_EQ(messages, "");
}

TEST_P(PageWriterTest, ReportsRejectedStatementsAndGoesOn) {
  const EngineConfig theme = withThemeWords({{"le", 1}});
  EXPECT_EQ(index("le le de", theme), 1);
  ASSERT_EQ(messages, "");

  // Indexed again: every link row exists already.
  EXPECT_EQ(index("le le de", theme), 1);
  EXPECT_EQ(messages, "EXCEPTION CorrespMotUrlde " + kUrl + " 1\n" + linkStatement("de", 1, kUrl) +
                          "\nEXCEPTION CorrespMotUrlle " + kUrl + " 2\n" +
                          linkStatement("le", 2, kUrl) + "\n");
  EXPECT_EQ(keywords(), (std::vector<std::pair<std::string, int>>{{"de", 1}, {"le", 2}}));

  messages.clear();
  db().execute("DROP TABLE Extension");
  db().execute("DROP TABLE MotCle");
  db().execute("UPDATE Url SET nbMotsTheme = 9");
  EXPECT_EQ(index("le", theme, "ps"), 1);
  EXPECT_EQ(messages, "EXCEPTION extension ps\nEXCEPTION MotCle le\nEXCEPTION CorrespMotUrlle " +
                          kUrl + " 1\n" + linkStatement("le", 1, kUrl) + "\n");
  EXPECT_EQ(storedThemeCount(), 1);
}

// The writer records the fetched URL itself: a page new to Url gets its
// row, visited, and leaves UrlInvalide; its rows are linked to that row.
TEST_P(PageWriterTest, APageNewToTheIndexGetsItsRowAndLeavesTheInvalidUrls) {
  const std::string url = "http://srv/new.html";
  markInvalid(db(), url, "depth limit");
  const IndexedDocument indexed = indexer->index(url, "html", "le le", withThemeWords({{"le", 1}}));
  EXPECT_EQ(indexed.messages, "");
  EXPECT_EQ(
      db().count("SELECT COUNT(*) FROM Url WHERE lastVisit IS NOT NULL AND url = " + quote(url)),
      1u);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM UrlInvalide"), 0u);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM UrlInvalideRaison"), 0u);
  EXPECT_EQ(db().count("SELECT ratio FROM CorrespMotUrl JOIN Url USING (idUrl) WHERE url = " +
                       quote(url)),
            2u);
  EXPECT_EQ(messages, "");
}

TEST_P(PageWriterTest, RejectedThemeCountUpdateReachesTheCaller) {
  db().execute("DROP TABLE Url");
  EXPECT_THROW(static_cast<void>(indexer->index(kUrl, "html", "le", withThemeWords({{"le", 1}}))),
               MysqlBadQuery);
  // The connection is still usable afterwards.
  db().execute("INSERT INTO Extension VALUES (\"x\")");
}

// A statement failing in the middle of a document leaves none of its rows:
// the theme-count update at its end, a link row refused as a deadlock
// victim (which ends the transaction), and the same after a batch that the
// per-word statements replaced.
TEST_P(PageWriterTest, ADocumentIsAllOrNothing) {
  const EngineConfig theme = withThemeWords({{"le", 1}});
  const std::string failures[] = {
      "CREATE TRIGGER fail BEFORE UPDATE ON Url FOR EACH ROW "
      "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'",
      "CREATE TRIGGER fail BEFORE INSERT ON CorrespMotUrl FOR EACH ROW "
      "SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213, MESSAGE_TEXT = 'deadlock'",
      "CREATE TRIGGER fail BEFORE INSERT ON CorrespMotUrl FOR EACH ROW "
      "IF NEW.ratio = 2 THEN SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213, "
      "MESSAGE_TEXT = 'deadlock'; END IF",
  };
  for (const std::string& failure : failures) {
    db().execute(failure);
    EXPECT_THROW(static_cast<void>(index("le le de du \xe9t\xe9 \xc9T\xc9", theme, "pdf")),
                 MysqlBadQuery)
        << failure;
    EXPECT_EQ(extensions(), std::vector<std::string>{}) << failure;
    EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 0u) << failure;
    EXPECT_EQ(db().count("SELECT COUNT(*) FROM CorrespMotUrl"), 0u) << failure;
    EXPECT_EQ(storedThemeCount(), 9) << failure;
    db().execute("DROP TRIGGER fail");
  }
  // Nothing of the rolled-back documents is remembered: the words are
  // written afresh, with links to their own rows.
  EXPECT_EQ(index("le le de", theme), 1);
  EXPECT_EQ(keywords(), (std::vector<std::pair<std::string, int>>{{"de", 1}, {"le", 2}}));
  EXPECT_EQ(messages, "");
}

// A row the server refuses is reported and the rest of the document is
// committed.
TEST_P(PageWriterTest, ARefusedRowIsReportedAndTheDocumentCommits) {
  db().execute(
      "CREATE TRIGGER refuse BEFORE INSERT ON CorrespMotUrl FOR EACH ROW "
      "IF NEW.ratio = 2 THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  EXPECT_EQ(index("le le de du", withThemeWords({{"le", 1}})), 1);
  EXPECT_EQ(messages,
            "EXCEPTION CorrespMotUrlle " + kUrl + " 2\n" + linkStatement("le", 2, kUrl) + "\n");
  EXPECT_EQ(keywords(), (std::vector<std::pair<std::string, int>>{{"de", 1}, {"du", 1}}));
  EXPECT_EQ(storedThemeCount(), 1);
}

// The stop is asked before each word's statements (per word) and before the
// commit; a stop at any of these leaves nothing of the document.
TEST_P(PageWriterTest, AStopRollsTheDocumentBack) {
  std::vector<int> stops = {0};
  if (GetParam() == PageWriter::Writes::perWord) stops.push_back(2);  // two words written
  for (int stop : stops) {
    stopAfter = stop;
    stopAsked = 0;
    const IndexedDocument indexed =
        indexer->index(kUrl, "html", "le le de du un", withThemeWords({{"le", 1}}));
    EXPECT_TRUE(indexed.stopped) << "stopped at question " << stop;
    EXPECT_EQ(extensions(), std::vector<std::string>{}) << "stopped at question " << stop;
    EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 0u) << "stopped at question " << stop;
    EXPECT_EQ(storedThemeCount(), 9) << "stopped at question " << stop;
  }
}

// An on-theme record of the theme word "abeille" and the display text.
PageRecord beeRecord(const std::string& displayText,
                     std::optional<std::string> canonicalUrl = std::nullopt) {
  KeywordSelection selection =
      selectKeywords("abeille " + displayText, withThemeWords({{"abeille", 1}}));
  RankingSignals ranking;
  ranking.wordCount = selection.wordCount;
  return PageRecord{"html",
                    std::move(selection.keywords),
                    selection.themeWordCount,
                    makeDocumentRecord("Titre", displayText),
                    ranking,
                    PageValidators{"\"" + displayText + "\"", ""},
                    std::move(canonicalUrl)};
}

// What the index holds of a URL: its Url row (theme count, visited or
// not), whether it is invalid (UrlInvalide, UrlInvalideRaison), and its
// counts of keyword, Document and DocumentMesure rows.
std::string pageState(IndexConnection& db, const std::string& url) {
  const std::string id = "(SELECT idUrl FROM Url WHERE url = " + quote(url) + ")";
  std::string state = "absent";
  for (const Row& row :
       db.query("SELECT nbMotsTheme, lastVisit IS NOT NULL FROM Url WHERE url = " + quote(url)))
    state = "Url " + row.at(0) + (row.at(1) == "1" ? " visited" : " unvisited");
  if (db.count("SELECT COUNT(*) FROM UrlInvalide WHERE url = " + quote(url)) +
          db.count("SELECT COUNT(*) FROM UrlInvalideRaison WHERE url = " + quote(url)) !=
      0)
    state += " invalid";
  for (const char* table : {"CorrespMotUrl", "Document", "DocumentMesure"})
    state += std::string(" ") + table + " " +
             std::to_string(
                 db.count(std::string("SELECT COUNT(*) FROM ") + table + " WHERE idUrl = " + id));
  return state;
}

const std::string kCanonical = "http://srv/canon.html";
const std::string kVisitOnly = "Url 0 visited CorrespMotUrl 0 Document 0 DocumentMesure 0";

// A record with a canonical URL goes under it, in the same transaction:
// the URL leaves UrlInvalide, what it held is replaced (a second page
// naming it, a page fetched there itself), validators included, and the
// fetched URL keeps its visit only, losing on a refresh what it held (its
// same text is no duplicate of itself).
TEST_P(PageWriterTest, CanonicalRecordGoesUnderItsUrlAndTheFetchedUrlIsVisited) {
  markInvalid(db(), kCanonical, "depth limit");
  PageWriter writer(db(), nullptr, GetParam());
  const auto write = [&](const std::string& url, const PageRecord& record, bool replacing) {
    const PageWriteResult written = writer.write(url, record, replacing);
    EXPECT_EQ(written.duplicateOf, std::nullopt) << url;
    EXPECT_EQ(written.messages, "") << url;
  };
  write(kUrl, beeRecord("miel et cire"), false);
  EXPECT_EQ(pageState(db(), kUrl), "Url 1 visited CorrespMotUrl 4 Document 1 DocumentMesure 1");

  EXPECT_EQ(readValidators(db(), kUrl).etag, "\"miel et cire\"");

  write(kUrl, beeRecord("miel et cire", kCanonical), true);
  EXPECT_EQ(pageState(db(), kUrl), kVisitOnly);
  EXPECT_EQ(pageState(db(), kCanonical),
            "Url 1 visited CorrespMotUrl 4 Document 1 DocumentMesure 1");
  EXPECT_TRUE(readValidators(db(), kUrl).empty());
  EXPECT_TRUE(readValidators(db(), kCanonical).empty());

  const std::string print = "http://srv/print.html";
  db().execute("INSERT INTO Url (url) VALUES (" + quote(print) + ")");
  write(print, beeRecord("ruche", kCanonical), false);
  EXPECT_EQ(pageState(db(), print), kVisitOnly);
  EXPECT_EQ(pageState(db(), kCanonical),
            "Url 1 visited CorrespMotUrl 2 Document 1 DocumentMesure 1");
  write(kCanonical, beeRecord("essaim"), true);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM CorrespMotUrl c JOIN MotCle m USING (idMot) "
                       "WHERE m.mot IN ('ruche', 'miel')"),
            0u);
  EXPECT_EQ(pageState(db(), kCanonical),
            "Url 1 visited CorrespMotUrl 2 Document 1 DocumentMesure 1");
  EXPECT_EQ(readValidators(db(), kCanonical).etag, "\"essaim\"");
  write(print, beeRecord("ruche", kCanonical), true);
  EXPECT_TRUE(readValidators(db(), kCanonical).empty());
  EXPECT_TRUE(readValidators(db(), print).empty());
}

// A record whose whole display text is that of another page's Document row
// is not written: the fetched URL keeps its visit only (losing on a
// refresh what it held) and the result names the other page, whether the
// record was for its own URL or a canonical one. The page itself, written
// again, and texts that are empty, are no duplicates.
TEST_P(PageWriterTest, RepeatedTextIsIndexedOnce) {
  PageWriter writer(db(), nullptr, GetParam());
  const std::string copy = "http://srv/copy.html";
  db().execute("INSERT INTO Url (url) VALUES (" + quote(copy) + ")");
  const auto duplicateOf = [&](const std::string& url, const PageRecord& record, bool replacing) {
    const PageWriteResult written = writer.write(url, record, replacing);
    EXPECT_EQ(written.messages, "") << url;
    return written.duplicateOf.value_or("(none)");
  };
  const std::string indexed = "Url 1 visited CorrespMotUrl 3 Document 1 DocumentMesure 1";
  EXPECT_EQ(duplicateOf(kUrl, beeRecord("le rucher"), false), "(none)");
  EXPECT_EQ(duplicateOf(copy, beeRecord("le rucher"), false), kUrl);
  EXPECT_EQ(pageState(db(), copy), kVisitOnly);
  EXPECT_EQ(pageState(db(), kUrl), indexed);
  EXPECT_EQ(duplicateOf(kUrl, beeRecord("le rucher"), true), "(none)");
  EXPECT_EQ(pageState(db(), kUrl), indexed);

  EXPECT_EQ(duplicateOf(copy, beeRecord("un autre rucher"), true), "(none)");
  EXPECT_EQ(pageState(db(), copy), "Url 1 visited CorrespMotUrl 4 Document 1 DocumentMesure 1");
  EXPECT_EQ(duplicateOf(copy, beeRecord("le rucher"), true), kUrl);
  EXPECT_EQ(pageState(db(), copy), kVisitOnly);
  EXPECT_EQ(duplicateOf(copy, beeRecord("le rucher", kCanonical), true), kUrl);
  EXPECT_EQ(pageState(db(), kCanonical), "absent CorrespMotUrl 0 Document 0 DocumentMesure 0");

  EXPECT_EQ(duplicateOf(kUrl, beeRecord(""), true), "(none)");
  EXPECT_EQ(duplicateOf(copy, beeRecord(""), true), "(none)");
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM Document WHERE empreinte IS NULL"), 2u);
}

// A group of pages is one transaction with a savepoint a page: a page the
// server refuses loses its rows only (the keyword ids it inserted are not
// used by the pages after it), the same text twice in a group is indexed
// once, and a deadlock or a stop leaves nothing of the group.
TEST_P(PageWriterTest, AGroupIsWrittenTogetherAndARefusedPageCostsItselfOnly) {
  const std::string urls[] = {"http://srv/g1.html", "http://srv/g2.html", "http://srv/g3.html",
                              "http://srv/g4.html"};
  const PageRecord records[] = {beeRecord("le rucher"), beeRecord("propolis seule"),
                                beeRecord("la propolis"), beeRecord("le rucher")};
  std::vector<PageToWrite> group;
  for (int i = 0; i < 4; ++i) group.push_back(PageToWrite{urls[i], &records[i], false});
  db().execute(
      "CREATE TRIGGER refuse BEFORE UPDATE ON Url FOR EACH ROW IF NEW.url = "
      "'http://srv/g2.html' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  {
    PageWriter writer(db(), nullptr, GetParam());
    const std::vector<PageWriteResult> results = writer.writeGroup(group);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[1].failure.value_or(""), "refused");
    EXPECT_FALSE(results[0].failure || results[2].failure || results[3].failure);
    EXPECT_EQ(results[3].duplicateOf.value_or("(none)"), urls[0]);
    EXPECT_EQ(pageState(db(), urls[0]),
              "Url 1 visited CorrespMotUrl 3 Document 1 DocumentMesure 1");
    EXPECT_EQ(pageState(db(), urls[1]), "absent CorrespMotUrl 0 Document 0 DocumentMesure 0");
    EXPECT_EQ(pageState(db(), urls[3]), kVisitOnly);
    // Every link row of the third page names a keyword of the index.
    EXPECT_EQ(db().count("SELECT COUNT(*) FROM CorrespMotUrl c JOIN Url u USING (idUrl) JOIN "
                         "MotCle m USING (idMot) WHERE u.url = " +
                         quote(urls[2])),
              3u);
    EXPECT_EQ(pageState(db(), urls[2]),
              "Url 1 visited CorrespMotUrl 3 Document 1 DocumentMesure 1");
  }
  db().execute("DROP TRIGGER refuse");
  resetDatabase(TEST_DB_NAME);
  db().execute(
      "CREATE TRIGGER fail BEFORE INSERT ON CorrespMotUrl FOR EACH ROW IF NEW.ratio = 2 THEN "
      "SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213, MESSAGE_TEXT = 'deadlock'; END IF");
  const PageRecord twice = beeRecord("miel miel");
  group.push_back(PageToWrite{"http://srv/g5.html", &twice, false});
  {
    PageWriter writer(db(), nullptr, GetParam());
    EXPECT_THROW(static_cast<void>(writer.writeGroup(group)), MysqlBadQuery);
    EXPECT_EQ(db().count("SELECT COUNT(*) FROM Url"), 0u);
  }
  db().execute("DROP TRIGGER fail");
  int asked = 0;
  PageWriter stopping(
      db(), [&asked] { return ++asked > 3; }, GetParam());
  const std::vector<PageWriteResult> stopped = stopping.writeGroup(group);
  EXPECT_TRUE(std::all_of(stopped.begin(), stopped.end(), [](const auto& r) { return r.stopped; }));
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM Url"), 0u);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM MotCle"), 0u);
}

// The document's rows as sorted lines: its Url row, keywords with counts,
// and the document kinds; keywords compared as the index compares them.
std::vector<std::string> indexRows(IndexConnection& db) {
  std::vector<std::string> lines;
  const char* statements[] = {
      "SELECT CONCAT('Url ', url, ' ', nbMotsTheme) FROM Url",
      "SELECT CONCAT('MotCle ', mot) FROM MotCle",
      "SELECT CONCAT('CorrespMotUrl ', u.url, ' ', m.mot, ' ', c.ratio) FROM CorrespMotUrl c "
      "JOIN MotCle m USING (idMot) JOIN Url u USING (idUrl)",
      "SELECT CONCAT('Extension ', extension) FROM Extension",
  };
  for (const char* statement : statements)
    for (const Row& row : db.query(statement)) lines.push_back(row.at(0));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The batched statements and the per-word statements, given the same
// documents one after the other, leave the same rows and messages: hostile
// words (quotes, backslashes, a word of 255 bytes and one of 300 that the
// column could not hold), accented capitals that the keyword column takes
// for one word, words that earlier documents wrote, a document indexed twice, a
// document missing from Url and an off-theme one.
TEST(KeywordBatches, GiveTheRowsAndMessagesOfThePerWordStatements) {
  const std::string hostile = "say\"hi end\\ c'est back\\slash \"\" \\\" it's " +
                              std::string(255, 'x') + " " + std::string(300, 'y') + " " +
                              std::string(254, 'y') + "\\ \xe9t\xe9 \xc9t\xe9 \xc9T\xc9 le le";
  const struct {
    std::string url, text;
  } documents[] = {
      {"http://srv/a", hostile},
      {"http://srv/b", "le de \xc9T\xc9 say\"hi nouveau " + std::string(300, 'y')},
      {"http://srv/a", hostile},
      {"http://srv/missing", "le mot"},
      {"http://srv/c", "rien ici"},
      {"http://srv/c", "le " + std::string(255, 'x')},
  };
  const EngineConfig theme = withThemeWords({{"le", 1}, {"say\"hi", 2}});
  std::vector<std::string> rows[2], messages[2];
  for (const auto writes : {PageWriter::Writes::perWord, PageWriter::Writes::batched}) {
    const int run = writes == PageWriter::Writes::batched;
    resetDatabase(TEST_DB_NAME);
    IndexConnection db(testSettings());
    for (const char* url : {"http://srv/a", "http://srv/b", "http://srv/c"})
      db.execute("INSERT INTO Url (url) VALUES (" + quote(url) + ")");
    Indexer indexer(db, nullptr, writes);
    for (const auto& document : documents) {
      const IndexedDocument indexed = indexer.index(document.url, "html", document.text, theme);
      messages[run].push_back(std::to_string(indexed.themeWordCount) + " " + indexed.messages);
    }
    rows[run] = indexRows(db);
  }
  EXPECT_EQ(rows[1], rows[0]);
  EXPECT_EQ(messages[1], messages[0]);
  // The documents gave rows and messages worth comparing.
  EXPECT_GT(rows[0].size(), 30u);
  EXPECT_NE(messages[0][2], "1 ");  // a document indexed twice
}

// A document too large for one statement goes in several.
TEST(KeywordBatches, LargeDocumentTakesSeveralStatements) {
  resetDatabase(TEST_DB_NAME);
  IndexConnection db(testSettings());
  db.execute("INSERT INTO Url (url) VALUES (\"http://srv/big\")");
  std::string text = "le";
  const unsigned words = 120000;  // about 1.9 MB of keyword rows
  for (unsigned n = 0; n < words; ++n) text += " mot" + std::to_string(n);
  Indexer indexer(db);
  const IndexedDocument indexed =
      indexer.index("http://srv/big", "html", text, withThemeWords({{"le", 1}}));
  EXPECT_EQ(indexed.messages, "");
  EXPECT_EQ(db.count("SELECT COUNT(*) FROM MotCle"), words + 1);
  EXPECT_EQ(db.count("SELECT COUNT(*) FROM CorrespMotUrl"), words + 1);
}

}  // namespace

namespace {

// A page indexed again (a refresh) keeps only its new words, its new theme
// count and a new visit time; a visit without indexing clears what an
// earlier visit wrote. The first visit is what sets lastVisit.
TEST_P(PageWriterTest, ARevisitReplacesThePagesRowsAndSetsItsVisit) {
  const EngineConfig config = withThemeWords({{"moteur", 1}, {"recherche", 1}});
  const auto visited = [this] {
    return db().count("SELECT COUNT(*) FROM Url WHERE lastVisit IS NOT NULL AND url = " +
                      quote(kUrl));
  };
  ASSERT_EQ(visited(), 0u);
  EXPECT_EQ(index("le moteur de recherche", config), 2);
  EXPECT_EQ(visited(), 1u);
  db().execute("UPDATE Url SET lastVisit = NOW() - INTERVAL 3 DAY");

  const IndexedDocument again =
      indexer->index(kUrl, "html", "un moteur neuf moteur", config, {}, /*replacing=*/true);
  EXPECT_EQ(again.themeWordCount, 1);
  EXPECT_EQ(keywords(),
            (std::vector<std::pair<std::string, int>>{{"moteur", 2}, {"neuf", 1}, {"un", 1}}));
  EXPECT_EQ(storedThemeCount(), 1);
  EXPECT_EQ(db().count("SELECT COUNT(*) FROM Url WHERE lastVisit > NOW() - INTERVAL 1 DAY"), 1u);
  EXPECT_EQ(messages + again.messages, "");

  indexer->recordVisit(kUrl, /*replacing=*/true);
  EXPECT_TRUE(keywords().empty());
  EXPECT_EQ(storedThemeCount(), 0);
}

// An on-theme page gets its ranking rows, field words matched to their
// keywords; indexed again they are replaced, and a page now off theme, or
// only visited, keeps none. An index made before the ranking tables still
// takes the page, with a message.
TEST_P(PageWriterTest, RankingRowsFollowThePageAndOldIndexesGoOn) {
  const auto rows = [this] {
    std::vector<std::string> found;
    for (const Row& row : db().query("SELECT nbMots, nbMotsTitre, nbMotsChemin, langue FROM "
                                     "DocumentMesure"))
      found.push_back(row[0] + " " + row[1] + " " + row[2] + " " + row[3]);
    for (const Row& row : db().query("SELECT M.mot, F.champ, F.nb FROM MotChamp F JOIN MotCle M "
                                     "USING (idMot) ORDER BY F.champ, M.mot"))
      found.push_back(row[0] + " " + row[1] + " " + row[2]);
    return found;
  };
  PageWriter writer(db(), nullptr, GetParam());
  PageRecord record{
      "html", {{"moteur", 3}, {"recherche", 1}, {"web", 2}}, 2, DocumentRecord{}, {}, {}, {}};
  RankingSignals signals;
  signals.wordCount = 6;
  signals.fieldLengths = {{PageField::title, 3}, {PageField::urlPath, 2}};
  signals.fieldWords = {{PageField::title, {{"Moteur", 1}, {"web", 1}}},
                        {PageField::urlPath, {{"recherche", 2}}}};
  signals.language = "fr";
  record.ranking = signals;
  EXPECT_EQ(writer.write(kUrl, record).messages, "");
  EXPECT_EQ(rows(),
            (std::vector<std::string>{"6 3 2 fr", "moteur 1 1", "web 1 1", "recherche 3 2"}));

  record.ranking->fieldWords.erase(PageField::urlPath);
  record.ranking->wordCount = 9;
  EXPECT_EQ(writer.write(kUrl, record, /*replacing=*/true).messages, "");
  EXPECT_EQ(rows(), (std::vector<std::string>{"9 3 2 fr", "moteur 1 1", "web 1 1"}));

  PageRecord offTheme{"html", {}, 0, std::nullopt, std::nullopt, {}, std::nullopt};
  EXPECT_EQ(writer.write(kUrl, offTheme, /*replacing=*/true).messages, "");
  EXPECT_EQ(rows(), std::vector<std::string>{});
  EXPECT_EQ(writer.write(kUrl, record, /*replacing=*/true).messages, "");
  EXPECT_EQ(writer.write(kUrl, PageRecord{}, /*replacing=*/true).messages, "");
  EXPECT_EQ(rows(), std::vector<std::string>{});

  db().execute("DROP TABLE MotChamp");
  db().execute("DROP TABLE DocumentMesure");
  const PageWriteResult old = writer.write(kUrl, record, /*replacing=*/true);
  EXPECT_EQ(old.messages, "EXCEPTION MotChamp " + kUrl + "\nEXCEPTION DocumentMesure " + kUrl +
                              "\nEXCEPTION MotChamp " + kUrl + "\n");
  EXPECT_EQ(storedThemeCount(), 2);
  EXPECT_NO_THROW(writer.write(kUrl, PageRecord{}, /*replacing=*/true));
}

// Everything the index holds, as sorted lines that name pages by URL and
// keywords by word, so that indexes whose ids differ compare equal.
std::vector<std::string> wholeIndex(IndexConnection& db) {
  std::vector<std::string> lines;
  const char* statements[] = {
      "SELECT CONCAT_WS(' ', 'Url', BINARY url, nbMotsTheme, lastVisit IS NOT NULL) FROM Url",
      "SELECT CONCAT('UrlInvalide ', BINARY url) FROM UrlInvalide",
      "SELECT CONCAT_WS(' ', 'UrlInvalideRaison', BINARY url, BINARY raison) FROM "
      "UrlInvalideRaison",
      "SELECT CONCAT('MotCle ', BINARY mot) FROM MotCle",
      "SELECT CONCAT_WS(' ', 'CorrespMotUrl', BINARY u.url, BINARY m.mot, c.ratio) FROM "
      "CorrespMotUrl c "
      "JOIN MotCle m USING (idMot) JOIN Url u USING (idUrl)",
      "SELECT CONCAT('Extension ', BINARY extension) FROM Extension",
      "SELECT CONCAT_WS(' ', 'Document', BINARY u.url, BINARY d.titre, HEX(d.texte), "
      "IFNULL(d.empreinte, "
      "'none')) FROM Document d JOIN Url u USING (idUrl)",
      "SELECT CONCAT_WS(' ', 'DocumentMesure', BINARY u.url, nbMots, nbMotsTitre, "
      "nbMotsIntertitres, "
      "nbMotsChemin, nbMotsDescription, BINARY langue) FROM DocumentMesure JOIN Url u USING "
      "(idUrl)",
      "SELECT CONCAT_WS(' ', 'MotChamp', BINARY u.url, BINARY m.mot, f.champ, f.nb) FROM MotChamp "
      "f JOIN "
      "MotCle m USING (idMot) JOIN Url u USING (idUrl)",
      "SELECT CONCAT_WS(' ', 'UrlValidateurs', BINARY u.url, BINARY etag, BINARY lastModified) "
      "FROM UrlValidateurs "
      "JOIN Url u USING (idUrl)",
  };
  for (const char* statement : statements)
    for (const Row& row : db.query(statement)) lines.push_back(row.at(0));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Groups written together leave the index and the results that the same
// groups leave written page by page: random groups of new pages (on and
// off theme, visited only, repeating each other's texts or those of pages
// indexed before, with and without validators and field words, on URLs
// known unvisited or invalid before) mixed with groups that only go page by
// page (a refresh, a canonical URL, a URL twice). A group of new pages
// takes a few statements, whatever its size.
TEST(PageGroups, WrittenTogetherLeaveTheRowsOfPageByPage) {
  const std::vector<std::string> vocabulary = {"abeille",
                                               "miel",
                                               "cire",
                                               "ruche",
                                               "essaim",
                                               "say\"hi",
                                               "back\\slash",
                                               "\xe9t\xe9",
                                               "\xc9t\xe9",
                                               "pollen",
                                               "reine",
                                               "faux-bourdon",
                                               "propolis",
                                               "gel\xe9"
                                               "e",
                                               "rucher",
                                               "nectar"};
  const std::vector<std::string> texts = {"", "le rucher", "la ruche", "le miel", "la cire"};
  for (unsigned seed = 1; seed <= 6; ++seed) {
    // The groups of this seed, their records kept alive for the writes.
    std::mt19937 random(seed);
    const auto chance = [&random](unsigned percent) { return random() % 100 < percent; };
    std::vector<PageRecord> records;
    std::vector<std::vector<std::pair<std::string, bool>>> groups;  // URL, replacing
    std::vector<std::string> written;
    records.reserve(400);
    unsigned nextUrl = 0;
    for (unsigned g = 0; g < 8; ++g) {
      auto& group = groups.emplace_back();
      const unsigned size = 10 + random() % 15;
      for (unsigned i = 0; i < size; ++i) {
        PageRecord record;
        record.documentType = chance(90) ? "html" : "";
        if (!record.documentType.empty() && chance(70)) {
          for (const std::string& word : vocabulary)
            if (chance(40)) record.keywords[word] = 1 + random() % 4;
          record.keywords["abeille"] = 1;
          // Two spellings of one keyword on one page are refused together
          // (then written page by page); only the groups that go page by
          // page anyway have them.
          if (g % 3 != 2 && record.keywords.count("\xe9t\xe9") != 0)
            record.keywords.erase("\xc9t\xe9");
          record.themeWordCount = 1 + random() % 3;
          record.document =
              makeDocumentRecord("Titre " + std::to_string(i), texts[random() % texts.size()]);
          RankingSignals ranking;
          ranking.wordCount = static_cast<unsigned>(record.keywords.size());
          ranking.language = chance(50) ? "fr" : "";
          for (const auto& [word, count] : record.keywords)
            if (chance(20)) ranking.fieldWords[PageField::title][word] = count;
          ranking.fieldLengths[PageField::title] = 3;
          record.ranking = ranking;
        } else if (!record.documentType.empty()) {
          record.documentType = chance(20) ? "pdf" : "html";
        }
        if (chance(60)) record.validators = PageValidators{"\"v" + std::to_string(i) + "\"", ""};
        if (g % 3 == 2 && chance(10))
          record.canonicalUrl = "http://srv/p" + std::to_string(random() % (nextUrl + 1));
        records.push_back(std::move(record));
        // Mostly new URLs; in every third group some written before (a
        // refresh) or twice.
        std::string url = "http://srv/p" + std::to_string(nextUrl++);
        bool replacing = false;
        if (g % 3 == 2 && chance(20) && !written.empty()) {
          url = written[random() % written.size()];
          replacing = true;
        }
        group.emplace_back(url, replacing);
        written.push_back(url);
      }
    }
    std::vector<std::string> index[2], results[2];
    for (const auto writes : {PageWriter::Writes::pageByPage, PageWriter::Writes::batched}) {
      const int run = writes == PageWriter::Writes::batched;
      resetDatabase(TEST_DB_NAME);
      IndexConnection db(testSettings());
      // Known before: pages found as links (unvisited), invalid URLs, and
      // an indexed page whose text some pages repeat.
      for (unsigned i = 0; i < nextUrl; i += 7) {
        const std::string url = "http://srv/p" + std::to_string(i);
        db.execute("INSERT INTO Url (url) VALUES (" + quote(url) + ")");
        markInvalid(db, "http://srv/p" + std::to_string(i + 3), "status 404");
      }
      PageWriter writer(db, nullptr, writes);
      ASSERT_EQ(writer.write("http://srv/old", beeRecord("le miel")).messages, "");
      std::size_t recordAt = 0;
      for (const auto& group : groups) {
        std::vector<PageToWrite> pages;
        bool together = true;
        std::set<std::string> urls;
        for (const auto& [url, replacing] : group) {
          pages.push_back(PageToWrite{url, &records[recordAt++], replacing});
          together = together && !replacing && !pages.back().record->canonicalUrl &&
                     urls.insert(url).second;
        }
        const auto questions = [&db] {
          return db.count(
              "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS WHERE "
              "VARIABLE_NAME = 'QUESTIONS'");
        };
        const std::uint64_t before = questions();
        for (const PageWriteResult& result : writer.writeGroup(pages))
          results[run].push_back(result.duplicateOf.value_or("-") + " " +
                                 result.failure.value_or("-") + " " + result.messages +
                                 (result.stopped ? " stopped" : ""));
        if (run == 1 && together) {
          EXPECT_LE(questions() - before, 24u) << "seed " << seed;
        }
      }
      index[run] = wholeIndex(db);
      EXPECT_EQ(keywordBlockFaults(db), std::vector<std::string>{}) << "seed " << seed;
    }
    std::vector<std::string> onlyTogether, onlyPageByPage;
    std::set_difference(index[1].begin(), index[1].end(), index[0].begin(), index[0].end(),
                        std::back_inserter(onlyTogether));
    std::set_difference(index[0].begin(), index[0].end(), index[1].begin(), index[1].end(),
                        std::back_inserter(onlyPageByPage));
    EXPECT_EQ(onlyTogether, onlyPageByPage) << "seed " << seed;
    EXPECT_EQ(results[1], results[0]) << "seed " << seed;
    // The groups gave duplicates and rows worth comparing.
    EXPECT_GT(std::count_if(results[0].begin(), results[0].end(),
                            [](const std::string& r) { return r.front() != '-'; }),
              3);
    EXPECT_GT(index[0].size(), 200u);
  }
}

}  // namespace
