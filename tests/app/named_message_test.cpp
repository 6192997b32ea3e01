// Messages that name a file or a folder, fitted to a line: the name gives up
// its letters (between whole characters, with "…") before the reason loses
// a word, and a name that reads from the right keeps the message reading
// from the left around it. Widths here are characters, as a stand-in for
// the font's measure: the rule only asks whether a candidate fits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/visual_text.h"
#include "document/named_message.h"
#include "platform/path_refusal.h"

namespace {

auto Within(size_t room) {
    return [=](const std::string& text) { return CodePointCount(VisualText(text)) <= room; };
}

const std::string kReason = " is unreadable (Permission denied)";
const std::string kLongFolder = "Field recordings from the north coast, final selects";

}  // namespace

TEST(NamedMessage, TheNameIsShortenedSoTheReasonStaysWhole) {
    const std::string message = QuotedName(kLongFolder) + kReason;
    EXPECT_EQ(message, "\u201C" + kLongFolder + "\u201D" + kReason) << "a Latin name needs no marks";
    EXPECT_EQ(ShortenedMessage(message, Within(200)), message) << "a message that fits is left whole";

    // 60 characters: the reason (34) and the quotes leave the name 24, "…" included.
    const std::string cut = ShortenedMessage(message, Within(60));
    EXPECT_EQ(cut, "\u201C" "Field recordings from t\u2026\u201D" + kReason);
    // The blanks before a cut go with it: no "from …".
    EXPECT_EQ(ShortenedMessage(message, Within(58)), "\u201C" "Field recordings from\u2026\u201D" + kReason);

    // A line too short for the reason even with the name down to "…": only
    // then does the message lose its end, by the same rule.
    EXPECT_EQ(ShortenedMessage(message, Within(37)), "\u201C\u2026\u201D" + kReason);
    EXPECT_EQ(ShortenedMessage(message, Within(19)), "\u201C\u2026\u201D is unreadable\u2026");
    EXPECT_EQ(ShortenedMessage(message, Within(0)), "");

    // The refusal the program shows for such a folder is written that way.
    EXPECT_EQ(RefusalSentence("/home/designer/" + kLongFolder, PathKind::Unreadable, PathWanted::Folder, 13),
              message);
}

// A name is cut between characters as a reader sees them: a letter keeps its
// accent, a Thai consonant its vowel, an emoji its skin tone.
TEST(NamedMessage, ANameIsCutBetweenWholeCharacters) {
    const std::string accented = "Cafe\u0301 Ambiance Matin Pluvieux";  // e + combining acute
    const std::string thai = "\u0E01\u0E34\u0E19\u0E02\u0E49\u0E32\u0E27";  // kin khao: vowels above consonants
    const std::string emoji = "Hands \U0001F44B\U0001F3FD\U0001F44B\U0001F3FD";
    for (const std::string& name : {accented, thai, emoji}) {
        SCOPED_TRACE(name);
        const std::string message = QuotedName(name) + " was not found";
        for (size_t room = 18; room < CodePointCount(message); ++room) {
            const std::string cut = ShortenedMessage(message, Within(room));
            ASSERT_TRUE(Within(room)(cut)) << room;
            const std::vector<MessageName> names = MessageNames(cut);
            ASSERT_EQ(names.size(), 1u) << cut;
            std::string kept = cut.substr(names[0].begin, names[0].end - names[0].begin);
            ASSERT_GE(kept.size(), 3u);
            ASSERT_EQ(kept.substr(kept.size() - 3), "\u2026");
            kept.resize(kept.size() - 3);
            const std::vector<size_t> cuts = GlyphCutPoints(name);
            EXPECT_TRUE(kept.empty() || std::find(cuts.begin(), cuts.end(), kept.size()) != cuts.end())
                << "cut inside a character at byte " << kept.size() << " in a room of " << room;
            EXPECT_EQ(name.rfind(kept, 0), 0u);
            EXPECT_EQ(cut.substr(names[0].end), "\u201D was not found");
        }
    }
    // The accent stays on its letter: "Caf…", never "Cafe…" with the accent lost.
    EXPECT_EQ(ShortenedMessage(QuotedName(accented) + " was not found", Within(21)),
              "\u201C" "Caf\u2026\u201D was not found");
}

