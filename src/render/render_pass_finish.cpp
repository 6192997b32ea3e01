// render_pass_finish.cpp — the steps that end every render pass: gains by
// rank, fades, groups, sorting by start and the packing of tracks.
//
// Index
//   LayerGainOfRank / LimitLayerFades / PassEndOrderKey   the per-layer rules
//   EndLayerOfPass         those rules applied to one layer
//   FinishRenderPass       every layer, the sort, the packing (track_assignment.h)
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "render/render_pass.h"
#include "render/render_pass_steps.h"
#include "render/track_assignment.h"
#include "render/track_packing.h"

namespace {

bool ValidEvent(const Project& project, int32_t idx) {
    return idx >= 0 && idx < static_cast<int32_t>(project.events.size());
}

}  // namespace

// Later layers of an event play quieter: 1, 1/1.3, 1/1.6 ... (Fill beds
// fall off more gently).
float LayerGainOfRank(int rank, bool fillEvent) {
    const float b = fillEvent ? 0.12f : 0.3f;
    return 1.0f / (1.0f + static_cast<float>(rank) * b);
}

bool LimitLayerFades(RenderResult& r) {
    const float in = r.fadeIn, out = r.fadeOut;
    if (!(r.duration > 0.0f)) {
        r.fadeIn = 0.0f;
        r.fadeOut = 0.0f;
    } else {
        float limit = 0.45f * r.duration;
        r.fadeIn = std::clamp(std::isfinite(r.fadeIn) ? r.fadeIn : 0.0f, 0.0f, limit);
        r.fadeOut = std::clamp(std::isfinite(r.fadeOut) ? r.fadeOut : 0.0f, 0.0f, limit);
        float sum = r.fadeIn + r.fadeOut;
        if (sum > 0.9f * r.duration) {
            float f = 0.9f * r.duration / sum;
            r.fadeIn *= f;
            r.fadeOut *= f;
        }
    }
    // Bit for bit: a NaN that stays NaN is no change.
    auto same = [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    return !same(in, r.fadeIn) || !same(out, r.fadeOut);
}

float PassEndOrderKey(float startTime) { return std::isnan(startTime) ? INFINITY : startTime; }

void EndLayerOfPass(const Project& project, RenderResult& r, float layerGain) {
    r.layerGain = layerGain;
    if (ValidEvent(project, r.eventIdx)) r.group = EventMixGroup(project.events[size_t(r.eventIdx)]);
    LimitLayerFades(r);
    r.pitchShift = r.pitchVarShift;
}

void FinishRenderPass(Project& project) {
    std::vector<RenderResult>& results = project.results;

    std::unordered_map<int32_t, int> seen;
    for (RenderResult& r : results) {
        int k = seen[r.eventIdx]++;
        bool fill = ValidEvent(project, r.eventIdx) && project.events[r.eventIdx].shape == kShapeFill;
        EndLayerOfPass(project, r, LayerGainOfRank(k, fill));
    }

    // A start that is not a number sorts last instead of breaking the sort.
    std::stable_sort(results.begin(), results.end(), [](const RenderResult& a, const RenderResult& b) {
        return PassEndOrderKey(a.startTime) < PassEndOrderKey(b.startTime);
    });

    PackScratch scratch;
    PackResultsAsPassEnd(project, scratch);

    project.publishedResultCount.store(static_cast<int32_t>(results.size()),
                                       std::memory_order_release);
    project.rendered = true;
    project.resultsRevision += 1;
}
