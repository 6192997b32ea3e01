// reroll.cpp — another library sound for one layer, chosen, fitted and placed.
//
// Index
//   CanRerollResult
//   RerollAlternatives     neighbours of a pinned sound by spectral and character distance
//   RerollSeed             counter, layer and clock mixed into one state
//   Choosing               LayerSound, candidates, scores, the weighted pick
//   Placing                the three placement cases and the fade limits
//   RerollResult / RerollResultWithSeed
#include "render/reroll.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "document/event.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/search_query.h"
#include "library/sound_library.h"
#include "render/candidates.h"
#include "render/fitting.h"
#include "render/layer_builders.h"
#include "render/render_curves.h"
#include "render/variation_history.h"

namespace {

std::atomic<uint32_t> gRerollCounter{0};

constexpr int kRerollScoreCount = 20;  // sounds scored
constexpr size_t kRerollPickCount = 8; // best sounds the pick draws from
constexpr float kCurrentSoundFactor = 0.01f;

}  // namespace

// ---------------------------------------------------------------------------
// CanRerollResult
// ---------------------------------------------------------------------------

bool CanRerollResult(const Project& project, int resultIndex) {
    if (resultIndex < 0 || size_t(resultIndex) >= project.results.size()) return false;
    const RenderResult& result = project.results[size_t(resultIndex)];
    if (result.eventIdx < 0 || size_t(result.eventIdx) >= project.events.size()) return false;
    if (result.procMode == 3) return false;
    const int shape = project.events[size_t(result.eventIdx)].shape;
    return shape != kShapeClip && shape != kShapeBed;
}

// ---------------------------------------------------------------------------
// RerollAlternatives
// ---------------------------------------------------------------------------

namespace {

float Square(float v) { return v * v; }

float AlternativeDistance(const LibraryEntry& a, const LibraryEntry& b) {
    float bands = 0;
    for (int i = 0; i < 5; ++i) bands += Square(a.bandEnergy[i] - b.bandEnergy[i]);
    return 3.0f * bands + 2.0f * Square(a.brightness - b.brightness) +
           2.0f * Square(a.highFreqRatio - b.highFreqRatio) +
           1.5f * Square(a.zeroCrossingRate - b.zeroCrossingRate) +
           1.5f * Square(a.spectralFlatness - b.spectralFlatness) + Square(a.harmonicity - b.harmonicity) +
           Square((a.dynamicsDb - b.dynamicsDb) / 20.0f);
}

}  // namespace

std::vector<const LibraryEntry*> RerollAlternatives(const std::vector<const LibraryEntry*>& candidates,
                                                    const std::string& currentPath) {
    size_t pinned = candidates.size();
    for (size_t i = 0; i < candidates.size(); ++i)
        if (candidates[i] && candidates[i]->path == currentPath) {
            pinned = i;
            break;
        }
    if (pinned == candidates.size()) return candidates;

    const LibraryEntry& anchor = *candidates[pinned];
    std::vector<std::pair<float, const LibraryEntry*>> near;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (i == pinned || !candidates[i]) continue;
        const float d = AlternativeDistance(anchor, *candidates[i]);
        if (d < 1.5f) near.emplace_back(d, candidates[i]);  // a NaN distance is never near
    }
    std::stable_sort(near.begin(), near.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<const LibraryEntry*> out{candidates[pinned]};
    for (size_t i = 0; i < near.size() && i < 5; ++i) out.push_back(near[i].second);
    return out;
}

// ---------------------------------------------------------------------------
// RerollSeed
// ---------------------------------------------------------------------------

