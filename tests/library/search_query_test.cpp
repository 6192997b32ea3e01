// Search queries, name matching and the category guess.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/search_query.h"

namespace {

std::vector<SearchTerm> Terms(const char* text) { return ParseSearchQuery(text); }

}  // namespace

TEST(ParseSearchQuery, SplitsMarksAndKeepsOrder) {
    std::vector<SearchTerm> terms = Terms("  +glass, -metal;wind\t");
    ASSERT_EQ(terms.size(), 3u);
    EXPECT_EQ(terms[0].text, "glass");
    EXPECT_EQ(terms[0].mode, kSearchRequired);
    EXPECT_EQ(terms[1].text, "metal");
    EXPECT_EQ(terms[1].mode, kSearchExcluded);
    EXPECT_EQ(terms[2].text, "wind");
    EXPECT_EQ(terms[2].mode, kSearchPlain);

    // Lone markers are plain words, only the first character is a marker,
    // case and non-separator bytes (line breaks, UTF-8) stay, duplicates stay.
    terms = Terms("+ - ++x Door\nbell caf\xc3\xa9 door door");
    ASSERT_EQ(terms.size(), 7u);
    EXPECT_EQ(terms[0].text, "+");
    EXPECT_EQ(terms[0].mode, kSearchPlain);
    EXPECT_EQ(terms[1].mode, kSearchPlain);
    EXPECT_EQ(terms[2].text, "+x");
    EXPECT_EQ(terms[2].mode, kSearchRequired);
    EXPECT_EQ(terms[3].text, "Door\nbell");
    EXPECT_EQ(terms[4].text, "caf\xc3\xa9");
    EXPECT_EQ(terms[6].text, "door");

    EXPECT_TRUE(Terms(nullptr).empty());
    EXPECT_TRUE(Terms(" ,;\t").empty());
}

TEST(MatchesKeywordList, ExactItemsAfterTrimming) {
    EXPECT_TRUE(MatchesKeywordList("Foley", " Ambience ,, Foley "));
    EXPECT_FALSE(MatchesKeywordList("foley", "Foley"));
    EXPECT_FALSE(MatchesKeywordList("Fol", "Foley"));
    EXPECT_FALSE(MatchesKeywordList("", " , ,"));  // blank items are skipped
    EXPECT_TRUE(MatchesKeywordList("Any", ""));
    EXPECT_TRUE(MatchesKeywordList("Any", nullptr));
}

TEST(MatchesWildcard, WordBoundariesAndStars) {
    EXPECT_TRUE(MatchesWildcard("Door Slam", "door"));
    EXPECT_TRUE(MatchesWildcard("old_door_02", "door"));
    EXPECT_FALSE(MatchesWildcard("Doorbell", "door"));
    EXPECT_TRUE(MatchesWildcard("Doorbell", "door*"));
    EXPECT_TRUE(MatchesWildcard("Doorbell", "*bell"));
    EXPECT_FALSE(MatchesWildcard("bells", "*bell"));
    EXPECT_TRUE(MatchesWildcard("bigbells", "*bell*"));
    // A rejected occurrence does not hide a later accepted one.
    EXPECT_TRUE(MatchesWildcard("doorbell door", "door"));
    // Non-letters, including UTF-8 bytes, separate words.
    EXPECT_TRUE(MatchesWildcard("\xc3\xa9" "door" "\xc3\xa9", "door"));
    // A star inside the core is literal.
    EXPECT_TRUE(MatchesWildcard("a*b", "a*b"));
    EXPECT_FALSE(MatchesWildcard("axb", "a*b"));
    for (const char* tooShort : {"", "*", "**", "a", "*x*", "x*"})
        EXPECT_FALSE(MatchesWildcard("x a xx", tooShort)) << tooShort;
    EXPECT_FALSE(MatchesWildcard("do", "door"));
}

TEST(GuessUcsCategory, ScoresKeywordsBothWays) {
    EXPECT_EQ(GuessUcsCategory(Terms("  +glass, -metal;wind\t")), "CRASH");
    EXPECT_EQ(GuessUcsCategory(Terms("gun")), "GUN");
    EXPECT_EQ(GuessUcsCategory(Terms("door")), "AMBExt");      // inside outdoor / indoor
    EXPECT_EQ(GuessUcsCategory(Terms("Fire; fire")), "FIRE");  // ties GUN via firearm, earlier row wins
    EXPECT_EQ(GuessUcsCategory(Terms("WATER")), "WATR");
    EXPECT_EQ(GuessUcsCategory(Terms("wind +metal")), "META");  // required outweighs plain
    EXPECT_EQ(GuessUcsCategory(Terms("-fire -gun")), kUcsDefaultCategory);
    EXPECT_EQ(GuessUcsCategory(Terms("qqqq")), kUcsDefaultCategory);
    EXPECT_EQ(GuessUcsCategory({}), kUcsDefaultCategory);
}
