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
  EXPECT_EQ(singleWordSearch("chat", 29) + limitClause(15, 15),
            "select U.url, C.ratio, W.total from (select M.idMot, (select "
            "coalesce(sum(K.nbPages),0) from MotBloc K where K.idMot=M.idMot) as total, (select "
            "R.ratio from CorrespMotUrl "
            "R where R.idMot=M.idMot order by R.ratio desc limit 29,1) as floor from MotCle M "
            "where M.mot in ('chat') limit 1) W straight_join CorrespMotUrl C straight_join Url "
            "U where C.idMot=W.idMot and (W.floor is null or C.ratio >= W.floor) and "
            "U.idUrl=C.idUrl order by C.ratio desc, U.nbMotsTheme desc, U.url LIMIT 15 , 15;");
  EXPECT_NE(singleWordSearch("chat", -1).find(" null as floor "), std::string::npos);
  EXPECT_NE(singleWordSearch("chat", -1, PageCounts::counted)
                .find("(select count(*) from CorrespMotUrl N where N.idMot=M.idMot) as total"),
            std::string::npos);
  EXPECT_EQ(conjunctiveSearch({"chat", "chien"}) + limitClause(0, 0),
            "select U.url, G.ratio, G.nb, count(*) over () as total from (select C.idUrl, "
            "sum(C.ratio) as ratio, count(*) as nb from MotCle M straight_join CorrespMotUrl C "
            "where C.idMot=M.idMot and M.mot in ('chat','chien') group by C.idUrl having nb > 1) "
            "G straight_join Url U where U.idUrl=G.idUrl order by G.nb desc, G.ratio desc, "
            "U.nbMotsTheme desc, U.url ;");
  EXPECT_EQ(exclusionSearch({"chat"}, {"souris", "rat"}) + limitClause(15, 15),
            "select U.url, G.ratio, G.nb, count(*) over () as total from (select C.idUrl, "
            "sum(C.ratio) as ratio, count(*) as nb from MotCle M straight_join CorrespMotUrl C "
            "where C.idMot=M.idMot and M.mot in ('chat') and not exists (select 1 from "
            "CorrespMotUrl X, MotCle Y where X.idUrl=C.idUrl and X.idMot=Y.idMot and Y.mot in "
            "('souris','rat')) group by C.idUrl) G straight_join Url U where U.idUrl=G.idUrl "
            "order by G.nb desc, G.ratio desc, U.nbMotsTheme desc, U.url LIMIT 15 , 15;");
  EXPECT_EQ(countingStatement("select 1 "), "select count(*) from (select 1 ) as found;");
}

TEST(Strategies, WordsBothSearchedAndExcludedContradict) {
  EXPECT_TRUE(contradictoryWords({"miel"}, {"miel"}));
  EXPECT_TRUE(contradictoryWords({"ruche", "Miel"}, {"lavande", "mIEL"}));
  EXPECT_FALSE(contradictoryWords({"miel", "ruche"}, {"miels"}));
}

TEST(Strategies, WordListsQuoteEveryWordSoNoneCanEndItsLiteral) {
  EXPECT_EQ(wordList({"a", "", "b"}), "('a','','b')");
  EXPECT_EQ(wordList({"l'eau", "a\\", std::string("n\0ul", 4), "%27\"x", "l\nf\r"}),
            "('l\\'eau','a\\\\','n\\0ul','%27\\\"x','l\\nf\\r')");
  const std::string single = singleWordSearch("x') or ('1'='1", 14);
  EXPECT_NE(single.find(" M.mot in ('x\\') or (\\'1\\'=\\'1') limit 1"), std::string::npos)
      << single;
  const std::string excluded = exclusionSearch({"a"}, {"b')) or (('1"});
  EXPECT_NE(excluded.find("Y.mot in ('b\\')) or ((\\'1'))"), std::string::npos) << excluded;
}

}  // namespace
