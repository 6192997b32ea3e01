// candidates.cpp — candidate pools and the layer score.
//
// Index
//   Small helpers        band weights, suitability, fade factor, features
//   FindCandidateSounds  group and library-filter selection
//   Keyword part         term hits of one entry against a query
//   LayerScoring         the layer's half of the score
//   Shared list steps    the term cache, the top of a kept list
//   ScoreSoundForLayer   public single-sound score
//   ScoreCandidates      pool scoring, banned files, the keep rules, partial sort
//   RepetitionFactor / UsedSoundIndex
//
// The score itself is ScoreWithKeyword (score_terms.h). ScoreCandidates makes
// each candidate's CandidateFeatures on the spot; the pool scorer
// (pool_scoring.cpp) reads them from the candidate table. The two therefore
// agree on every score in every bit and differ only in the bookkeeping.
#include "render/candidates.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_set>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "library/sound_library.h"
#include "render/score_terms.h"

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------
void BandWeights5(float value, float out[5]) {
    static const float kCentres[5] = {0.1f, 0.3f, 0.5f, 0.7f, 0.9f};
    const float u = 0.8f * value + 0.1f;
    float sum = 0.0f;
    for (int i = 0; i < 5; ++i) {
        const float d = kCentres[i] - u;
        out[i] = 0.97f * std::exp(-16.0f * d * d) + 0.03f;
        sum += out[i];
    }
    // Every weight is at least 0.03, so the sum is positive for finite values.
    for (int i = 0; i < 5; ++i) out[i] /= sum;
}

float SuitabilityScore(const LibraryEntry& e) {
    float v = 0.5f - 0.35f * e.harmonicity + 0.3f * e.spectralFlatness +
              0.15f * ScoreClamp01(e.zeroCrossingRate);
    if (e.pitchConfidence > 0.5f) v -= 0.1f;
    return ScoreClamp01(v);
}

float SoundFadeFactor(const LibraryEntry& e) {
    return ScoreClamp01(0.15f * (1.0f - e.spectralFlux) + 0.7f * e.spectralFlatness +
                   0.15f * (1.0f - e.zeroCrossingRate) * (1.0f - e.spectralFlatness));
}

CandidateFeatures MakeCandidateFeatures(const LibraryEntry& e) {
    CandidateFeatures f;
    float sum = 0.0f;
    for (int i = 0; i < 5; ++i) sum += e.bandEnergy[i];
    for (int i = 0; i < 5; ++i) f.energy[i] = e.bandEnergy[i];
    f.energySum = sum;
    f.centroid = e.bandCentroid;
    // A length that is not a number counts as no sound at all.
    f.length = e.duration >= 0.0f && std::isfinite(e.duration) ? e.duration : 0.0f;
    f.suitability = SuitabilityScore(e);
    // Each term exactly as the score writes it (see ScoreWithKeyword).
    f.soft = 0.3f * ScoreClamp01(1.0f - 2.5f * e.spectralFlux) + 0.4f * ScoreClamp01(1.0f - e.dynamicsDb / 18.0f) +
             0.3f * (1.0f - 2.0f * std::fabs(e.temporalCentroid - 0.5f));
    f.hard = 0.3f * ScoreClamp01(1.0f - 5.0f * e.attackTime) + 0.4f * ScoreClamp01(e.dynamicsDb / 18.0f) +
             0.3f * ScoreClamp01(2.5f * e.spectralFlux);
    f.spotAttack = 5.0f * ScoreClamp01(1.0f - 3.0f * e.attackTime);
    f.washTerm = 5.0f * ScoreClamp01(2.0f * e.zeroCrossingRate) + 5.0f * ScoreClamp01(1.0f - e.dynamicsDb / 20.0f) +
                 5.0f * (1.0f - 3.0f * std::fabs(e.temporalCentroid - 0.5f));
    f.scatterTerm = 10.0f * ScoreClamp01(2.0f * e.spectralFlux) + 5.0f * ScoreClamp01(e.dynamicsDb / 15.0f);
    f.fillTerms[0] = 3.0f * ScoreClamp01(1.0f - e.dynamicsDb / 20.0f);
    f.fillTerms[1] = 3.0f * ScoreClamp01(1.0f - 3.0f * e.spectralFlux);
    f.fillTerms[2] = 2.0f * ScoreClamp01(2.0f * e.zeroCrossingRate);
    f.fillTerms[3] = 2.0f * (1.0f - 3.0f * std::fabs(e.temporalCentroid - 0.5f));
    return f;
}

