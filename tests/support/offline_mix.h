// offline_mix.h — the export's offline reverb mix gathered whole, for tests
// that look at the wet signal as one buffer.
//
// Index
//   RenderOfflineMix   StreamOfflineMix (export/wav_export.h) into two vectors
#pragma once

#include <cstdint>
#include <vector>

#include "export/wav_export.h"

// The wet reverb StreamOfflineMix makes over [start, start + length). True
// when it produced output; the vectors then hold exactly trunc(length x rate)
// frames. False, the vectors emptied, when it produced nothing or `progress`
// stopped it.
bool RenderOfflineMix(ExportVoices& voices, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, std::vector<float>& outLeft, std::vector<float>& outRight,
                      const ExportMixLevels* levels = nullptr, const MixProgress& progress = nullptr);
