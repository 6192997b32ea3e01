// The colour functions: shapes, groups, weight levels and meters.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "operations/app_state.h"
#include "ui/ui_colors.h"

namespace {

// Channel by channel within one step (the blend truncates a float sum).
void ExpectNearColor(uint32_t actual, uint32_t expected) {
    for (int shift = 0; shift < 32; shift += 8) {
        int a = static_cast<int>((actual >> shift) & 0xFF), e = static_cast<int>((expected >> shift) & 0xFF);
        EXPECT_LE(std::abs(a - e), 1) << std::hex << actual << " vs " << expected << " at bit " << std::dec << shift;
    }
}

}  // namespace

TEST(ColorFunctions, AlphaShapesAndGroups) {
    EXPECT_EQ(WithAlpha(0x12345678, 0xAB), 0xAB345678u);
    EXPECT_EQ(WithAlpha(0xFF000000, 0), 0x00000000u);
    EXPECT_EQ(WithAlpha(0x00FFFFFF, 300), 0xFFFFFFFFu) << "alpha is a byte";

    EXPECT_EQ(ShapeColor(0, 255), 0xFF82B450u);
    EXPECT_EQ(ShapeColor(4, 128), 0x8050B4F0u);
    EXPECT_EQ(ShapeColor(6, 200), 0xC8A5AF96u);
    EXPECT_EQ(ShapeColor(7, 255), 0xFF969696u);
    EXPECT_EQ(ShapeColor(-1, 255), 0xFF969696u);
    EXPECT_EQ(ShapeColor(-2147483647 - 1, 255), 0xFF969696u);

    EXPECT_EQ(GroupColor(0), 0xC864737Du);
    EXPECT_EQ(GroupColor(1), 0xC8D28C50u);
    EXPECT_EQ(GroupColor(2), 0xC882B450u);
    EXPECT_EQ(GroupColor(3), 0xC8969696u);
    EXPECT_EQ(GroupColor(-1), 0xC8969696u);
}

TEST(ColorFunctions, LevelColorRunsFromLowOverMidToHigh) {
    WeightColors w;  // the defaults 0xFF540144, 0xFF8C9121, 0xFF25E7FD
    EXPECT_EQ(LevelColor(0.1f, w), 0xC8540144u);
    EXPECT_EQ(LevelColor(0.0f, w), 0xC8540144u);
    EXPECT_EQ(LevelColor(-3.0f, w), 0xC8540144u);
    EXPECT_EQ(LevelColor(0.5f, w), 0xC88C9121u);
    EXPECT_EQ(LevelColor(0.9f, w), 0xC825E7FDu);
    EXPECT_EQ(LevelColor(1.7f, w), 0xC825E7FDu);
    // Halfway between mid and high: (0x21+0xFD)/2, (0x91+0xE7)/2, (0x8C+0x25)/2.
    ExpectNearColor(LevelColor(0.7f, w), 0xC858BC8F);
    // A quarter of the way from low to mid.
    ExpectNearColor(LevelColor(0.2f, w), 0xC862253B);

    // Not a number, or infinite, counts as 0.
    EXPECT_EQ(LevelColor(std::numeric_limits<float>::quiet_NaN(), w), 0xC8540144u);
    EXPECT_EQ(LevelColor(std::numeric_limits<float>::infinity(), w), 0xC8540144u);

    // The one-argument form reads the preferences' colours.
    WeightColors saved = gAppState.weightColors;
    gAppState.weightColors.weightColorHigh = 0xFF0000FF;
    EXPECT_EQ(LevelColor(1.0f), 0xC80000FFu);
    gAppState.weightColors = saved;
}

TEST(ColorFunctions, MeterLevelIsA48DecibelScale) {
    EXPECT_EQ(MeterLevel(0.0039f), 0.0f);
    EXPECT_NEAR(MeterLevel(0.004f), 0.00086f, 0.00002f);
    EXPECT_NEAR(MeterLevel(0.5f), 0.8746f, 0.0001f);
    EXPECT_EQ(MeterLevel(1.0f), 1.0f);
    EXPECT_EQ(MeterLevel(2.0f), 1.0f);
    EXPECT_EQ(MeterLevel(-1.0f), 0.0f);
    EXPECT_EQ(MeterLevel(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(MeterLevel(std::numeric_limits<float>::infinity()), 0.0f);
}