// ---------------------------------------------------------------------------
// FindCandidateSounds
// ---------------------------------------------------------------------------
namespace {

// True when `name` equals one item of the comma-separated filter, items
// trimmed of blanks, the same splitting that MatchesKeywordList uses.
bool FilterNamesItem(const std::string& name, const char* filter) {
    if (!filter) return false;
    std::string_view rest(filter);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (!item.empty() && item == name) return true;
    }
    return false;
}

}  // namespace

bool LibraryServes(const LibraryIndex& lib, int group, const char* libFilter) {
    if (!lib.enabled) return false;
    if (lib.group >= 0 && group >= 0 && lib.group != group) return false;
    if (MatchesKeywordList(lib.name, libFilter)) return true;
    for (const std::string& old : lib.previousNames) {
        if (FilterNamesItem(old, libFilter)) return true;
    }
    return false;
}

std::vector<const LibraryEntry*> FindCandidateSounds(const std::vector<LibraryIndex>& libraries,
                                                     int group, const char* libFilter) {
    std::vector<const LibraryEntry*> out;
    if (libFilter && std::strcmp(libFilter, "~none~") == 0) return out;
    size_t total = 0;
    for (const LibraryIndex& lib : libraries) total += lib.entries.size();
    out.reserve(total);
    for (const LibraryIndex& lib : libraries) {
        if (!LibraryServes(lib, group, libFilter)) continue;
        for (const LibraryEntry& e : lib.entries) out.push_back(&e);
    }
    return out;
}

std::vector<const LibraryEntry*> FindCandidateSounds(const SoundLibrary& library, int group,
                                                     const char* libFilter) {
    return FindCandidateSounds(library.libraries, group, libFilter);
}

// ---------------------------------------------------------------------------
// Keyword part
// ---------------------------------------------------------------------------
float KeywordScore(const LibraryEntry& e, const std::vector<SearchTerm>& terms) {
    int counted = 0;
    int hitSum = 0;
    for (const SearchTerm& term : terms) {
        int hit = 0;
        if (term.text.size() >= 2) {
            if (MatchesWildcard(e.name, term.text)) hit = 3;
            else if (MatchesWildcard(e.path, term.text) || MatchesWildcard(e.description, term.text))
                hit = 2;
        }
        if (term.mode == kSearchRequired && hit == 0) return kRejectedByTerms;
        if (term.mode == kSearchExcluded && hit > 0) return kRejectedByTerms;
        if (term.mode != kSearchExcluded && term.text.size() >= 2) {
            ++counted;
            hitSum += hit;
        }
    }
    if (counted >= 1 && hitSum >= 1)
        return std::min(static_cast<float>(hitSum) / (3.0f * static_cast<float>(counted)), 1.0f) * 50.0f;
    return 0.0f;
}

