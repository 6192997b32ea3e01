// Names in display order: the characters the GUI draws, left to right, for
// Hebrew, Arabic (joined forms, the lam-alef ligature) and mixed names. The
// expected sequences are written out by hand from the scripts' rules, code
// point by code point.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/visual_text.h"

namespace {

std::string Utf8(const std::vector<char32_t>& codePoints) {
    std::string out;
    for (char32_t c : codePoints) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

TEST(VisualText, RightToLeftNamesAreDrawnFromTheRightWithArabicLettersJoined) {
    // Hebrew: shin lamed vav mem is drawn mem (final form, as stored) first.
    EXPECT_EQ(VisualText("\u05E9\u05DC\u05D5\u05DD"), Utf8({0x05DD, 0x05D5, 0x05DC, 0x05E9}));
    // Arabic "salam": seen initial, then lam and alef as one final ligature,
    // then meem final; the filler the ligature leaves is not drawn.
    EXPECT_EQ(VisualText("\u0633\u0644\u0627\u0645"), Utf8({0xFEE1, 0xFEFC, 0xFEB3}));
    // Lam-alef standing alone takes the isolated ligature.
    EXPECT_EQ(VisualText("\u0644\u0627"), Utf8({0xFEFB}));
    // "marhaba": reh does not join to the left, so hah starts a new word shape.
    EXPECT_EQ(VisualText("\u0645\u0631\u062D\u0628\u0627"), Utf8({0xFE8E, 0xFE92, 0xFEA3, 0xFEAE, 0xFEE3}));
}

TEST(VisualText, MixedNamesKeepEachRunInItsOwnDirection) {
    // A Latin first word makes the line left to right; the Arabic run is
    // reversed within it: sad initial, dal final, meem initial, teh marbuta final.
    EXPECT_EQ(VisualText("Impact \u0635\u062F\u0645\u0629"),
              Utf8({'I', 'm', 'p', 'a', 'c', 't', ' ', 0xFE94, 0xFEE3, 0xFEAA, 0xFEBB}));
    // A Hebrew first word makes it right to left: the Latin run and its
    // number stay readable, on the left.
    EXPECT_EQ(VisualText("\u05E9\u05DC\u05D5\u05DD Door 2"),
              Utf8({'D', 'o', 'o', 'r', ' ', '2', ' ', 0x05DD, 0x05D5, 0x05DC, 0x05E9}));
    // Brackets are mirrored, so they still open towards the name.
    EXPECT_EQ(VisualText("(\u05E9\u05DC\u05D5\u05DD)"), Utf8({'(', 0x05DD, 0x05D5, 0x05DC, 0x05E9, ')'}));
    // Every line is its own paragraph.
    EXPECT_EQ(VisualText("\u05D0\u05D1\nab"), Utf8({0x05D1, 0x05D0, '\n', 'a', 'b'}));
    // Direction marks have done their work and are not drawn.
    EXPECT_EQ(VisualText("a\u200F\u05D0\u05D1"), Utf8({'a', 0x05D1, 0x05D0}));
}

TEST(VisualText, LeftToRightTextIsLeftAlone) {
    for (const char* text : {"Footstep Gravel", "", "\xD0\x94\xD0\xB2\xD0\xB5\xD1\x80\xD1\x8C",  // Cyrillic
                             "\xE9\x9B\xA8\xE3\x81\xAE\xE9\x9F\xB3", "\xF0\x9F\x94\xA5 fire",       // CJK, emoji
                             "\xD5\x80\xD5\xA1\xD5\xB5", "broken \xD7"}) {                          // Armenian, cut UTF-8
        EXPECT_FALSE(HasRightToLeft(text)) << text;
        EXPECT_EQ(VisualText(text), text);
    }
    EXPECT_TRUE(HasRightToLeft("x \u05D0"));
    EXPECT_TRUE(HasRightToLeft("\uFEFB"));
    EXPECT_TRUE(HasRightToLeft("a\u200Fb"));
}

TEST(VisualText, CutsFallBetweenWholeGlyphsAndIsolatedNamesLeaveTheirRowInPlace) {
    // e with a combining acute, then x: no cut between the e and its accent.
    EXPECT_EQ(GlyphCutPoints("e\u0301x"), (std::vector<size_t>{3, 4}));
    EXPECT_EQ(GlyphCutPoints("ab"), (std::vector<size_t>{1, 2}));
    EXPECT_TRUE(GlyphCutPoints("").empty());
    // Hebrew points and Arabic vowel signs stay with their letters; a joiner
    // with the letter before it.
    EXPECT_EQ(GlyphCutPoints("\u05E9\u05C1\u05B8\u05DC"), (std::vector<size_t>{6, 8}));
    EXPECT_EQ(GlyphCutPoints("\u0628\u064E\u062A"), (std::vector<size_t>{4, 6}));
    EXPECT_EQ(GlyphCutPoints("a\u200Db"), (std::vector<size_t>{4, 5}));
    EXPECT_EQ(GlyphCutPoints("a\xFF" "b"), (std::vector<size_t>{1, 2, 3})) << "a broken byte is a character of its own";

    // A bullet, then an Arabic name: left alone the whole row reads from the
    // right and the bullet goes to the end; isolated, the bullet stays first.
    const std::string name = "\u0648\u0635\u0641\u0629 3";
    EXPECT_NE(VisualText("\u2013  " + name).rfind("\u2013  ", 0), 0u);
    EXPECT_EQ(VisualText("\u2013  " + IsolatedText(name)), "\u2013  " + VisualText(name));
    // A count after an isolated Hebrew name stays after it.
    const std::string hebrew = "\u05E9\u05DC\u05D5\u05DD";
    EXPECT_EQ(VisualText(IsolatedText(hebrew) + "  \u00B7 3 events"), VisualText(hebrew) + "  \u00B7 3 events");
    EXPECT_EQ(IsolatedText("Door Slam"), "Door Slam") << "no marks where nothing reads from the right";
}

// Cuts follow what a reader takes for one character: an emoji sequence is
// never parted after its joiner nor before its skin tone, a flag keeps both
// halves, a Hangul syllable written as conjoining jamo stays whole.
TEST(VisualText, CutsKeepEmojiSequencesFlagsAndHangulSyllablesWhole) {
    const std::string family = "\U0001F469\u200D\U0001F467";  // woman ZWJ girl: one glyph
    EXPECT_EQ(GlyphCutPoints("a" + family + "b"), (std::vector<size_t>{1, 1 + family.size(), 2 + family.size()}));
    const std::string wave = "\U0001F44B\U0001F3FD";  // waving hand, medium skin tone
    EXPECT_EQ(GlyphCutPoints(wave + "x"), (std::vector<size_t>{wave.size(), wave.size() + 1}));
    const std::string flag = "\U0001F1EE\U0001F1F1";  // two regional indicators
    EXPECT_EQ(GlyphCutPoints(flag + flag), (std::vector<size_t>{flag.size(), 2 * flag.size()}));
    const std::string han = "\u1112\u1161\u11AB";  // hieut, a, nieun: one syllable in three jamo
    EXPECT_EQ(GlyphCutPoints(han + "\u1100\u1173\u11AF"), (std::vector<size_t>{9, 18}));
    EXPECT_EQ(CodePointCount(family), 3u);
    EXPECT_EQ(CodePointCount("a\xFF" "b"), 3u);

    // Shortened to a room of five code points, nothing is left half drawn.
    auto within = [](size_t room) { return [=](const std::string& t) { return CodePointCount(t) <= room; }; };
    EXPECT_EQ(ShortenedText("ab" + family + "cd", within(6)), "ab" + family + "\u2026");
    EXPECT_EQ(ShortenedText("ab" + family + "cd", within(5)), "ab\u2026") << "not the woman without her girl";
    EXPECT_EQ(ShortenedText("x" + wave + "yz", within(3)), "x\u2026") << "not the hand without its tone";
    EXPECT_EQ(ShortenedText(han + han, within(4)), han + "\u2026");
}

// The "…" stands beside the word that was cut, in the direction that word
// reads, whatever the paragraph's direction: the mark after it binds it.
TEST(VisualText, TheEllipsisStaysBesideTheCutWordInMixedText) {
    auto within = [](size_t room) { return [=](const std::string& t) { return CodePointCount(t) <= room; }; };
    // Hebrew first, then "with some English": the paragraph reads from the
    // right, the English run sits at its left, and the "…" follows "En".
    const std::string hebrewFirst = "\u05E2\u05D1\u05E8\u05D9\u05EA with some English";
    const std::string cut = ShortenedText(hebrewFirst, within(20));
    EXPECT_EQ(cut, "\u05E2\u05D1\u05E8\u05D9\u05EA with some En\u2026\u200E");
    EXPECT_EQ(VisualText(cut), "with some En\u2026 \u05EA\u05D9\u05E8\u05D1\u05E2");
    // Latin first, then Arabic cut: the "…" ends the Arabic word on its left.
    const std::string latinFirst = "Sub \u0627\u0631\u062A\u0637\u0627\u0645 \u062B\u0642\u064A\u0644";
    const std::string arabic = ShortenedText(latinFirst, within(9));
    EXPECT_EQ(arabic, "Sub \u0627\u0631\u062A\u2026\u200F");
    const std::string shown = VisualText(arabic);
    EXPECT_EQ(shown.rfind("Sub \u2026", 0), 0u) << "the \u2026 is at the Arabic word's reading end: " << shown;
    // Wholly Hebrew: on the left; wholly Latin: on the right, with no mark.
    EXPECT_EQ(VisualText(ShortenedText("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD", within(6))),
              "\u2026\u05DD\u05D5\u05DC\u05E9");
    EXPECT_EQ(ShortenedText("Impact Metal Heavy", within(13)), "Impact Metal\u2026");
}

// A cut inside an isolated name closes the isolate again, the "…" inside it:
// the count after a right-to-left chain name is not pulled into it.
TEST(VisualText, ACutInsideAnIsolateKeepsItClosed) {
    const std::string name = "\u05E9\u05E8\u05E9\u05E8\u05EA \u05D0\u05E8\u05D5\u05DB\u05D4";
    const std::string row = "\u2013  " + IsolatedText(name) + "  \u00B7 3";
    auto within = [](size_t room) { return [=](const std::string& t) { return CodePointCount(t) <= room; }; };
    const std::string cut = ShortenedText(row, within(12));
    ASSERT_GE(cut.size(), 3u);
    EXPECT_EQ(cut.substr(cut.size() - 3), "\u2069") << "the isolate is closed";
    EXPECT_NE(cut.find("\u2026\u200F\u2069"), std::string::npos) << cut;
    EXPECT_EQ(VisualText(cut).rfind("\u2013  \u2026", 0), 0u) << "the bullet first, then the cut name's reading end";
}
