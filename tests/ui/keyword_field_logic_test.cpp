// Keyword matches and the word replacement of the keyword field.
#include <gtest/gtest.h>

#include <algorithm>

#include "library/sound_library.h"
#include "ui/keyword_field_logic.h"

namespace {

std::vector<KeywordRecord> Keywords(std::initializer_list<std::pair<const char*, int>> words) {
    std::vector<KeywordRecord> out;
    for (const auto& [word, count] : words) {
        KeywordRecord r;
        r.token = word;
        r.display = word;
        r.count = count;
        r.display[0] = static_cast<char>(std::toupper(r.display[0]));  // a written form differs from the key
        out.push_back(r);
    }
    std::sort(out.begin(), out.end(), [](const KeywordRecord& a, const KeywordRecord& b) { return a.token < b.token; });
    return out;
}

std::vector<std::string> Matches(const std::vector<KeywordRecord>& keywords, const char* prefix, int limit = 8) {
    std::vector<const char*> out;
    CollectKeywordMatches(keywords, prefix, out, limit);
    return std::vector<std::string>(out.begin(), out.end());
}

}  // namespace

TEST(KeywordMatches, PrefixesMostUsedFirst) {
    const auto k = Keywords({{"ba", 50}, {"bass", 5}, {"bassy", 9}, {"bat", 1}, {"boom", 40}, {"b", 3}, {"c", 1}});
    EXPECT_EQ(Matches(k, "BA"), (std::vector<std::string>{"Bassy", "Bass", "Bat"}))
        << "the prefix is lower-cased; the word itself is not listed; most used first";
    EXPECT_EQ(Matches(k, "bass"), std::vector<std::string>{"Bassy"});
    EXPECT_EQ(Matches(k, "ba", 2), (std::vector<std::string>{"Bassy", "Bass"}));
    EXPECT_TRUE(Matches(k, "x").empty());
    EXPECT_TRUE(Matches(k, "").empty());
    EXPECT_TRUE(Matches(k, nullptr).empty());
    EXPECT_TRUE(Matches({}, "ba").empty());
    const std::string longPrefix(64, 'b');
    EXPECT_TRUE(Matches(Keywords({{std::string(70, 'b').c_str(), 1}}), longPrefix.c_str()).empty())
        << "a prefix of 64 bytes lists nothing";
    const std::string shorter(63, 'b');
    EXPECT_EQ(Matches(Keywords({{std::string(70, 'b').c_str(), 1}}), shorter.c_str()).size(), 1u);
}

TEST(KeywordMatches, EqualCountsKeepTheListOrderAndOnlySixtyFourAreRanked) {
    std::vector<KeywordRecord> k;
    for (int i = 0; i < 100; ++i) {
        KeywordRecord r;
        char token[16];
        std::snprintf(token, sizeof token, "wa%03d", i);
        r.token = r.display = token;
        r.count = i == 90 ? 1000 : 1;  // beyond the 64 looked at
        k.push_back(r);
    }
    EXPECT_EQ(Matches(k, "wa"), (std::vector<std::string>{"wa000", "wa001", "wa002", "wa003", "wa004", "wa005",
                                                          "wa006", "wa007"}));
}

TEST(KeywordWords, TheWordUnderTheCursorEndsAtBlanksAndSigns) {
    const std::string text = "+foo ba-rr";
    KeywordWord w = FindKeywordWord(text, 7);
    EXPECT_EQ(w.Typed(text), "ba");
    EXPECT_EQ(w.Whole(text), "ba");
    w = FindKeywordWord(text, 2);
    EXPECT_EQ(w.Typed(text), "f");
    EXPECT_EQ(w.Whole(text), "foo");
    w = FindKeywordWord(text, 99);
    EXPECT_EQ(w.Typed(text), "rr");
}

TEST(KeywordCompletion, TheWholeWordIsReplacedAndItsSignKept) {
    std::string text = "+foo ba";
    int cursor = 7;
    EXPECT_TRUE(ApplyKeywordCompletion(text, cursor, "bass", 256));
    EXPECT_EQ(text, "+foo bass ");
    EXPECT_EQ(cursor, 10) << "after the blank";

    text = "-wat";
    cursor = 4;
    EXPECT_TRUE(ApplyKeywordCompletion(text, cursor, "water", 256));
    EXPECT_EQ(text, "-water ");
    EXPECT_EQ(cursor, 7);

    text = "rain thundr wind";
    cursor = 8;  // in the middle of "thundr"
    EXPECT_TRUE(ApplyKeywordCompletion(text, cursor, "thunder", 256));
    EXPECT_EQ(text, "rain thunder wind") << "the part after the cursor goes too; the blank that follows stays single";
    EXPECT_EQ(cursor, 12);
}

TEST(KeywordCompletion, ACompletionThatDoesNotFitLeavesTheText) {
    std::string text = "rain wi";
    int cursor = 7;
    // "rain wind " is 10 bytes: it needs 11 with the terminator.
    EXPECT_FALSE(ApplyKeywordCompletion(text, cursor, "wind", 10));
    EXPECT_EQ(text, "rain wi");
    EXPECT_EQ(cursor, 7);
    EXPECT_TRUE(ApplyKeywordCompletion(text, cursor, "wind", 11));
    EXPECT_EQ(text, "rain wind ");
}
