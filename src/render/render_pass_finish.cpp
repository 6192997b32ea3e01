// render_pass_finish.cpp — the steps that end every render pass: gains by
// rank, fades, groups, sorting by start and the packing of tracks.
//
// Index
//   LayerGainOfRank / LimitLayerFades / PassEndOrderKey   the per-layer rules
//   PackResultsAsPassEnd   the pass's track packing over the results
//   FinishRenderPass
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "render/render_pass.h"
#include "render/render_pass_steps.h"
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

void PackResultsAsPassEnd(Project& project, PackScratch& scratch) {
    std::vector<PackItem> items;
    items.reserve(project.results.size());
    for (RenderResult& r : project.results) {
        if (r.group >= 0 && r.group <= 2) {
            // A bare `muted` without a reason is the designer's; the budget
            // decides only its own mutes anew on every pass, so a layer the
            // user, a ban or the silence check muted stays muted.
            if (r.muted && r.muteReasons == 0) SetMuteReason(r, kMuteUser, true);
            SetMuteReason(r, kMuteBudget, false);
        }
        items.push_back(PackItemOf(project, r));
    }
    int32_t counts[3], used[3];
    for (int g = 0; g < 3; ++g) counts[g] = project.groups[g].trackCount;
    PackAsPassEnd(items, project.budgetMode, counts, used, scratch);
    for (size_t i = 0; i < items.size(); ++i) {
        RenderResult& r = project.results[i];
        if (r.group < 0 || r.group > 2) continue;
        r.groupTrack = items[i].groupTrack;
        SetMuteReason(r, kMuteBudget, items[i].budgetMuted);
    }
    for (int g = 0; g < 3; ++g) project.groups[g].usedTracks = used[g];
    for (RenderResult& r : project.results) {
        if (r.group < 0 || r.group > 2) continue;
        // A layer the budget left without a track has no global track either.
        r.track = r.groupTrack < 0 ? -1 : GroupFirstTrack(project.groups, r.group) + r.groupTrack;
    }
}

void FinishRenderPass(Project& project) {
    std::vector<RenderResult>& results = project.results;

    std::unordered_map<int32_t, int> seen;
    for (RenderResult& r : results) {
        int k = seen[r.eventIdx]++;
        bool fill = ValidEvent(project, r.eventIdx) && project.events[r.eventIdx].shape == kShapeFill;
        r.layerGain = LayerGainOfRank(k, fill);
    }

    for (RenderResult& r : results) {
        if (ValidEvent(project, r.eventIdx)) r.group = EventMixGroup(project.events[r.eventIdx]);
        LimitLayerFades(r);
    }

    // A start that is not a number sorts last instead of breaking the sort.
    std::stable_sort(results.begin(), results.end(), [](const RenderResult& a, const RenderResult& b) {
        return PassEndOrderKey(a.startTime) < PassEndOrderKey(b.startTime);
    });

    PackScratch scratch;
    PackResultsAsPassEnd(project, scratch);
    for (RenderResult& r : results) r.pitchShift = r.pitchVarShift;

    project.publishedResultCount.store(static_cast<int32_t>(results.size()),
                                       std::memory_order_release);
    project.rendered = true;
    project.resultsRevision += 1;
}
