#include "searchcgi/strategies.h"

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

TEST(Strategies, LimitClauseIsSemicolonWithoutWindow) {
  EXPECT_EQ(limitClause(0, 0), ";");
  EXPECT_EQ(limitClause(0, 15), "LIMIT 0 , 15;");
  EXPECT_EQ(limitClause(15, 30), "LIMIT 15 , 30;");
}

TEST(Strategies, StatementTextsForEachStrategy) {
  EXPECT_EQ(singleWordSearch("chat") + limitClause(0, 15),
            "select U.url, C.ratio from Url U, CorrespMotUrl C, MotCle M where  M.mot in "
            "('chat') and C.idMot=M.idMot and C.idUrl=U.idUrl  order by C.ratio, U.nbMotsTheme "
            "desc, U.url LIMIT 0 , 15;");
  EXPECT_EQ(conjunctiveSearch({"chat", "chien"}) + limitClause(0, 0),
            "select U.url, sum(C.ratio) as ratio , count(M.mot) as nb from Url U, CorrespMotUrl "
            "C, MotCle M where C.idUrl=U.idUrl and C.idMot=M.idMot and M.mot in "
            "('chat','chien') group by (U.url) having nb > 1 order by nb desc, ratio desc, "
            "U.nbMotsTheme desc, U.url ;");
  EXPECT_EQ(scratchStatement({"souris"}),
            "create temporary table tmp select C.idUrl from CorrespMotUrl C, MotCle M where "
            "C.idMot=M.idMot and M.mot in ('souris') group by (C.idUrl);");
  EXPECT_EQ(exclusionSearch({"chat"}) + limitClause(15, 30),
            "select U.url, sum(C.ratio) as ratio , count(M.mot) as nb from (Url U, CorrespMotUrl "
            "C, MotCle M) left join tmp T on C.idUrl=T.idUrl where (T.idUrl is NULL) and "
            "C.idUrl=U.idUrl and C.idMot=M.idMot and M.mot in ('chat') group by (U.url) order "
            "by nb desc, ratio desc, U.nbMotsTheme desc, U.url LIMIT 15 , 30;");
}

TEST(Strategies, WordListsQuoteEveryWordSoNoneCanEndItsLiteral) {
  EXPECT_EQ(wordList({"a", "", "b"}), "('a','','b')");
  EXPECT_EQ(wordList({"l'eau", "a\\", std::string("n\0ul", 4), "%27\"x", "l\nf\r"}),
            "('l\\'eau','a\\\\','n\\0ul','%27\\\"x','l\\nf\\r')");
  const std::string single = singleWordSearch("x') or ('1'='1");
  EXPECT_NE(single.find(" M.mot in ('x\\') or (\\'1\\'=\\'1') and C.idMot"), std::string::npos)
      << single;
}

}  // namespace
