// Event naming: display names, shape names and the automatic names proposed
// for recipes and bounces.
#include <gtest/gtest.h>

#include <thread>

#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_naming.h"

namespace {

Event FlatEvent(int shape, float weight, const char* keywords = "") {
    Event e;
    e.shape = shape;
    FillCurve(e.weight, weight);
    CopyTextField(e.keywords, keywords);
    return e;
}

std::vector<EventPreset> Recipes(std::initializer_list<std::string> names) {
    std::vector<EventPreset> recipes(names.size());
    size_t k = 0;
    for (const std::string& name : names) CopyTextField(recipes[k++].name, name);
    return recipes;
}

}  // namespace

TEST(EventNaming, DisplayNameTakesThreeKeywordsElseTheShape) {
    Project project;
    EXPECT_EQ(EventDisplayName(project, FlatEvent(kShapeSpot, 0.5f, "metal scrape +heavy, door")),
              "Metal Scrape Door");
    EXPECT_EQ(EventDisplayName(project, FlatEvent(kShapeSpot, 0.5f, ",, glass  shard mUd tail")),
              "Glass Shard MUd");  // only the first letter changes
    EXPECT_EQ(EventDisplayName(project, FlatEvent(kShapeBloom, 0.5f, "")), "Bloom");
    EXPECT_EQ(EventDisplayName(project, FlatEvent(kShapeScatter, 0.5f, "-wood +metal")), "Scatter");
    EXPECT_EQ(EventDisplayName(project, FlatEvent(kShapeSpot, 0.5f, "rain +heavy")), "Rain");

    const std::string longWord(80, 'x');
    EXPECT_EQ(EventDisplayName(project, FlatEvent(kShapeSpot, 0.5f, longWord.c_str())), "X" + std::string(60, 'x') + "\u2026");

    project.userShapes.resize(1);
    CopyTextField(project.userShapes[0].name, "Swell");
    Event user = FlatEvent(kShapeBloom, 0.5f);
    user.userShapeIdx = 0;
    EXPECT_EQ(EventShapeName(project, user), "Swell");
    EXPECT_EQ(EventDisplayName(project, user), "Swell");
    user.userShapeIdx = 3;
    EXPECT_EQ(EventShapeName(project, user), "Bloom");
}

TEST(EventNaming, DisplayNamesFromTwoThreadsDoNotMix) {
    Project project;
    const Event a = FlatEvent(kShapeSpot, 0.5f, "alpha beta");
    const Event b = FlatEvent(kShapeSpot, 0.5f, "gamma delta epsilon");
    auto repeat = [&](const Event& e, const char* expected, bool* ok) {
        for (int k = 0; k < 2000; ++k) *ok = *ok && EventDisplayName(project, e) == expected;
    };
    bool okA = true, okB = true;
    std::thread other(repeat, std::cref(a), "Alpha Beta", &okA);
    repeat(b, "Gamma Delta Epsilon", &okB);
    other.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}

TEST(EventNaming, GeneralNameIsToneWordAndNoun) {
    const std::vector<EventPreset> none;
    EXPECT_EQ(AutoNameEvent(FlatEvent(kShapeSpot, 0.5f, "glass +impact -wood"), none), "Body Glass");
    // Only excluded keywords, no filter, no recipe name: the shape's word.
    EXPECT_EQ(AutoNameEvent(FlatEvent(kShapeContour, 0.5f, "-metal -wood"), none), "Body Contour");
    EXPECT_EQ(AutoNameEvent(FlatEvent(kShapeScatter, 0.5f, "-metal"), none), "Body Wave");
    EXPECT_EQ(AutoNameEvent(FlatEvent(-4, 0.5f), none), "Body Spot");

    // The tone word reads the curve plus the offset, clamped.
    Event lifted = FlatEvent(kShapeSpot, 0.5f, "hit");
    lifted.weightOffset = 0.7f;  // clamped at 1
    EXPECT_EQ(AutoNameEvent(lifted, none), "Air Hit");
    Event ramp = FlatEvent(kShapeSpot, 0, "hit");
    for (int i = 0; i < 256; ++i) ramp.weight[size_t(i)] = 0.2f + 0.3f * float(i) / 255.0f;
    EXPECT_EQ(AutoNameEvent(ramp, none), "Dynamic Hit");

    // Nouns: two keywords (first alternative of a "/"), the sound category of
    // the filter, the recipe name without its tone, the filter's longest word.
    EXPECT_EQ(AutoNameEvent(FlatEvent(kShapeSpot, 0.5f, "DOOR/gate slam creak"), none), "Body Door Slam");
    Event filtered = FlatEvent(kShapeSpot, 0.5f);
    CopyTextField(filtered.libFilter, "City_Ambience_Pack");
    EXPECT_EQ(AutoNameEvent(filtered, none), "Body Ambience");
    CopyTextField(filtered.libFilter, "~none~");
    CopyTextField(filtered.presetName, "Heavy Thunder Roll");
    EXPECT_EQ(AutoNameEvent(filtered, none), "Body Thunder Roll");
    filtered.presetName[0] = '\0';
    CopyTextField(filtered.libFilter, "Pro_SFX_Vol_Creatures_HD");
    EXPECT_EQ(AutoNameEvent(filtered, none), "Body Creatures");
}

