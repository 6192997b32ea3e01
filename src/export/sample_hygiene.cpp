// sample_hygiene.cpp — SanitizeSamples.
#include "export/sample_hygiene.h"

#include <algorithm>
#include <cmath>

void SanitizeSamples(float* buffer, int64_t count) {
    if (!buffer) return;
    for (int64_t i = 0; i < count; ++i) {
        const float x = buffer[i];
        buffer[i] = std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
    }
}
