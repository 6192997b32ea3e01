// render_pass_steps.h — the parts of a render pass that the full render
// (full_render.cpp) takes one by one instead of running whole passes. Not
// for use outside the render pass.
//
// Index
//   PassPools / PassState    the pools, used list and random state of a pass
//   SetUpPools               the pass's candidate pools
//   RenderOneEvent           one event's layers (pool, legacy pin, mask, count, builders)
//   AddLayerToBandMask / AddHeroesToBandMask   the two halves of an event's band mask
//   LayerGainOfRank / LimitLayerFades / PassEndOrderKey   the pass end's per-layer rules
//   EndLayerOfPass           what the pass end makes of one layer but its place and tracks
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/candidate_table.h"
#include "render/layer_choice.h"
#include "render/pool_scoring.h"

// The pools of the pass. The parallel scorer reads them from the library's
// candidate table, which keeps them (and the features of every entry) from
// one pass to the next until the libraries change; the reference path finds
// them with FindCandidateSounds at the start of every pass.
struct PassPools {
    std::shared_ptr<const CandidateTable> table;     // null on the reference path
    std::shared_ptr<const CandidatePool> scored[4];  // groups 0, 1, 2, then every group
    std::vector<const LibraryEntry*> plain[4];       // reference path only

    const std::vector<const LibraryEntry*>& Entries(int i) const {
        return table ? scored[i]->entries : plain[i];
    }
};

struct PassState {
    PassPools pools;
    std::vector<UsedSound> used;
    UsedSoundIndex usedIndex;
    uint32_t random = 0;
    const RenderSeeds* seeds = nullptr;
    const RenderPassOptions* options = nullptr;
    // Reference path: keyword hits per query text, so events that share
    // keywords share the matching work (the pool scorer keeps its keyword
    // parts in the candidate table). A cache checks its query and pool
    // itself; the map is only a way to keep several warm. Bounded, since each
    // holds a slot per pool entry.
    std::unordered_map<std::string, TermHitCache> termCaches;
    PoolScoringScratch scratch;  // the pool scorer's working lists, for every scoring of the pass
    int pinnedWithoutPool = 0;
};

void SetUpPools(PassPools& pools, const SoundLibrary& library, const RenderPassOptions& options,
                bool checkContents);

// Renders event i (which must be renderable and neither a Clip nor a Bed)
// with the pass's pools, used list and random state. bandMask: the mask of
// the other events' layers and the heroes (null: measured from the project's
// results, as a pass does). out: where the layers go (null: the project's
// results).
void RenderOneEvent(Project& project, const SoundLibrary& library, int i, PassState& pass,
                    const float* bandMask = nullptr, std::vector<RenderResult>* out = nullptr);

// One layer of another event over the span [eventStart, eventEnd) of the
// event being rendered (span: max(0.01, its length)): adds its five band
// weights times its share of the span and its gains. Nothing for a layer
// that does not overlap or whose share is not a number.
inline void AddLayerToBandMask(float mask[5], float start, float duration, float layerGain, float userVolume,
                               float weight, float eventStart, float eventEnd, float span) {
    float overlap = std::min(start + duration, eventEnd) - std::max(start, eventStart);
    if (!(overlap > 0.0f)) return;
    float f = overlap / span * layerGain * userVolume;
    if (!std::isfinite(f)) return;
    float bw[5];
    BandWeights5(weight, bw);
    for (int b = 0; b < 5; ++b) mask[b] += bw[b] * f;
}

// The hero events other than i that overlap its span, in index order (heroes:
// the hero events' indices, ascending; null: every event is looked at).
void AddHeroesToBandMask(const Project& project, int i, float eventStart, float eventEnd, float mask[5],
                         const std::vector<int>* heroes);

// The gain of an event's layer with `rank` layers of the event before it.
float LayerGainOfRank(int rank, bool fillEvent);
// Fades within 0..0.45 of the layer and together within 0.9 of it (both 0
// for a layer without length). True when they changed.
bool LimitLayerFades(RenderResult& r);
// The pass end sorts by this (a start that is not a number goes last).
float PassEndOrderKey(float startTime);
// The pass end's rules for one layer, in the pass end's order: the gain of
// its rank, its event's mix group (a layer of no event keeps its own), its
// fades limited, the pitch its variation chose. The sort and the packing
// (PackResultsAsPassEnd, track_assignment.h) are the pass end's other steps.
void EndLayerOfPass(const Project& project, RenderResult& r, float layerGain);
