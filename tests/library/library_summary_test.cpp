// Library summaries, name tokens, the keyword index and usage groups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/library_summary.h"
#include "library/sound_library.h"

namespace {

LibraryEntry Entry(const std::string& name, float duration, std::vector<float> bands = {0, 0, 0, 0, 0}) {
    LibraryEntry e;
    e.name = name;
    e.path = "/lib/" + name + ".wav";
    e.duration = duration;
    for (int b = 0; b < 5; ++b) e.bandEnergy[b] = bands[static_cast<size_t>(b)];
    return e;
}

LibraryIndex Library(int n, float duration, std::vector<float> bands = {0, 0, 0, 0, 0}) {
    LibraryIndex index;
    index.name = "Test";
    for (int i = 0; i < n; ++i) index.entries.push_back(Entry("take" + std::to_string(i), duration, bands));
    return index;
}

}  // namespace

TEST(LibrarySummary, FileCountsKeepTheirGroupZeros) {
    EXPECT_EQ(FormatFileCount(1), "1 files");
    EXPECT_EQ(FormatFileCount(999), "999 files");
    EXPECT_EQ(FormatFileCount(1234), "1,234 files");
    EXPECT_EQ(FormatFileCount(1000), "1,000 files");
    EXPECT_EQ(FormatFileCount(2000005), "2,000,005 files");
    LibraryIndex empty;
    empty.keywordsText = "kept";
    BuildLibrarySummary(empty);
    EXPECT_EQ(empty.summary, "");
    EXPECT_EQ(empty.keywordsText, "kept");
}

TEST(LibrarySummary, SpectralWords) {
    LibraryIndex silent = Library(3, 5.0f);
    BuildLibrarySummary(silent);
    EXPECT_EQ(silent.summary, "3 files \xC2\xB7 mostly sustained");

    LibraryIndex subBright = Library(2, 5.0f, {1.0f, 0.2f, 0.1f, 0.65f, 0.1f});
    BuildLibrarySummary(subBright);
    EXPECT_EQ(subBright.summary, "2 files \xC2\xB7 sub-heavy and bright \xC2\xB7 mostly sustained");

    LibraryIndex neighbour = Library(2, 5.0f, {1.0f, 0.8f, 0.1f, 0.1f, 0.1f});
    BuildLibrarySummary(neighbour);
    EXPECT_EQ(neighbour.summary, "2 files \xC2\xB7 sub-heavy \xC2\xB7 mostly sustained");

    LibraryIndex balanced = Library(2, 5.0f, {0.8f, 0.9f, 1.0f, 0.75f, 0.71f});
    BuildLibrarySummary(balanced);
    EXPECT_EQ(balanced.summary, "2 files \xC2\xB7 balanced \xC2\xB7 mostly sustained");

    // The scale does not matter, only the shape.
    LibraryIndex airy = Library(2, 5.0f, {0.01f, 0.01f, 0.02f, 0.05f, 0.1f});
    BuildLibrarySummary(airy);
    EXPECT_EQ(airy.summary, "2 files \xC2\xB7 airy \xC2\xB7 mostly sustained");
}

TEST(LibrarySummary, EnvelopeWords) {
    LibraryIndex tie;
    for (int i = 0; i < 10; ++i) tie.entries.push_back(Entry("a", 0.2f));
    for (int i = 0; i < 10; ++i) tie.entries.push_back(Entry("b", 1.0f));
    BuildLibrarySummary(tie);
    EXPECT_EQ(tie.summary, "20 files \xC2\xB7 transient, medium");

    LibraryIndex mostly = Library(20, 0.2f);
    BuildLibrarySummary(mostly);
    EXPECT_EQ(mostly.summary, "20 files \xC2\xB7 mostly transient");

    LibraryIndex mixed;
    for (int i = 0; i < 6; ++i) mixed.entries.push_back(Entry("a", 5.0f));
    for (int i = 0; i < 2; ++i) mixed.entries.push_back(Entry("b", 1.0f));
    for (int i = 0; i < 2; ++i) mixed.entries.push_back(Entry("c", 0.1f));
    BuildLibrarySummary(mixed);
    EXPECT_EQ(mixed.summary, "10 files \xC2\xB7 sustained");  // the others stay under a quarter
}

TEST(LibrarySummary, KeywordsNeedAMinimumCount) {
    LibraryIndex thirty = Library(30, 5.0f);
    for (int i = 0; i < 3; ++i) thirty.entries[static_cast<size_t>(i)].name = "Metal_Impact_0" + std::to_string(i);
    thirty.entries[5].description = "glass shatter";
    BuildLibrarySummary(thirty);
    EXPECT_EQ(thirty.keywordsText, "impact, metal");  // equal counts in alphabetical order
    EXPECT_EQ(thirty.summary, "30 files \xC2\xB7 mostly sustained \xC2\xB7 impact, metal");

    LibraryIndex hundred = Library(100, 5.0f);
    for (int i = 0; i < 4; ++i) hundred.entries[static_cast<size_t>(i)].name = "impact " + std::to_string(i);
    BuildLibrarySummary(hundred);
    EXPECT_EQ(hundred.keywordsText, "");
    hundred.entries[10].name = "Impact";
    BuildLibrarySummary(hundred);
    EXPECT_EQ(hundred.keywordsText, "impact");

    LibraryIndex many = Library(10, 5.0f);
    const char* words[] = {"door", "door", "door", "glass", "glass", "wind", "wind", "rain", "rain", "fire"};
    for (int i = 0; i < 10; ++i) many.entries[static_cast<size_t>(i)].name = words[i];
    BuildLibrarySummary(many);
    EXPECT_EQ(many.keywordsText, "door, glass, rain, wind");  // at most four
}

