// The toast's colour by the words of its text, and its fall-off.
#include <gtest/gtest.h>

#include <cmath>

#include "ui/toast_logic.h"

TEST(ToastLogic, ColourByWordsWithoutRegardToCase) {
    struct Case {
        const char* text;
        uint32_t colour;
    } const cases[] = {
        {"Save failed", kToastRed},
        {"Error: Damaged file (incomplete JSON)", kToastRed},
        {"AAF export FAILED \xE2\x80\x94 3 files missing", kToastRed},  // red beats amber
        {"Opened (some files missing)", kToastAmber},
        {"2 sounds unreadable", kToastAmber},
        {"Rendered 4 events (1 Sketch)", kToastAmber},
        {"Project saved", kToastGreen},
        {"", kToastGreen},
    };
    for (const Case& c : cases) EXPECT_EQ(ToastColor(c.text), c.colour) << c.text;
}

TEST(ToastLogic, AlphaHoldsThenFallsToNothing) {
    EXPECT_EQ(ToastAlpha(3.0f), kToastMaxAlpha);
    EXPECT_EQ(ToastAlpha(kToastFadeSeconds), kToastMaxAlpha);
    EXPECT_EQ(ToastAlpha(kToastFadeSeconds / 2), kToastMaxAlpha / 2);
    EXPECT_EQ(ToastAlpha(0), 0);
    EXPECT_EQ(ToastAlpha(-1), 0);
    EXPECT_EQ(ToastAlpha(std::nanf("")), 0);
    EXPECT_EQ(ToastPackedColor("Save failed", 2.0f), kToastRed | 0xC8000000u);
}