TEST(EventNaming, BedNamesComeFromTheLayerFiles) {
    Event bed = FlatEvent(kShapeBed, 0.5f);
    bed.pinnedFiles = {"/lib/Rain_Loop_01.wav", "/lib/rain heavy st.wav"};
    EXPECT_EQ(AutoNameEvent(bed, {}), "Rain Heavy Bed");

    bed.pinnedFiles = {"C:\\sfx\\rain_loop.wav"};
    EXPECT_EQ(AutoNameEvent(bed, Recipes({"Rain Bed", "Rain Bed 2"})), "Rain Bed 3");

    // No usable word: the general name.
    bed.pinnedFiles = {"/lib/01_st_mix.wav"};
    EXPECT_EQ(AutoNameEvent(bed, {}), "Body Bed");
}

TEST(EventNaming, NamesStayUniqueAmongTheRecipesWhileThereIsRoom) {
    const Event glass = FlatEvent(kShapeSpot, 0.5f, "glass");
    EXPECT_EQ(AutoNameEvent(glass, Recipes({"Body Glass"})), "Body Glass 2");
    std::vector<EventPreset> taken = Recipes({"Body Glass"});
    for (int n = 2; n <= 99; ++n) taken.push_back(Recipes({"Body Glass " + std::to_string(n)})[0]);
    EXPECT_EQ(AutoNameEvent(glass, taken), "Body Glass");

    // Into a small buffer, cut between whole characters with "…".
    char small[9];
    AutoNameEvent(FlatEvent(kShapeSpot, 0.5f, "\xC3\xA9tude"), {}, small, sizeof(small));
    EXPECT_STREQ(small, "Body\u2026");
    // Two words of 34 characters: each is cut to 30 with its "…", and the
    // name, longer than 63 characters beside the tone, ends in "…" too.
    const std::string word = "abcdefghijklmnopqrstuvwxyzabcdefgh";
    const Event wordy = FlatEvent(kShapeSpot, 0.5f, (word + " " + word).c_str());
    const std::string cutWord = "Abcdefghijklmnopqrstuvwxyzabc\u2026";
    EXPECT_EQ(AutoNameEvent(wordy, Recipes({"x"})), "Body " + cutWord + " " + cutWord.substr(0, 26) + "\u2026");
    EXPECT_EQ(CodePointCount(AutoNameEvent(wordy, {})), 63u);
    char room[64];
    AutoNameEvent(wordy, Recipes({"x"}), room, sizeof(room));
    EXPECT_LE(std::string(room).size(), 63u);
    EXPECT_EQ(std::string(room).rfind("Body " + cutWord + " Abcdefghijklmnopqrstuv", 0), 0u) << room;
}