uint32_t RerollSeed(const RenderResult& result) {
    const uint32_t k = gRerollCounter.fetch_add(1) + 1;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const uint32_t clock = uint32_t(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    return (k * 0x9E3779B1u) ^ uint32_t(result.id) ^ clock;
}

// ---------------------------------------------------------------------------
// Choosing
// ---------------------------------------------------------------------------

namespace {

// Every region the event's layers play, this layer's included.
std::vector<UsedSound> EventRegions(const Project& project, int eventIndex) {
    std::vector<UsedSound> used;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == eventIndex && !r.filepath.empty())
            used.push_back(UsedSound{r.filepath, r.sourceOffset, r.sourceDuration, r.startTime});
    return used;
}

// A layer's file and what it holds. A saved project's layers play its
// collected copies of library files, so the library's original of the
// layer's sound has another path but the same size and content hash.
struct LayerSound {
    const std::string* path = nullptr;
    FileFingerprint content;  // hash 0: not known
};

LayerSound SoundOf(const RenderResult& layer) {
    LayerSound sound;
    sound.path = &layer.filepath;
    FileRef ref;
    if (!layer.fileId.empty() && FileRegistry::Instance().GetFileRef(layer.fileId, ref) && ref.hash != 0) {
        sound.content = FileFingerprint{ref.hash, ref.size};
    } else if (!layer.filepath.empty()) {
        uint64_t hash = 0, size = 0;
        if (FingerprintFile(layer.filepath, hash, size)) sound.content = FileFingerprint{hash, size};
    }
    return sound;
}

// Only a file of the same size is read to compare its content.
bool SameSound(const LayerSound& sound, const std::string& path) {
    if (*sound.path == path) return true;
    if (sound.content.hash == 0) return false;
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size != sound.content.size) return false;
    uint64_t hash = 0;
    return FingerprintFileWithSize(path, size, hash) && hash == sound.content.hash;
}

// The scored and weighted sounds the pick draws from, best first; empty when
// the library offers nothing for the event.
std::vector<RenderCandidate> RerollChoices(const Project& project, const RenderResult& result,
                                           const SoundLibrary& library, const std::vector<UsedSound>& used) {
    const Event& e = project.events[size_t(result.eventIdx)];
    const std::vector<SearchTerm> terms = ParseSearchQuery(e.keywords);
    const char* filter = e.libFilter[0] ? e.libFilter : nullptr;
    std::vector<const LibraryEntry*> candidates = FindCandidateSounds(library, EventMixGroup(e), filter);
    if (candidates.empty()) candidates = FindCandidateSounds(library, -1, filter);
    if (candidates.empty()) return {};
    if (e.hasPinnedFiles && e.pinnedFile[0]) candidates = RerollAlternatives(candidates, e.pinnedFile);

    std::vector<RenderCandidate> scored = ScoreCandidates(project, candidates, result.weight, e.duration, e.shape,
                                                          terms, kRerollScoreCount, 0.5f, nullptr, -1.0f, 0);
    // The sound playing now stays possible but rare; a sound another layer
    // of the event plays is out. Both are told by content, not by path: a
    // saved project's layers play its collected copies of library files.
    static const std::vector<UsedSound> kNoPassUses;
    const LayerSound current = SoundOf(result);
    std::vector<LayerSound> others;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == result.eventIdx && &r != &result && !r.filepath.empty()) others.push_back(SoundOf(r));
    for (RenderCandidate& c : scored) {
        if (SameSound(current, c.entry->path)) {
            c.score *= kCurrentSoundFactor;
            continue;
        }
        // The repetition damping knows the other layers by their own paths.
        const std::string* path = &c.entry->path;
        for (const LayerSound& other : others)
            if (SameSound(other, c.entry->path)) path = other.path;
        c.score *= RepetitionFactor(*path, used, kNoPassUses, 0.0f);
    }
    DropNonPositive(scored);
    SortCandidates(scored);
    if (scored.size() > kRerollPickCount) scored.resize(kRerollPickCount);
    return scored;
}

// The first sound whose running score sum reaches u x total.
const LibraryEntry* PickWeighted(const std::vector<RenderCandidate>& choices, float total, uint32_t& state) {
    const float u = NextRenderRandom(state) * total;
    float running = 0;
    for (const RenderCandidate& c : choices) {
        running += c.score;
        if (running >= u) return c.entry;
    }
    return choices.front().entry;
}

// ---------------------------------------------------------------------------
// Placing
// ---------------------------------------------------------------------------

