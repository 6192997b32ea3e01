// layer_counts.cpp — the wording of the layer counts.
//
// Index
//   CountLayerSound
//   LayerSoundCountsText
#include "document/layer_counts.h"

#include <cstdio>

namespace {

void AppendCount(std::string& text, int32_t n, const char* one, const char* many) {
    if (n < 1) return;
    char part[96];
    std::snprintf(part, sizeof part, n == 1 ? one : many, int(n));
    if (!text.empty()) text += "; ";
    text += part;
}

}  // namespace

void CountLayerSound(LayerSoundCounts& counts, LayerSound sound) {
    switch (sound) {
        case LayerSound::Unmatched: ++counts.unmatched; break;
        case LayerSound::Missing: ++counts.missing; break;
        case LayerSound::Changed: ++counts.changed; break;
        case LayerSound::AlloyPartial: ++counts.alloyPartial; break;
        default: break;
    }
}

std::string LayerSoundCountsText(const LayerSoundCounts& c) {
    std::string text;
    AppendCount(text, c.missing, "%d layer silent (sound missing)", "%d layers silent (sound missing)");
    AppendCount(text, c.unmatched, "%d layer that matched no sound", "%d layers that matched no sound");
    AppendCount(text, c.changed, "%d layer from a changed sound", "%d layers from a changed sound");
    AppendCount(text, c.alloyPartial, "%d alloy layer without one of its sources",
                "%d alloy layers without one of their sources");
    return text;
}
