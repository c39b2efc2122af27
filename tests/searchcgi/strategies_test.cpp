#include "searchcgi/strategies.h"

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

TEST(Strategies, LimitClauseIsSemicolonWithoutWindow) {
  EXPECT_EQ(limitClause(0, 0), ";");
  EXPECT_EQ(limitClause(0, 15), "LIMIT 0 , 15;");
  EXPECT_EQ(limitClause(15, 15), "LIMIT 15 , 15;");
}

TEST(Strategies, StatementTextsForEachStrategy) {
  EXPECT_EQ(singleWordSearch("chat") + limitClause(0, 15),
            "select U.url, C.ratio, count(*) over () as total from Url U, CorrespMotUrl C, MotCle "
            "M where  M.mot in ('chat') and C.idMot=M.idMot and C.idUrl=U.idUrl  order by C.ratio "
            "desc, U.nbMotsTheme desc, U.url LIMIT 0 , 15;");
  EXPECT_EQ(conjunctiveSearch({"chat", "chien"}) + limitClause(0, 0),
            "select U.url, sum(C.ratio) as ratio , count(M.mot) as nb, count(*) over () as total "
            "from Url U, CorrespMotUrl C, MotCle M where C.idUrl=U.idUrl and C.idMot=M.idMot and "
            "M.mot in ('chat','chien') group by U.idUrl having nb > 1 order by nb desc, ratio "
            "desc, U.nbMotsTheme desc, U.url ;");
  EXPECT_EQ(exclusionSearch({"chat"}, {"souris", "rat"}) + limitClause(15, 15),
            "select U.url, sum(C.ratio) as ratio , count(M.mot) as nb, count(*) over () as total "
            "from Url U, CorrespMotUrl C, MotCle M where C.idUrl=U.idUrl and C.idMot=M.idMot and "
            "M.mot in ('chat') and not exists (select 1 from CorrespMotUrl X, MotCle Y where "
            "X.idUrl=C.idUrl and X.idMot=Y.idMot and Y.mot in ('souris','rat')) group by U.idUrl "
            "order by nb desc, ratio desc, U.nbMotsTheme desc, U.url LIMIT 15 , 15;");
  EXPECT_EQ(countingStatement("select 1 "), "select count(*) from (select 1 ) as found;");
}

TEST(Strategies, WordListsQuoteEveryWordSoNoneCanEndItsLiteral) {
  EXPECT_EQ(wordList({"a", "", "b"}), "('a','','b')");
  EXPECT_EQ(wordList({"l'eau", "a\\", std::string("n\0ul", 4), "%27\"x", "l\nf\r"}),
            "('l\\'eau','a\\\\','n\\0ul','%27\\\"x','l\\nf\\r')");
  const std::string single = singleWordSearch("x') or ('1'='1");
  EXPECT_NE(single.find(" M.mot in ('x\\') or (\\'1\\'=\\'1') and C.idMot"), std::string::npos)
      << single;
  const std::string excluded = exclusionSearch({"a"}, {"b')) or (('1"});
  EXPECT_NE(excluded.find("Y.mot in ('b\\')) or ((\\'1'))"), std::string::npos) << excluded;
}

}  // namespace