// Fits the sound into the event and places the layer; a is the sound's fade factor.
void PlaceRerolledSound(const Event& e, RenderResult& result, const LibraryEntry& entry, uint32_t& state,
                        const std::vector<UsedSound>& used) {
    const float start0 = e.time - e.syncOffset;
    const float end0 = start0 + e.duration;
    const float oldDuration = result.duration;
    const bool inWindow = e.shape == kShapeContour && result.startTime >= start0 - 0.5f &&
                          result.startTime + result.duration <= end0 + 0.5f;
    const float wanted = inWindow ? result.duration : e.duration;
    const FitResult fit = FitSoundToEvent(entry, wanted, e.shape, state, nullptr, 1.0f, 0.5f, &used, nullptr);
    TakeEntryIdentity(result, entry);
    result.sourceOffset = fit.sourceOffset;
    result.sourceDuration = fit.sourceDuration;
    result.audioSyncOffset = fit.syncTime;
    const float a = SoundFadeFactor(entry);

    float fadeIn = fit.fadeIn;
    float fadeOut = fit.fadeOut;
    if (inWindow) {
        // A layer that follows a stretch of the contour keeps its place and
        // grows a little, as far as the region allows.
        result.duration = std::min(oldDuration + std::min(0.8f, (0.25f * a + 0.18f) * oldDuration), fit.sourceDuration);
        const float span = std::max(0.001f, e.duration);
        const float t0 = std::clamp((result.startTime - start0) / span, 0.0f, 1.0f);
        const float t1 = std::clamp((result.startTime + result.duration - start0) / span, 0.0f, 1.0f);
        float fi = 0, fo = 0;
        IntensityCurveFades(e, t0, t1, 0.1f, result.duration, fi, fo);
        const float k = 1.5f * a + 2.0f;
        const float m = 0.2f * a;
        fadeIn = std::max({(0.15f * a + 0.08f) * result.duration, m + 0.04f, k * fi});
        fadeOut = std::max({(0.15f * a + 0.1f) * result.duration, m + 0.06f, k * fo});
    } else if (e.shape == kShapeSpot || e.shape == kShapeBloom) {
        // The sound's sync point on the event's; a little lead-in and tail
        // around the event at most.
        const float base = e.time - result.audioSyncOffset;
        const float pre = std::min(1.0f, 0.15f * e.duration) * a + 0.12f;
        const float start = std::max(start0 - pre, base);
        result.duration = std::max(std::min(end0 + pre, base + result.sourceDuration) - start, 0.1f);
        if (start > base) result.sourceOffset += start - base;
        result.startTime = start;
        fadeIn = std::max({0.02f * result.duration, 0.01f, fit.fadeIn});
        fadeOut = std::max({0.04f * result.duration, 0.03f, fit.fadeOut});
    } else {
        result.startTime = e.time - result.audioSyncOffset;
    }

    const float cap = 0.45f * std::max(result.duration, 0.0f);
    fadeIn = std::clamp(fadeIn, 0.0f, cap);
    fadeOut = std::clamp(fadeOut, 0.0f, cap);
    CapFadePair(fadeIn, fadeOut, result.duration * (0.12f * a + 0.8f));
    result.fadeIn = fadeIn;
    result.fadeOut = fadeOut;
}

}  // namespace

// ---------------------------------------------------------------------------
// RerollResult / RerollResultWithSeed
// ---------------------------------------------------------------------------

bool RerollResultWithSeed(Project& project, int resultIndex, const SoundLibrary& library, uint32_t seed) {
    if (!CanRerollResult(project, resultIndex)) return false;
    RenderResult& result = project.results[size_t(resultIndex)];
    PushVariationHistory(result);
    const Event& e = project.events[size_t(result.eventIdx)];

    const std::vector<UsedSound> used = EventRegions(project, result.eventIdx);
    const std::vector<RenderCandidate> choices = RerollChoices(project, result, library, used);
    float total = 0;
    for (const RenderCandidate& c : choices) total += c.score;
    if (choices.empty() || !(total > 0)) return false;

    uint32_t state = seed;
    const LibraryEntry& entry = *PickWeighted(choices, total, state);
    if (result.procMode == 1) {
        // A fill is made from the whole file; the plan of the old one means
        // nothing for it.
        TakeEntryIdentity(result, entry);
        result.sourceOffset = 0;
        result.sourceDuration = entry.duration;
        result.fillChunks.clear();
    } else {
        PlaceRerolledSound(e, result, entry, state, used);
    }

    result.muteReasons = 0;
    result.muted = false;
    result.placeholder = false;  // a sketch layer becomes a real one
    result.missing = false;
    result.sound = ::LayerSound::AsMeasured;
    if (result.hasIntGain) BuildCurveLookup(e, result);
    project.resultsRevision += 1;
    return true;
}

bool RerollResult(Project& project, int resultIndex, const SoundLibrary& library) {
    if (!CanRerollResult(project, resultIndex)) return false;
    return RerollResultWithSeed(project, resultIndex, library, RerollSeed(project.results[size_t(resultIndex)]));
}
