// Fitting a sound file into an event: regions by shape, sync points, fades and profiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "document/curve.h"
#include "document/event.h"
#include "render/fitting.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

LibraryEntry WriteSound(const TempDir& dir, const BurstSound& sound) {
    const std::string path = dir.File(sound.name + ".wav");
    EXPECT_TRUE(WriteBurstSound(path, sound));
    return EntryForBurstSound(path, sound);
}

bool SameFit(const FitResult& a, const FitResult& b) {
    return a.sourceOffset == b.sourceOffset && a.sourceDuration == b.sourceDuration &&
           a.syncTime == b.syncTime && a.fadeIn == b.fadeIn && a.fadeOut == b.fadeOut;
}

Event EventWithCurves(float weight, float intensity) {
    Event ev;
    ev.duration = 2.0f;
    FillCurve(ev.weight, weight);
    FillCurve(ev.intensity, intensity);
    return ev;
}

// The intensity fades written out step by step as specified: both walks in
// float from their end of the span, any span, nothing clamped.
void SpecifiedIntensityCurveFades(const Event& ev, float a, float b, float q, float len, float& fadeIn,
                                  float& fadeOut) {
    const float threshold = 0.4f + 0.6f * q;
    auto value = [&](float t) { return SampleCurve256(ev.intensity, t) * ev.intensityScale; };
    float rise = 0.0f;
    for (float t = a; t < b; t += 1.0f / 256.0f) {
        if (value(t) >= threshold) break;
        rise = t - a;
    }
    float fall = 0.0f;
    for (float t = b; t > a; t -= 1.0f / 256.0f) {
        if (value(t) >= threshold) break;
        fall = b - t;
    }
    const float span = std::max(0.01f, b - a);
    fadeIn = std::min(std::max(rise / span * len, 0.01f), std::max(0.4f * len, 0.01f));
    fadeOut = std::min(std::max(fall / span * len, 0.02f), std::max(0.4f * len, 0.02f));
}

}  // namespace