// Words and names count characters, as every name does, and are cut between
// characters as a reader sees them: a letter keeps its accent, a Thai
// consonant its vowel, and the "…" says a word was cut.
TEST(EventNaming, ProposedNamesCountAndCutWholeCharacters) {
    const std::string accented = [] {
        std::string w = "x";
        for (int k = 0; k < 20; ++k) w += "e\u0301";  // e and a combining acute: one letter, three bytes
        return w;
    }();
    std::string kept = "X";
    for (int k = 0; k < 14; ++k) kept += "e\u0301";
    EXPECT_EQ(AutoNameEvent(FlatEvent(kShapeSpot, 0.5f, accented.c_str()), {}), "Body " + kept + "\u2026");

    std::string thai = "\u0E01";  // ko kai, then ko kai with sara i above, twenty times
    for (int k = 0; k < 20; ++k) thai += "\u0E01\u0E34";
    std::string thaiKept = "\u0E01";
    for (int k = 0; k < 14; ++k) thaiKept += "\u0E01\u0E34";
    const std::string thaiName = AutoNameEvent(FlatEvent(kShapeSpot, 0.5f, thai.c_str()), {});
    EXPECT_EQ(thaiName, "Body " + thaiKept + "\u2026");
    EXPECT_EQ(CodePointCount(thaiName), 5u + 30u) << "the word is 30 characters with its \u2026";

    // "на" is two letters (four bytes): too short for a Bed's name, like "lp".
    Event bed = FlatEvent(kShapeBed, 0.5f);
    bed.pinnedFiles = {"/lib/\u0414\u043E\u0436\u0434\u044C \u043D\u0430 \u043A\u0440\u044B\u0448\u0435.flac"};
    EXPECT_EQ(AutoNameEvent(bed, {}), "\u0414\u043E\u0436\u0434\u044C \u043A\u0440\u044B\u0448\u0435 Bed");
}

// 62 characters, not bytes: a Hebrew or Arabic name keeps as many letters as
// a Latin one, cut between whole characters, the "…" on the side where its
// reading ends; a name that fits is left whole, without marks.
TEST(EventNaming, DisplayNamesCountCharactersAndEndInAnEllipsisWhereTheirReadingEnds) {
    Project project;
    auto name = [&](const std::string& keywords) {
        return EventDisplayName(project, FlatEvent(kShapeSpot, 0.5f, keywords.c_str()));
    };
    std::string hebrewWord, arabicWord;
    for (int k = 0; k < 10; ++k) hebrewWord += "\u05D2\u05E9\u05DD";        // 30 letters
    for (int k = 0; k < 10; ++k) arabicWord += "\u0645\u0637\u0631";        // 30 letters
    const std::string hebrew = hebrewWord + " " + hebrewWord + " " + hebrewWord;
    EXPECT_EQ(name(hebrewWord + " " + hebrewWord), hebrewWord + " " + hebrewWord) << "61 characters fit";
    const std::string cutHebrew = name(hebrew);
    EXPECT_EQ(CodePointCount(cutHebrew), 62u);
    // 60 letters and the blank, then the "…" and the mark that binds it.
    EXPECT_EQ(cutHebrew, hebrewWord + " " + hebrewWord.substr(0, 58) + "\u2026\u200F");
    // (How the marks place the "…" when drawn: the display text's tests.)
    const std::string cutArabic = name(arabicWord + " " + arabicWord + " " + arabicWord);
    EXPECT_EQ(CodePointCount(cutArabic), 62u);
    EXPECT_EQ(cutArabic.substr(cutArabic.size() - 6), "\u2026\u200F") << "bound to the right-to-left word";
    // Mixed: a Hebrew word, then Latin words; the cut Latin word keeps the "…".
    const std::string mixed = name(hebrewWord + " impact metalmetalmetalmetalmetal heavy");
    EXPECT_EQ(CodePointCount(mixed), 62u);
    EXPECT_EQ(mixed.substr(mixed.size() - 12), "etalme\u2026\u200E") << "bound to the cut Latin word: " << mixed;
    // An accent never leaves its letter.
    std::string accents;
    for (int k = 0; k < 70; ++k) accents += "e\u0301";
    const std::string cutAccents = name(accents);
    EXPECT_LE(CodePointCount(cutAccents), 62u);
    EXPECT_EQ(cutAccents.substr(cutAccents.size() - 5), "\u0301\u2026");
}
