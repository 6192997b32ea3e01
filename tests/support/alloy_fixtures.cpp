// alloy_fixtures.cpp — see alloy_fixtures.h.
#include "support/alloy_fixtures.h"

#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

std::string WriteFloatWav(const TempDir& dir, const std::string& name, const std::vector<float>& samples,
                          int channels, int rate) {
    const std::string path = dir.File(name);
    return WriteSamples(path, samples, channels, rate, SampleFormat::Float32) ? path : std::string();
}

RenderResult MakeAlloyResult(int algo, float duration, const std::string& mainPath, int id) {
    RenderResult r;
    r.id = id;
    r.procMode = 3;
    r.alloyAlgo = algo;
    r.duration = duration;
    r.filepath = mainPath;
    r.sourceOffset = 0;
    r.sourceDuration = duration;
    return r;
}

void SetAlloySource(AlloySource& source, const std::string& path, float duration) {
    source.filepath = path;
    source.offset = 0;
    source.duration = duration;
}
