// The name check every file-name-making feature shares: what it refuses and
// what it must let through (names people really give sounds and recipes).
#include <gtest/gtest.h>

#include "platform/file_names.h"

TEST(FileNameProblem, RefusesNamesThatLeaveOrBreakTheFolder) {
    for (const char* bad : {"", ".", "..", "../../escaped", "a/b", "/etc/passwd", "dots..inside", "tab\there",
                            "line\nbreak", "bell\x07", "del\x7F"}) {
        EXPECT_FALSE(FileNameProblem(bad).empty()) << '"' << bad << '"';
    }
    EXPECT_NE(FileNameProblem("../x").find("\"/\""), std::string::npos) << "the first problem is named";
    EXPECT_NE(FileNameProblem("..x").find("\"..\""), std::string::npos);
    EXPECT_NE(FileNameProblem("a\nb").find("control"), std::string::npos);
}

TEST(FileNameProblem, AcceptsOrdinaryNames) {
    for (const char* good : {"Door Slam", "Reel.v2", ".hidden start", "Foley_01 - take 3", "caf\xC3\xA9 \xE9\x9F\xB3",
                             "a\\b", "x:y", "trailing.", "  spaced  "}) {
        EXPECT_EQ(FileNameProblem(good), "") << '"' << good << '"';
    }
}

// The extension check of the save dialog and of the export's base name.
TEST(EndsWithNoCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(EndsWithNoCase("Reel.WAV", ".wav"));
    EXPECT_TRUE(EndsWithNoCase("reel.aaf", ".AaF"));
    EXPECT_TRUE(EndsWithNoCase(".wav", ".wav"));
    EXPECT_FALSE(EndsWithNoCase("wav", ".wav")) << "a tail longer than the text";
    EXPECT_FALSE(EndsWithNoCase("Reel.wav ", ".wav"));
    // Bytes of other characters are compared as they are, whatever the
    // locale: "É" (C3 89) is not "é" (C3 A9), nor is 0xC9 0xE9.
    EXPECT_FALSE(EndsWithNoCase("caf\xC3\x89", "\xC3\xA9"));
    EXPECT_FALSE(EndsWithNoCase("x\xC9", "\xE9"));
    EXPECT_TRUE(EndsWithNoCase("CAF\xC3\xA9", "f\xC3\xA9"));
}