TEST(FitSound, ShortFileIsUsedWholeWithOnsetOrPeak) {
    TempDir dir;
    // A slow 0.1 s attack: the onset (a fifth of the loudest level) comes
    // about 0.02 s after the burst starts, the peak only after the attack.
    BurstSound s{"short", 0.6, 48000, 1, {{0.3, 0.25, 0.8, 1000, 0.1, 0.01}}};
    LibraryEntry e = WriteSound(dir, s);
    uint32_t state = 5;
    FitResult spot = FitSoundToEvent(e, 1.0f, kShapeSpot, state, nullptr, 1, 0.5f, nullptr, nullptr);
    EXPECT_EQ(state, 5u);  // nothing drawn
    EXPECT_EQ(spot.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(spot.sourceDuration, e.duration);
    EXPECT_NEAR(spot.syncTime, 0.32f, 0.01f);

    FitResult bloom = FitSoundToEvent(e, 1.0f, kShapeBloom, state, nullptr, 1, 0.5f, nullptr, nullptr);
    EXPECT_EQ(bloom.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(bloom.sourceDuration, e.duration);
    EXPECT_GE(bloom.syncTime, 0.395f);
    EXPECT_LE(bloom.syncTime, 0.55f);
    EXPECT_GT(spot.fadeOut, 0.0f);
    EXPECT_GT(spot.fadeIn, 0.0f);
}

TEST(FitSound, FillTakesARandomWindowOfExactLength) {
    TempDir dir;
    BurstSound s{"bed", 3.0, 48000, 1, {{0.0, 3.0, 0.5, 0, 0.01, 0.01}}};
    LibraryEntry e = WriteSound(dir, s);
    float lo = 10, hi = -10;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        uint32_t state = seed;
        FitResult f = FitSoundToEvent(e, 1.0f, kShapeFill, state, nullptr, 1, 0.5f, nullptr, nullptr);
        EXPECT_EQ(f.sourceDuration, 1.0f);
        EXPECT_EQ(f.syncTime, 0.0f);
        EXPECT_GE(f.sourceOffset, 0.0f);
        EXPECT_LE(f.sourceOffset, e.duration - 1.0f);
        EXPECT_NE(state, seed);
        lo = std::min(lo, f.sourceOffset);
        hi = std::max(hi, f.sourceOffset);
        // The same seed gives the same fit.
        uint32_t again = seed;
        EXPECT_TRUE(SameFit(f, FitSoundToEvent(e, 1.0f, kShapeFill, again, nullptr, 1, 0.5f, nullptr, nullptr)));
        EXPECT_EQ(again, state);
    }
    EXPECT_GT(hi - lo, 0.5f);  // the window really moves with the draw
}

TEST(FitSound, ContourMatchPutsTheBurstUnderTheCurvePeak) {
    TempDir dir;
    BurstSound s{"swell", 8.0, 24000, 1, {{5.0, 0.3, 0.8, 500, 0.01, 0.01}}};
    LibraryEntry e = WriteSound(dir, s);
    const float D = 2.0f;
    const float burstMiddle = 5.15f;
    for (float peak : {0.75f, 0.25f}) {
        Curve256 curve;
        FillCosineCurve(curve, peak, 0.0f, 1.0f);
        uint32_t state = 1;
        FitResult f = FitSoundToEvent(e, D, kShapeBloom, state, &curve, 1.0f, peak, nullptr, nullptr);
        EXPECT_EQ(state, 1u);  // the match draws nothing
        EXPECT_NEAR((burstMiddle - f.sourceOffset) / D, peak, 0.08f) << "peak " << peak;
        EXPECT_LE(f.sourceDuration, D + 0.24f + 1e-6f);
        EXPECT_GE(f.syncTime, 0.0f);
        EXPECT_LE(f.syncTime, f.sourceDuration);
        EXPECT_NEAR(f.sourceOffset + f.syncTime, 5.1f, 0.2f);  // synced on the burst

        // A ready profile steers the same way.
        float profile[16];
        SampleCurveBins(curve, 1.0f, profile, 16);
        FitResult g = FitSoundToEvent(e, D, kShapeContour, state, nullptr, 1.0f, peak, nullptr, profile);
        EXPECT_NEAR((burstMiddle - g.sourceOffset) / D, peak, 0.08f) << "peak " << peak;
    }
    // Without a curve the window is drawn at random.
    uint32_t state = 9;
    FitResult r = FitSoundToEvent(e, D, kShapeBloom, state, nullptr, 1.0f, 0.5f, nullptr, nullptr);
    EXPECT_NE(state, 9u);
    EXPECT_GE(r.sourceOffset, 0.0f);
    EXPECT_LE(r.sourceOffset + r.sourceDuration, e.duration + 1e-4f);
}

TEST(FitSound, UsedSegmentsAreDrawnFiftyTimesLessOften) {
    TempDir dir;
    BurstSound s{"pair", 2.0, 24000, 1,
                 {{0.3, 0.3, 0.7, 800, 0.005, 0.005}, {1.3, 0.3, 0.7, 800, 0.005, 0.005}}};
    LibraryEntry e = WriteSound(dir, s);
    std::vector<UsedSound> used = {{e.path, 0.3f, 0.3f, 0.0f}, {"/other.wav", 1.3f, 0.3f, 0.0f}};

    auto countFirst = [&](const std::vector<UsedSound>* list, uint32_t seeds, int& second) {
        int first = 0;
        second = 0;
        for (uint32_t seed = 1; seed <= seeds; ++seed) {
            uint32_t state = seed;
            FitResult f = FitSoundToEvent(e, 0.2f, kShapeSpot, state, nullptr, 1, 0.5f, list, nullptr);
            EXPECT_GE(f.sourceDuration, 0.04f);
            (f.sourceOffset < 1.0f ? first : second) += 1;
        }
        return first;
    };
    int unusedCount = 0;
    const int usedCount = countFirst(&used, 2000, unusedCount);
    const double ratio = static_cast<double>(usedCount) / unusedCount;
    EXPECT_GT(ratio, 0.008);
    EXPECT_LT(ratio, 0.04);  // 0.02 expected

    int other = 0;
    const int plain = countFirst(nullptr, 300, other);
    EXPECT_GT(plain, 100);
    EXPECT_GT(other, 100);

    // However short the wanted length, a segment region lasts 0.04 s; the
    // same seed gives the same region.
    for (int shape : {int{kShapeSpot}, int{kShapeScatter}}) {
        uint32_t a = 77, b = 77;
        FitResult f = FitSoundToEvent(e, 0.005f, shape, a, nullptr, 1, 0.5f, nullptr, nullptr);
        EXPECT_TRUE(SameFit(f, FitSoundToEvent(e, 0.005f, shape, b, nullptr, 1, 0.5f, nullptr, nullptr)));
        EXPECT_EQ(a, b);
        EXPECT_GE(f.sourceDuration, 0.04f);
        EXPECT_LE(f.syncTime, f.sourceDuration);
    }
}

TEST(FitSound, BrokenLengthsGiveFiniteFits) {
    TempDir dir;
    BurstSound s{"any", 1.0, 24000, 1, {{0.1, 0.5, 0.5, 440, 0.01, 0.01}}};
    LibraryEntry e = WriteSound(dir, s);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Curve256 curve;
    FillCurve(curve, 1.0f);
    for (float fileLength : {e.duration, 0.0f, nan, -2.0f, 1e12f}) {
        LibraryEntry broken = e;
        broken.duration = fileLength;
        for (float D : {0.0f, -1.0f, nan, inf, 0.3f}) {
            for (int shape = 0; shape < 5; ++shape) {
                uint32_t state = 1;
                FitResult f = FitSoundToEvent(broken, D, shape, state, &curve, 1, 0.5f, nullptr, nullptr);
                for (float v : {f.sourceOffset, f.sourceDuration, f.syncTime, f.fadeIn, f.fadeOut}) {
                    EXPECT_TRUE(std::isfinite(v));
                    EXPECT_GE(v, 0.0f);
                }
            }
        }
    }
}

TEST(LayerFades, WeightCurveFades) {
    LibraryEntry e = MakeEntry("s", 2.0f);
    e.spectralFlatness = 0.5f;
    const float f = SoundFadeFactor(e);
    float in = -1, out = -1;

    // The event's weight is nowhere near the layer's: 0.4 of the layer's length each.
    Event far = EventWithCurves(0.0f, 1.0f);
    WeightCurveFades(far, 0.0f, e, 1.0f, 0.5f, 1.0f, in, out);
    EXPECT_FLOAT_EQ(in, 0.4f);
    EXPECT_FLOAT_EQ(out, 0.4f);
    WeightCurveFades(far, 0.0f, e, 1.0f, 0.0f, 2.5f, in, out);
    EXPECT_FLOAT_EQ(in, 1.0f);
    EXPECT_FLOAT_EQ(out, 1.0f);

    // A perfect match everywhere: only the minimum fades.
    Event match = EventWithCurves(0.6f, 1.0f);
    WeightCurveFades(match, 0.0f, e, 0.6f, 0.5f, 1.0f, in, out);
    EXPECT_FLOAT_EQ(in, 0.2f * f + 0.04f);
    EXPECT_FLOAT_EQ(out, 0.2f * f + 0.06f);

    // Matching only in the middle: long fades, within their joint limit.
    Event hump = EventWithCurves(0.0f, 1.0f);
    FillCosineCurve(hump.weight, 0.5f, 0.0f, 1.0f);
    const float len = 2.0f;
    WeightCurveFades(hump, 0.0f, e, 1.0f, 0.0f, len, in, out);
    EXPECT_GT(in, 0.2f * f + 0.04f);
    EXPECT_GT(out, 0.2f * f + 0.06f);
    EXPECT_NEAR(in, out, 0.05f);
    EXPECT_LE(in + out, (0.12f * f + 0.8f) * len + 1e-5f);
}

TEST(LayerFades, IntensityCurveFades) {
    float in = -1, out = -1;
    Event flat = EventWithCurves(0.5f, 1.0f);
    IntensityCurveFades(flat, 0.0f, 1.0f, 0.0f, 2.0f, in, out);
    EXPECT_FLOAT_EQ(in, 0.01f);
    EXPECT_FLOAT_EQ(out, 0.02f);

    // Silent until the middle, then loud: the rise lasts until the curve
    // crosses the threshold 0.4 just before t = 0.5; steps of 1/256 from 0.25
    // leave 63 steps below it, so rise = 63/256 of a 0.75 span of 3 s.
    Event step = EventWithCurves(0.5f, 0.0f);
    for (int i = 128; i < 256; ++i) step.intensity[i] = 1.0f;
    IntensityCurveFades(step, 0.25f, 1.0f, 0.0f, 3.0f, in, out);
    EXPECT_NEAR(in, 63.0f / 256.0f / 0.75f * 3.0f, 1e-4);
    EXPECT_FLOAT_EQ(out, 0.02f);
    // Mirrored: loud, then silent; the fall is capped at 0.4 of the length.
    Event fall = EventWithCurves(0.5f, 1.0f);
    for (int i = 128; i < 256; ++i) fall.intensity[i] = 0.0f;
    IntensityCurveFades(fall, 0.0f, 1.0f, 0.0f, 3.0f, in, out);
    EXPECT_FLOAT_EQ(in, 0.01f);
    EXPECT_FLOAT_EQ(out, 1.2f);
    // Spans that are not numbers, or absurdly wide, come back at once.
    IntensityCurveFades(step, 0.0f, std::numeric_limits<float>::infinity(), 0.0f, 3.0f, in, out);
    EXPECT_FLOAT_EQ(in, 0.01f);
    IntensityCurveFades(step, -1e9f, 1e9f, 0.5f, 3.0f, in, out);
    EXPECT_TRUE(std::isfinite(in) && std::isfinite(out));
}

TEST(LayerFades, IntensityCurveFadesWalkTheWholeSpanOfShortEvents) {
    // Layers of very short events reach far past them (a pinned layer of a
    // 0.05 s event spans about -2.4 .. 3.4 event lengths); every such span is
    // walked as specified.
    std::mt19937 rng(1207);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int wide = 0;
    for (int trial = 0; trial < 400; ++trial) {
        Event ev = EventWithCurves(0.5f, 0.0f);
        FillRandomSparseCurve(ev.intensity, 0.0f, 1.0f, static_cast<unsigned>(trial + 1));
        ev.intensityScale = 0.5f + unit(rng);
        const float a = -8.0f + 9.0f * unit(rng);
        const float b = a + 12.0f * unit(rng);
        const float q = unit(rng);
        const float len = 0.01f + 4.0f * unit(rng);
        if (a < -1.0f && b > 2.0f) ++wide;
        float in = 0, out = 0, wantIn = 0, wantOut = 0;
        IntensityCurveFades(ev, a, b, q, len, in, out);
        SpecifiedIntensityCurveFades(ev, a, b, q, len, wantIn, wantOut);
        EXPECT_EQ(in, wantIn) << a << " .. " << b;
        EXPECT_EQ(out, wantOut) << a << " .. " << b;
    }
    EXPECT_GT(wide, 50);
}

TEST(Profiles, CurveBinsAndLevelWindows) {
    Curve256 ramp;
    for (int i = 0; i < 256; ++i) ramp[i] = 2.0f * i / 255.0f;
    float bins[16];
    SampleCurveBins(ramp, 3.0f, bins, 16);
    EXPECT_FLOAT_EQ(bins[15], 1.0f);
    EXPECT_NEAR(bins[0], 1.0f / 31.0f, 1e-5);
    for (int j = 1; j < 16; ++j) EXPECT_GT(bins[j], bins[j - 1]);
    Curve256 zero{};
    SampleCurveBins(zero, 1.0f, bins, 16);
    for (float v : bins) EXPECT_EQ(v, 0.0f);

    // 40 level points over 2 s (20 per second), point i = i.
    std::vector<float> levels(40);
    for (int i = 0; i < 40; ++i) levels[i] = static_cast<float>(i);
    float win[4];
    AverageLevelWindow(levels, 2.0f, 0.5f, 1.0f, win, 4);  // points 10..29, five per bin
    EXPECT_NEAR(win[0], 12.0f / 27.0f, 1e-6);
    EXPECT_NEAR(win[1], 17.0f / 27.0f, 1e-6);
    EXPECT_NEAR(win[2], 22.0f / 27.0f, 1e-6);
    EXPECT_FLOAT_EQ(win[3], 1.0f);
    // A bin narrower than a point reads the point it starts in.
    AverageLevelWindow(levels, 2.0f, 1.0f, 0.02f, win, 4);
    for (float v : win) EXPECT_FLOAT_EQ(v, 1.0f);
    // Past the end of the file only the last point remains.
    AverageLevelWindow(levels, 2.0f, 1.9f, 1.0f, win, 4);
    EXPECT_NEAR(win[0], 38.5f / 39.0f, 1e-6);
    EXPECT_FLOAT_EQ(win[3], 1.0f);
    // No levels, or no file length: zeros.
    AverageLevelWindow({}, 2.0f, 0.0f, 1.0f, win, 4);
    for (float v : win) EXPECT_EQ(v, 0.0f);
    AverageLevelWindow(levels, 0.0f, 0.0f, 1.0f, win, 4);
    for (float v : win) EXPECT_EQ(v, 0.0f);
}
