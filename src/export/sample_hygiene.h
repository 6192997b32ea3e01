// sample_hygiene.h — samples made fit for a file.
//
// Index
//   SanitizeSamples   finite and within [-1, 1] before samples go to a file
#pragma once

#include <cstdint>

// Non-finite samples become 0; the rest are clamped to [-1, 1].
void SanitizeSamples(float* buffer, int64_t count);
