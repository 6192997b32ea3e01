// project_thumbnail.cpp — the thumbnail's size and its bilinear scaling.
#include "persistence/project_thumbnail.h"

#include <algorithm>
#include <cmath>

int ThumbnailHeightFor(int width, int height) {
    if (width < 1 || height < 1) return 0;
    const int64_t h = static_cast<int64_t>(height) * kThumbnailWidth / width;
    return static_cast<int>(std::max<int64_t>(1, h));
}

namespace {

// Source index, its neighbour and the weight of the neighbour for output
// position i of n over a source of `size` pixels.
struct Tap {
    int i0 = 0;
    int i1 = 0;
    float f = 0;
};

Tap TapFor(int i, int n, int size) {
    const float s = (static_cast<float>(i) + 0.5f) * static_cast<float>(size) / static_cast<float>(n) - 0.5f;
    Tap t;
    t.i0 = std::clamp(static_cast<int>(std::trunc(s)), 0, size - 1);
    t.f = std::max(0.0f, s - static_cast<float>(t.i0));
    t.i1 = std::min(size - 1, t.i0 + 1);
    return t;
}

}  // namespace

ThumbnailImage ScaleThumbnail(const uint8_t* rgba, int width, int height, int rowPitch) {
    ThumbnailImage out;
    const int h = ThumbnailHeightFor(width, height);
    if (!rgba || h < 1 || rowPitch < width * 4) return out;
    out.width = kThumbnailWidth;
    out.height = h;
    out.rgba.assign(static_cast<size_t>(out.width) * static_cast<size_t>(h) * 4, 0);

    std::vector<Tap> columns(static_cast<size_t>(out.width));
    for (int x = 0; x < out.width; ++x) columns[static_cast<size_t>(x)] = TapFor(x, out.width, width);

    for (int y = 0; y < h; ++y) {
        const Tap row = TapFor(y, h, height);
        const uint8_t* r0 = rgba + static_cast<size_t>(row.i0) * static_cast<size_t>(rowPitch);
        const uint8_t* r1 = rgba + static_cast<size_t>(row.i1) * static_cast<size_t>(rowPitch);
        uint8_t* dst = out.rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(out.width) * 4;
        for (int x = 0; x < out.width; ++x) {
            const Tap& col = columns[static_cast<size_t>(x)];
            const float w00 = (1 - col.f) * (1 - row.f);
            const float w01 = col.f * (1 - row.f);
            const float w10 = (1 - col.f) * row.f;
            const float w11 = col.f * row.f;
            const uint8_t* p00 = r0 + col.i0 * 4;
            const uint8_t* p01 = r0 + col.i1 * 4;
            const uint8_t* p10 = r1 + col.i0 * 4;
            const uint8_t* p11 = r1 + col.i1 * 4;
            for (int c = 0; c < 3; ++c) {
                const float v = p00[c] * w00 + p01[c] * w01 + p10[c] * w10 + p11[c] * w11 + 0.5f;
                dst[x * 4 + c] = static_cast<uint8_t>(std::min(255.0f, v));
            }
            dst[x * 4 + 3] = 255;
        }
    }
    return out;
}