TEST(NameTokens, SplittingRules) {
    TokenCounts counts;
    WrittenForms forms;
    SplitNameTokens(counts, forms, "DoorSlam_01");
    SplitNameTokens(counts, forms, "doorslam-02");
    EXPECT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts["door"], 1);
    EXPECT_EQ(counts["slam"], 1);
    EXPECT_EQ(counts["doorslam"], 1);
    EXPECT_EQ(forms["door"].begin()->first, "Door");

    TokenCounts lengths;
    WrittenForms lengthForms;
    SplitNameTokens(lengths, lengthForms, std::string(30, 'a') + " " + std::string(31, 'b') + " x 9 mp3 a1");
    EXPECT_EQ(lengths.count(std::string(30, 'a')), 1u);
    EXPECT_EQ(lengths.count(std::string(31, 'b')), 0u);
    EXPECT_EQ(lengths.count("x"), 0u);
    EXPECT_EQ(lengths.count("mp3"), 1u);
    EXPECT_EQ(lengths.count("a1"), 1u);

    TokenCounts vocabulary;
    SplitNameKeywords(vocabulary, "Glass[Break]Wood;Crate");
    EXPECT_EQ(vocabulary.size(), 3u);  // crate is no summary word
    EXPECT_EQ(vocabulary["break"], 1);

    TokenCounts parenthesised;
    WrittenForms parenthesisedForms;
    SplitNameTokens(parenthesised, parenthesisedForms, "Impact (Heavy)");
    EXPECT_EQ(parenthesised.size(), 2u);
    EXPECT_EQ(parenthesised["impact"], 1);
    EXPECT_EQ(parenthesised["heavy"], 1);
    TokenCounts words;
    SplitNameKeywords(words, "Impact(Heavy)Glass");
    EXPECT_EQ(words["heavy"], 1);
    EXPECT_EQ(words["glass"], 1);

    TokenCounts nul;
    WrittenForms nulForms;
    SplitNameTokens(nul, nulForms, std::string_view("wind\0rain", 9));
    EXPECT_EQ(nul.count("rain"), 0u);  // a NUL ends the text
}

TEST(KeywordIndex, SortedAcrossEnabledLibrariesWithMostUsedSpelling) {
    std::vector<LibraryIndex> libraries(2);
    libraries[0].entries.push_back(Entry("Wind_Gust", 1));
    libraries[0].entries.back().path = "/sfx/Weather/Storms/Wind_Gust.wav";
    libraries[0].entries.push_back(Entry("wind howl", 1));
    libraries[0].entries.back().path = "/a/b/c/d/wind howl.wav";
    libraries[0].entries.back().description = "WIND through trees";
    libraries[1].enabled = 0;
    libraries[1].entries.push_back(Entry("Thunder", 1));

    std::vector<KeywordRecord> keywords;
    uint8_t dirty = 1;
    BuildKeywordIndex(keywords, libraries, &dirty);
    EXPECT_EQ(dirty, 0);
    ASSERT_FALSE(keywords.empty());
    for (size_t i = 1; i < keywords.size(); ++i) EXPECT_LT(keywords[i - 1].token, keywords[i].token);
    auto find = [&](const std::string& t) -> const KeywordRecord* {
        for (const auto& k : keywords)
            if (k.token == t) return &k;
        return nullptr;
    };
    ASSERT_NE(find("wind"), nullptr);
    EXPECT_EQ(find("wind")->count, 5);  // two names, two file names, one description
    EXPECT_EQ(find("wind")->display, "Wind");
    EXPECT_NE(find("storms"), nullptr);
    EXPECT_NE(find("weather"), nullptr);
    EXPECT_NE(find("wav"), nullptr);       // the extension is part of the file-name component
    EXPECT_EQ(find("sfx"), nullptr);       // only three components are split
    EXPECT_EQ(find("thunder"), nullptr);   // disabled library
    EXPECT_EQ(find("c"), nullptr);         // single letters are no tokens

    libraries[0].enabled = 0;
    BuildKeywordIndex(keywords, libraries, &dirty);
    EXPECT_TRUE(keywords.empty());
}

TEST(UsageGroups, FirstEventDecidesTheGroup) {
    Project project;
    AddEvent(project, 0, kShapeSpot, 0.5f);
    AddEvent(project, 1, kShapeSpot, 0.5f);
    CopyTextField(project.events[0].presetName, "Doors");
    UsageGroups groups;
    AddFileToUsageGroup(groups, project, "/a.wav", 0);
    AddFileToUsageGroup(groups, project, "/a.wav", 1);
    AddFileToUsageGroup(groups, project, "/b.wav", 1);
    AddFileToUsageGroup(groups, project, "/c.wav", 99);
    AddFileToUsageGroup(groups, project, "", 0);
    ASSERT_EQ(groups.usageGroupNames.size(), 2u);
    EXPECT_EQ(groups.usageGroupNames[0], "Doors");
    EXPECT_EQ(groups.usageGroupNames[1], "Unassigned");
    EXPECT_EQ(groups.usageGroupFiles[0], std::vector<std::string>{"/a.wav"});
    EXPECT_EQ(groups.usageGroupCounts[1], 2);
    EXPECT_TRUE(groups.usageGroupChecked[1]);
}