// ---------------------------------------------------------------------------
// LayerScoring
// ---------------------------------------------------------------------------
LayerScoring PrepareLayerScoring(float w, float D, int shape, bool hasTerms, float intensity,
                                 const float* bands, float refSuitability, int chosenCount) {
    LayerScoring L;
    // Every division of the duration terms needs D > 0.
    L.usable = D > 0.0f && std::isfinite(D);
    L.D = D;
    L.shape = shape;
    L.hasTerms = hasTerms;
    L.W = hasTerms ? 30.0f : 50.0f;
    L.f0 = hasTerms ? 0.1f : 0.01f;
    L.brightness = 0.8f * w + 0.1f;
    BandWeights5(w, L.t);
    if (bands) {
        float M = 0.0f;
        for (int i = 0; i < 5; ++i) M = std::max(M, bands[i]);
        if (M > 0.01f) {
            L.occupancy = true;
            for (int i = 0; i < 5; ++i) {
                const float r = bands[i] / M;
                L.freeShare[i] = 1.0f - ScoreClamp01(r);
                L.crowded[i] = r > 0.5f;
                L.crowding[i] = 2.0f * (r - 0.5f);
            }
        }
    }
    L.in = ScoreClamp01(intensity);
    L.contrast = refSuitability >= 0.0f && chosenCount >= 1;
    L.refSuitability = refSuitability;
    L.chosenCount = chosenCount;
    return L;
}

// ---------------------------------------------------------------------------
// Shared list steps
// ---------------------------------------------------------------------------
namespace {

bool SameQuery(const TermHitCache& cache, const std::vector<SearchTerm>& terms) {
    if (cache.termTexts.size() != terms.size()) return false;
    for (size_t i = 0; i < terms.size(); ++i)
        if (cache.termModes[i] != terms[i].mode || cache.termTexts[i] != terms[i].text) return false;
    return true;
}

}  // namespace

void PrepareTermCache(TermHitCache& cache, const std::vector<SearchTerm>& terms, size_t count) {
    if (!SameQuery(cache, terms)) {
        cache.termTexts.clear();
        cache.termModes.clear();
        for (const SearchTerm& t : terms) {
            cache.termTexts.push_back(t.text);
            cache.termModes.push_back(t.mode);
        }
        cache.entries.clear();
        cache.keyword.clear();
    }
    if (cache.entries.size() < count) {
        cache.entries.resize(count, nullptr);
        cache.keyword.resize(count, 0.0f);
    }
}

void TopOfList(std::vector<Ranked>& kept, size_t maxCount, const std::vector<const LibraryEntry*>& candidates,
               std::vector<RenderCandidate>& out) {
    const size_t n = std::min(kept.size(), maxCount);
    std::partial_sort(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(n), kept.end(), RanksBefore);
    out.clear();
    for (size_t i = 0; i < n; ++i) out.push_back({candidates[kept[i].slot], kept[i].score});
}

// ---------------------------------------------------------------------------
// ScoreSoundForLayer
// ---------------------------------------------------------------------------
float ScoreSoundForLayer(const LibraryEntry& entry, float weight, float duration, int shape,
                         const std::vector<SearchTerm>& terms, float intensity,
                         const float* occupiedBands, float refSuitability, int chosenCount) {
    float kw = 0.0f;
    if (!terms.empty()) {
        kw = KeywordScore(entry, terms);
        if (kw < 0.0f) return 0.0f;
    }
    const LayerScoring layer = PrepareLayerScoring(weight, duration, shape, !terms.empty(), intensity,
                                                   occupiedBands, refSuitability, chosenCount);
    return ScoreWithKeyword(MakeCandidateFeatures(entry), layer, kw);
}

