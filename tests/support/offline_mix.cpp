// offline_mix.cpp — the streamed offline mix appended into two vectors.
//
// Index
//   RenderOfflineMix
#include "support/offline_mix.h"

#include <cmath>

bool RenderOfflineMix(ExportVoices& voices, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, std::vector<float>& outLeft, std::vector<float>& outRight,
                      const ExportMixLevels* levels, const MixProgress& progress) {
    outLeft.clear();
    outRight.clear();
    const MixSink append = [&](float* l, float* r, int64_t n) {
        outLeft.insert(outLeft.end(), l, l + n);
        outRight.insert(outRight.end(), r, r + n);
    };
    if (StreamOfflineMix(voices, reverb, sampleRate, length, start, append, levels, progress) &&
        double(outLeft.size()) == std::trunc(length * double(sampleRate)))
        return true;
    // Stopped: nothing half-made is handed over.
    std::vector<float>().swap(outLeft);
    std::vector<float>().swap(outRight);
    return false;
}
