// curve.cpp — sampling, generators, smoothing and painting of the 256-point event curves.
#include "document/curve.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

float SampleCurve256(const Curve256& curve, float t) {
    // A NaN t reads point 0; nothing is ever extrapolated.
    if (!(t > 0.0f)) t = 0.0f;
    if (t > 1.0f) t = 1.0f;
    float pos = t * 255.0f;
    int i = static_cast<int>(pos);
    i = std::clamp(i, 0, 254);
    return curve[i] + (curve[i + 1] - curve[i]) * (pos - static_cast<float>(i));
}

void FillCurve(Curve256& curve, float value) { curve.fill(value); }

void FillCosineCurve(Curve256& curve, float peak, float lo, float hi) {
    const float pi = 3.14159265358979f;
    float p = std::clamp(peak, 0.0f, 1.0f);
    if (!(p == p)) p = 0.5f;
    for (int i = 0; i < 256; ++i) {
        float t = static_cast<float>(i) / 255.0f;
        float v;
        if (p < 0.001f) {
            v = (std::cos(pi * t) + 1.0f) * 0.5f;
        } else if (p > 0.999f) {
            v = (1.0f - std::cos(pi * t)) * 0.5f;
        } else {
            float x = t <= p ? (1.0f - t / p) * pi : ((t - p) / (1.0f - p)) * pi;
            v = (std::cos(x) + 1.0f) * 0.5f;
        }
        curve[i] = lo + v * (hi - lo);
    }
}

void FillRandomSparseCurve(Curve256& curve, float lo, float hi, unsigned seed) {
    uint32_t x = seed;
    for (int i = 0; i < 256; ++i) {
        x = x * 1103515245u + 12345u;
        float r = static_cast<float>((x >> 16) & 0x7FFF) / 32767.0f;
        curve[i] = r > 0.7f ? lo + (r - 0.7f) / 0.3f * (hi - lo) : lo;
    }
}

void SmoothCurveRange(Curve256& curve, int first, int last) {
    int a = std::max(first, 0);
    int b = std::min(last, 255);
    if (a > b) return;
    float w[7];
    float wsum = 0;
    for (int d = -3; d <= 3; ++d) {
        float q = static_cast<float>(d) / 3.0f;
        w[d + 3] = std::exp(-2.0f * q * q);
        wsum += w[d + 3];
    }
    for (int pass = 0; pass < 2; ++pass) {
        Curve256 copy = curve;
        for (int i = a; i <= b; ++i) {
            float sum = 0;
            for (int d = -3; d <= 3; ++d) sum += w[d + 3] * copy[std::clamp(i + d, 0, 255)];
            curve[i] = sum / wsum;
        }
    }
}

void PaintCurveSegment(Curve256& curve, float x, float value, float lastX, float lastValue, int& lowestIndex,
                       int& highestIndex) {
    if (!std::isfinite(x) || !std::isfinite(value)) return;
    x = std::clamp(x, 0.0f, 1.0f);
    const bool fromLast = lastX >= 0 && std::isfinite(lastX) && std::isfinite(lastValue);
    if (fromLast) lastX = std::min(lastX, 1.0f);
    const int steps = fromLast ? std::max(static_cast<int>(2.0f * std::fabs(x - lastX) * 256.0f), 1) : 1;
    for (int i = 0; i < steps; ++i) {
        float px = x, pv = value;
        if (fromLast && steps >= 2) {
            const float f = static_cast<float>(i + 1) / static_cast<float>(steps);
            px = lastX + (x - lastX) * f;
            pv = lastValue + (value - lastValue) * f;
        }
        const int c = static_cast<int>(px * 256.0f);
        const int lo = std::max(c - 3, 0);
        const int hi = std::min(c + 3, 255);
        for (int k = lo; k <= hi; ++k) {
            const float d = static_cast<float>(std::abs(k - c)) / 3.0f;
            const float w = 1.0f - d * d;
            curve[static_cast<size_t>(k)] = curve[static_cast<size_t>(k)] * (1.0f - w) + pv * w;
        }
        lowestIndex = std::min(lowestIndex, lo);
        highestIndex = std::max(highestIndex, hi);
    }
}
