// ui_colors.cpp — shape, group, weight and meter colours.
#include "ui/ui_colors.h"

#include <algorithm>
#include <cmath>

#include "operations/app_state.h"

uint32_t ShapeColor(int shape, int alpha) {
    // 0xBBGGRR per shape: Spot, Bloom, Contour, Fill, Scatter, Clip, Bed.
    static const uint32_t kShapes[] = {0x82B450, 0xD28C50, 0x6487A0, 0xB9C3C8, 0x50B4F0, 0x918C8C, 0xA5AF96};
    const uint32_t rgb = shape >= 0 && shape < 7 ? kShapes[shape] : 0x969696u;
    return WithAlpha(rgb, alpha);
}

uint32_t GroupColor(int group) {
    switch (group) {
        case 0: return 0xC864737D;  // BG
        case 1: return 0xC8D28C50;  // FX A
        case 2: return 0xC882B450;  // FX B
        default: return 0xC8969696;
    }
}

namespace {

// Per channel, truncated: a × (1 − f) + b × f; alpha 200.
uint32_t Blend(uint32_t a, uint32_t b, float f) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const float ca = static_cast<float>((a >> shift) & 0xFF);
        const float cb = static_cast<float>((b >> shift) & 0xFF);
        const auto c = static_cast<uint32_t>(ca * (1.0f - f) + cb * f);
        out |= std::min(c, 255u) << shift;
    }
    return WithAlpha(out, 200);
}

}  // namespace

uint32_t LevelColor(float level) { return LevelColor(level, gAppState.weightColors); }

uint32_t LevelColor(float level, const WeightColors& colors) {
    if (!std::isfinite(level)) level = 0;
    level = std::clamp(level, 0.0f, 1.0f);
    if (level <= 0.1f) return WithAlpha(colors.weightColorLow, 200);
    if (level >= 0.9f) return WithAlpha(colors.weightColorHigh, 200);
    if (level >= 0.5f) return Blend(colors.weightColorMid, colors.weightColorHigh, (level - 0.5f) / 0.4f);
    return Blend(colors.weightColorLow, colors.weightColorMid, (level - 0.1f) / 0.4f);
}

float MeterLevel(float amplitude) {
    if (!std::isfinite(amplitude) || amplitude < 0.004f) return 0;
    const float v = (20.0f * std::log10(amplitude) + 48.0f) / 48.0f;
    return std::clamp(v, 0.0f, 1.0f);
}
