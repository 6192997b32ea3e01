// The thumbnail's size rule and its bilinear scaling, checked against what a
// linear ramp must give.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "persistence/project_thumbnail.h"

namespace {

// width × height RGBA: red = f(x), green = g(y), blue 77, alpha 0.
template <class FX, class GY>
std::vector<uint8_t> Picture(int width, int height, FX f, GY g) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
            p[0] = static_cast<uint8_t>(f(x));
            p[1] = static_cast<uint8_t>(g(y));
            p[2] = 77;
            p[3] = 0;
        }
    return rgba;
}

uint8_t At(const ThumbnailImage& t, int x, int y, int c) {
    return t.rgba[(static_cast<size_t>(y) * static_cast<size_t>(t.width) + static_cast<size_t>(x)) * 4 +
                  static_cast<size_t>(c)];
}

// Where output pixel i of n samples a source of `size` pixels, clamped to the
// outermost pixel centres (where a ramp's interpolation is exact).
double SamplePosition(int i, int n, int size) {
    const double s = (i + 0.5) * size / n - 0.5;
    return std::clamp(s, 0.0, double(size - 1));
}

}  // namespace

TEST(Thumbnail, SizeFollowsTheBackBuffer) {
    EXPECT_EQ(ThumbnailHeightFor(1920, 1080), 225);
    EXPECT_EQ(ThumbnailHeightFor(1280, 720), 225);
    EXPECT_EQ(ThumbnailHeightFor(300, 200), 266);  // narrower than 400: scaled up
    EXPECT_EQ(ThumbnailHeightFor(4000, 4), 1);     // 0 by the rule, at least 1
    EXPECT_EQ(ThumbnailHeightFor(0, 720), 0);

    const std::vector<uint8_t> wide = Picture(4000, 4, [](int) { return 10; }, [](int) { return 20; });
    const ThumbnailImage t = ScaleThumbnail(wide.data(), 4000, 4, 4000 * 4);
    EXPECT_EQ(t.width, 400);
    EXPECT_EQ(t.height, 1);
    EXPECT_TRUE(ScaleThumbnail(nullptr, 1280, 720, 1280 * 4).rgba.empty());
}

TEST(Thumbnail, BilinearScalingReproducesARampAndIsOpaque) {
    // Down: 1600 × 900 to 400 × 225, ramps of x / 8 and y / 4.
    {
        const auto src = Picture(1600, 900, [](int x) { return x / 8; }, [](int y) { return y / 4; });
        const ThumbnailImage t = ScaleThumbnail(src.data(), 1600, 900, 1600 * 4);
        ASSERT_EQ(t.height, 225);
        for (int y = 0; y < t.height; y += 7)
            for (int x = 0; x < t.width; x += 13) {
                // Four source pixels of one output pixel share x / 8 except at
                // the ramp's steps; the mean of the ramp lies within one step.
                const double rx = SamplePosition(x, 400, 1600) / 8.0;
                const double gy = SamplePosition(y, 225, 900) / 4.0;
                EXPECT_NEAR(At(t, x, y, 0), rx, 1.0) << x << "," << y;
                EXPECT_NEAR(At(t, x, y, 1), gy, 1.0) << x << "," << y;
                EXPECT_EQ(At(t, x, y, 2), 77);
                EXPECT_EQ(At(t, x, y, 3), 255);
            }
    }
    // Up: 300 × 200 to 400 × 266; a ramp of one step per pixel is
    // interpolated exactly, so the result is the rounded sample position.
    {
        const auto src = Picture(300, 200, [](int x) { return x * 255 / 299; }, [](int y) { return y; });
        const ThumbnailImage t = ScaleThumbnail(src.data(), 300, 200, 300 * 4);
        ASSERT_EQ(t.height, 266);
        for (int x = 0; x < 400; ++x) {
            const double s = SamplePosition(x, 400, 300);
            const int x0 = int(s);
            const double expected = (x0 * 255 / 299) + (s - x0) * ((std::min(x0 + 1, 299) * 255 / 299) - (x0 * 255 / 299));
            EXPECT_NEAR(At(t, x, 100, 0), std::floor(expected + 0.5), 1.0) << x;
        }
        for (int y = 0; y < 266; ++y)
            EXPECT_EQ(At(t, 200, y, 1), static_cast<int>(std::floor(SamplePosition(y, 266, 200) + 0.5))) << y;
    }
    // A row pitch wider than the row is honoured.
    {
        std::vector<uint8_t> padded(static_cast<size_t>(800 * 4 + 64) * 450, 255);
        const auto src = Picture(800, 450, [](int) { return 40; }, [](int) { return 60; });
        for (int y = 0; y < 450; ++y)
            std::copy_n(&src[static_cast<size_t>(y) * 800 * 4], 800 * 4, &padded[static_cast<size_t>(y) * (800 * 4 + 64)]);
        const ThumbnailImage t = ScaleThumbnail(padded.data(), 800, 450, 800 * 4 + 64);
        for (size_t i = 0; i < t.rgba.size(); i += 4) {
            ASSERT_EQ(t.rgba[i], 40);
            ASSERT_EQ(t.rgba[i + 1], 60);
        }
    }
}