// ---------------------------------------------------------------------------
// ScoreCandidates
// ---------------------------------------------------------------------------
std::vector<RenderCandidate> ScoreCandidates(const Project& project,
                                             const std::vector<const LibraryEntry*>& candidates,
                                             float weight, float duration, int shape,
                                             const std::vector<SearchTerm>& terms, int maxCount,
                                             float intensity, const float* occupiedBands,
                                             float refSuitability, int chosenCount,
                                             TermHitCache* cache) {
    std::vector<Ranked> kept;
    kept.reserve(candidates.size());
    const BannedFiles banned(project);
    const bool hasTerms = !terms.empty();
    const LayerScoring layer = PrepareLayerScoring(weight, duration, shape, hasTerms, intensity,
                                                   occupiedBands, refSuitability, chosenCount);
    if (cache && hasTerms) PrepareTermCache(*cache, terms, candidates.size());
    size_t hits = 0;
    size_t misses = 0;

    float best = -1.0f;
    int64_t bestSlot = -1;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const LibraryEntry* e = candidates[i];
        if (!e || banned.Contains(*e)) continue;
        float s = 0.0f;
        const float kw = hasTerms ? CachedKeywordScore(cache, i, *e, terms, hits, misses) : 0.0f;
        if (kw >= 0.0f) s = ScoreWithKeyword(MakeCandidateFeatures(*e), layer, kw);
        if (s > best) {
            best = s;
            bestSlot = static_cast<int64_t>(i);
        }
        if (s > 5.0f) kept.push_back({s, static_cast<uint32_t>(i)});
    }
    if (cache) {
        cache->hits += hits;
        cache->misses += misses;
    }

    // A pool that is not wholly banned always offers its best sound.
    if (kept.empty() && bestSlot >= 0) kept.push_back({std::max(best, 0.01f), static_cast<uint32_t>(bestSlot)});
    std::vector<RenderCandidate> out;
    TopOfList(kept, static_cast<size_t>(std::max(maxCount, 0)), candidates, out);
    return out;
}

// ---------------------------------------------------------------------------
// RepetitionFactor
// ---------------------------------------------------------------------------
namespace {

// k uses of the file by the pass, the nearest dmin seconds away.
float RepetitionFromUses(int k, float dmin) {
    float base = 1.0f;
    if (k >= 1) {
        if (dmin < 3.0f) base = 0.1f;
        else if (dmin < 5.0f) base = 0.2f;
        else if (dmin < 12.0f) base = 0.5f;
    }
    if (k >= 4) return base * 0.3f;
    if (k >= 2) return base * 0.5f;
    if (k == 1) return base * 0.75f;
    return base;
}

bool UsedInEvent(const std::string& path, const std::vector<UsedSound>& eventUsed) {
    for (const UsedSound& u : eventUsed)
        if (u.path == path) return true;
    return false;
}

}  // namespace

float RepetitionFactor(const std::string& path, const std::vector<UsedSound>& eventUsed,
                       const std::vector<UsedSound>& renderUsed, float time) {
    if (UsedInEvent(path, eventUsed)) return 0.0f;
    if (renderUsed.empty()) return 1.0f;
    int k = 0;
    float dmin = std::numeric_limits<float>::infinity();
    for (const UsedSound& u : renderUsed) {
        if (u.path != path) continue;
        ++k;
        dmin = std::min(dmin, std::fabs(time - u.eventStart));
    }
    return RepetitionFromUses(k, dmin);
}

// ---------------------------------------------------------------------------
// UsedSoundIndex
// ---------------------------------------------------------------------------
void CatchUpUsedSoundIndex(UsedSoundIndex& index, const std::vector<UsedSound>& list) {
    for (; index.indexed < list.size(); ++index.indexed)
        index.byPath[list[index.indexed].path].push_back(static_cast<uint32_t>(index.indexed));
}

float RepetitionFactorIndexed(const std::string& path, const std::vector<UsedSound>& eventUsed,
                              const std::vector<UsedSound>& renderUsed, const UsedSoundIndex& renderIndex,
                              float time) {
    if (UsedInEvent(path, eventUsed)) return 0.0f;
    if (renderUsed.empty()) return 1.0f;
    auto found = renderIndex.byPath.find(path);
    if (found == renderIndex.byPath.end()) return RepetitionFromUses(0, std::numeric_limits<float>::infinity());
    float dmin = std::numeric_limits<float>::infinity();
    for (uint32_t i : found->second) dmin = std::min(dmin, std::fabs(time - renderUsed[i].eventStart));
    return RepetitionFromUses(static_cast<int>(found->second.size()), dmin);
}
