// variation_history.cpp — a layer's earlier sounds and the steps through them.
//
// Index
//   ApplyVariationToResult
//   PushVariationHistory
//   CanStepVariationBack / CanStepVariationForward
//   StepVariationBack / StepVariationForward
#include "render/variation_history.h"

#include <cstdio>
#include <functional>

#include "document/project.h"

namespace {

bool Browsing(const RenderResult& result) {
    return result.variationIndex >= 0 && size_t(result.variationIndex) < result.variations.size();
}

// Shows entry `index` of the history.
void ShowEntry(RenderResult& result, int index) {
    result.variationIndex = index;
    ApplyVariationToResult(result, result.variations[size_t(index)]);
}

}  // namespace

// ---------------------------------------------------------------------------
// ApplyVariationToResult
// ---------------------------------------------------------------------------

void ApplyVariationToResult(RenderResult& result, const ResultVariation& variation) {
    // A fill's chunk plan indexes the region it was made from: replayed over
    // another file or region it would splice the wrong audio together.
    if (result.procMode == 1 && (result.filepath != variation.filepath ||
                                 result.sourceOffset != variation.sourceOffset ||
                                 result.sourceDuration != variation.sourceDuration))
        result.fillChunks.clear();
    result.name = variation.name;
    result.filepath = variation.filepath;
    result.fileId = variation.fileId;
    result.sourceOffset = variation.sourceOffset;
    result.sourceDuration = variation.sourceDuration;
    result.fadeIn = variation.fadeIn;
    result.fadeOut = variation.fadeOut;
    result.audioSyncOffset = variation.audioSyncOffset;
    if (variation.placed) {
        result.startTime = variation.startTime;
        result.duration = variation.duration;
    }
    // A layer without a file is a sketch; one with a file is tried again
    // (the voice build marks it anew when the file still fails).
    result.placeholder = variation.filepath.empty();
    result.missing = false;
    result.sound = LayerSound::AsMeasured;
    // Another sound: whatever silenced the old one no longer stands; the
    // track assignment that follows a change mutes it again if it must.
    result.muteReasons = 0;
    result.muted = false;
}

// ---------------------------------------------------------------------------
// PushVariationHistory
// ---------------------------------------------------------------------------

void PushVariationHistory(RenderResult& result) {
    std::vector<ResultVariation>& history = result.variations;
    if (Browsing(result)) history.erase(history.begin() + result.variationIndex, history.end());
    result.variationIndex = -1;

    ResultVariation entry;
    entry.name = result.name;
    entry.filepath = result.filepath;
    entry.fileId = result.fileId;
    entry.sourceOffset = result.sourceOffset;
    entry.sourceDuration = result.sourceDuration;
    entry.fadeIn = result.fadeIn;
    entry.fadeOut = result.fadeOut;
    entry.audioSyncOffset = result.audioSyncOffset;
    entry.placed = true;
    entry.startTime = result.startTime;
    entry.duration = result.duration;

    while (history.size() >= kVariationHistoryLimit) history.erase(history.begin());
    history.push_back(std::move(entry));
}

// ---------------------------------------------------------------------------
// CanStepVariationBack / CanStepVariationForward
// ---------------------------------------------------------------------------

bool CanStepVariationBack(const RenderResult& result) {
    return result.variationIndex >= 0 ? result.variationIndex >= 1 : !result.variations.empty();
}

bool CanStepVariationForward(const RenderResult& result) {
    return result.variationIndex >= 0 && size_t(result.variationIndex) + 1 < result.variations.size();
}

// ---------------------------------------------------------------------------
// StepVariationBack / StepVariationForward
// ---------------------------------------------------------------------------

bool StepVariationBack(RenderResult& result) {
    if (!CanStepVariationBack(result)) return false;
    int target = result.variationIndex - 1;
    if (result.variationIndex < 0) {
        // The live state joins the history first, so stepping forward again
        // comes back to it. On a full history the push drops the oldest
        // entry, which is why the target is counted after it.
        PushVariationHistory(result);
        target = int(result.variations.size()) - 2;
    }
    if (target < 0 || size_t(target) >= result.variations.size()) return false;
    ShowEntry(result, target);
    return true;
}

bool StepVariationForward(RenderResult& result) {
    if (!CanStepVariationForward(result)) return false;
    ShowEntry(result, result.variationIndex + 1);
    return true;
}