// Where a message's names stand: plain quotes, or an isolate inside them that
// lets the name hold a closing quote of its own.
TEST(NamedMessage, NamesAreFoundByTheirQuotesAndIsolates) {
    const std::string tricky = "Take \u201D7\u201D final";
    const std::string message = QuotedName("Reel.wav") + " and " + QuotedName(tricky) + " are folders";
    const std::vector<MessageName> names = MessageNames(message);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(message.substr(names[0].begin, names[0].end - names[0].begin), "Reel.wav");
    EXPECT_FALSE(names[0].isolated);
    EXPECT_EQ(message.substr(names[1].begin, names[1].end - names[1].begin), tricky);
    EXPECT_TRUE(names[1].isolated);
    EXPECT_TRUE(MessageNames("Export complete \u2014 79 files").empty());
    EXPECT_TRUE(MessageNames("\u201Cnever closed").empty());

    // Two names: the first gives up its letters first, the second only when
    // the first is down to "…".
    const std::string two = QuotedName("Ambience Library One") + " replaced by " + QuotedName("Ambience Library Two");
    EXPECT_EQ(ShortenedMessage(two, Within(50)),
              "\u201C" "Ambience Lib\u2026\u201D replaced by \u201C" "Ambience Library Two\u201D");
    EXPECT_EQ(ShortenedMessage(two, Within(30)), "\u201C\u2026\u201D replaced by \u201C" "Ambience Li\u2026\u201D");

    // A name not in quotes ("Scanning folder: NAME") is handed over apart.
    EXPECT_EQ(ShortenedMessage("Scanning folder: ", kLongFolder, "", Within(30)),
              "Scanning folder: Field record\u2026");
    EXPECT_EQ(ShortenedMessage("", "Foley Takes", ": 4 files skipped (unsupported format)", Within(42)),
              "Fol\u2026: 4 files skipped (unsupported format)");
}

// A Hebrew folder's name keeps its own direction; the message around it reads
// from the left: quotes, name, reason, in that order on screen.
TEST(NamedMessage, ARightToLeftNameIsIsolatedSoTheMessageKeepsItsDirection) {
    const std::string hebrew = "\u05D4\u05E7\u05DC\u05D8\u05D5\u05EA \u05E9\u05D3\u05D4";  // "field recordings"
    const std::string shown = VisualText(hebrew);
    // Written by hand without the isolate, the name's first letter turns the
    // whole line right to left: the reason is drawn first.
    const std::string plain = "\u201C" + hebrew + "\u201D" + kReason;
    EXPECT_NE(VisualText(plain).rfind("\u201C", 0), 0u) << VisualText(plain);

    const std::string message = QuotedName(hebrew) + kReason;
    EXPECT_NE(message, plain) << "the name is isolated";
    EXPECT_EQ(VisualText(message), "\u201C" + shown + "\u201D" + kReason);
    EXPECT_EQ(RefusalSentence("/srv/" + hebrew, PathKind::Unreadable, PathWanted::Folder, 13), message);
    // Fitting a message isolates a right-to-left name written without marks.
    EXPECT_EQ(VisualText(ShortenedMessage(plain, Within(200))), "\u201C" + shown + "\u201D" + kReason);

    // Cut, the "…" stays at the name's reading end (its left) and the reason
    // after it.
    const std::string cut = VisualText(ShortenedMessage(message, Within(CodePointCount(kReason) + 7)));
    EXPECT_EQ(cut.rfind("\u201C\u2026", 0), 0u) << cut;
    EXPECT_EQ(cut.substr(cut.size() - kReason.size() - 3), "\u201D" + kReason) << cut;
    // So does a scan's note about such a folder.
    EXPECT_EQ(VisualText(ShortenedMessage("", hebrew, ": No audio files found.", Within(200))),
              shown + ": No audio files found.");
}
