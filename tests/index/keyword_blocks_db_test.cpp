#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "index/page_writer.h"
#include "test_database.h"

namespace {

using namespace theme_search;

// A page holding words every writer's pages share, words of its group and
// a word of its own; `version` changes the counts and one shared word, so
// a page written again holds other rows.
PageRecord pageRecord(int writer, int page, int version) {
  PageRecord record;
  record.documentType = "html";
  record.keywords = {{"miel", static_cast<unsigned>(1 + page % 4 + version)},
                     {"cire", 2},
                     {version == 0 ? "ruche" : "essaim", 1},
                     {"groupe" + std::to_string(page / 6), 1},
                     {"w" + std::to_string(writer) + "p" + std::to_string(page), 3}};
  record.themeWordCount = 1;
  return record;
}

// Two writers (two crawlers on one index) write groups of pages at the same
// time, each in transactions that pick their own part of the blocks, and
// then write half of their pages again with other words: the blocks stay
// those of the keyword rows, whatever the transactions met of each other.
TEST(KeywordBlocks, TwoWritersAtOnceKeepThemThoseOfTheRows) {
  resetDatabase();
  std::atomic<int> failures{0};
  const auto writeAll = [&failures](int writer) {
    try {
      IndexConnection connection(testSettings());
      PageWriter pages(connection);
      for (int round = 0; round < 2; ++round)
        for (int group = round; group < 12; group += round + 1) {
          std::vector<PageRecord> records;
          for (int i = 0; i < 6; ++i) records.push_back(pageRecord(writer, group * 6 + i, round));
          std::vector<PageToWrite> batch;
          for (int i = 0; i < 6; ++i)
            batch.push_back(PageToWrite{
                "http://w" + std::to_string(writer) + "/p" + std::to_string(group * 6 + i),
                &records[i], round == 1});
          // A deadlock between the two writers rolls a group back: the
          // crawler writes it again, and so does this test.
          for (int attempt = 0;; ++attempt) {
            try {
              static_cast<void>(pages.writeGroup(batch));
              break;
            } catch (const MysqlBadQuery&) {
              if (attempt == 5) throw;
            }
          }
        }
    } catch (const std::exception&) {
      ++failures;
    }
  };
  std::thread first(writeAll, 0), second(writeAll, 1);
  first.join();
  second.join();
  EXPECT_EQ(failures, 0);
  IndexConnection db(testSettings());
  EXPECT_EQ(db.count("SELECT COUNT(*) FROM CorrespMotUrl"), 2u * 72u * 5u);
  EXPECT_EQ(db.count("SELECT COUNT(*) FROM CorrespMotUrl c JOIN MotCle m USING (idMot) WHERE "
                     "m.mot = 'essaim'"),
            2u * 6u * 6u);
  EXPECT_EQ(keywordBlockFaults(db), std::vector<std::string>{});
}

}  // namespace
