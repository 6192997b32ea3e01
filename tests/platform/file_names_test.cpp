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
