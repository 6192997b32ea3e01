// score_terms.h — the layer score in its parts, shared by the reference
// scorer (candidates.cpp) and the chunked pool scorer (pool_scoring.cpp).
// Internal to the render engine.
//
// Index
//   ScoreClamp01         clamp to 0..1, NaN reading as 0
//   KeywordScore         the keyword part of one entry, or kRejectedByTerms
//   LayerScoring         what depends only on the layer, worked out once per scoring
//   ScoreWithKeyword     one candidate's score from its features and the layer
//   Ceilings             CeilingFor / PrepareCeiling / CeilingWith / SpecCeiling /
//                        OwnTermsCeiling / ScoreCeiling: bounds that a score never exceeds
//   Term cache           PrepareTermCache / CachedKeywordScore
//   BannedFiles          the project's banned files, looked up per candidate
//   Ranked / RanksBefore / TopOfList   kept candidates and their one fixed order
//
// Each precomputed value (of the layer here, of the entry in
// CandidateFeatures) is a whole sub-expression of the score evaluated as the
// score evaluates it, so every score is the same in every bit as computing it
// all in place, on any thread.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "library/sound_library.h"
#include "render/candidates.h"

inline float ScoreClamp01(float v) {
    // NaN reads as 0 so that no comparison downstream sees it.
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

// ---- Keyword part ----------------------------------------------------------------

inline constexpr float kRejectedByTerms = -1.0f;

// The keyword score kw of one entry (0..50), or kRejectedByTerms when a
// required term misses or an excluded term hits.
float KeywordScore(const LibraryEntry& entry, const std::vector<SearchTerm>& terms);

// ---- The layer's half --------------------------------------------------------------

struct LayerScoring {
    bool usable = false;     // a layer without a real length scores nothing
    float D = 0;
    int shape = 0;
    bool hasTerms = false;
    float W = 50, f0 = 0.01f;
    float brightness = 0;    // 0.8 w + 0.1, the centroid the layer wants
    float t[5] = {};         // BandWeights5(w)
    bool occupancy = false;  // band terms apply (bands given, strongest band > 0.01)
    float freeShare[5] = {}; // 1 - clamp(band / strongest)
    bool crowded[5] = {};    // band / strongest > 0.5
    float crowding[5] = {};  // 2 (band / strongest - 0.5)
    float in = 0;            // clamp(intensity)
    bool contrast = false;
    float refSuitability = -1;
    int chosenCount = 0;
};

LayerScoring PrepareLayerScoring(float weight, float duration, int shape, bool hasTerms, float intensity,
                                 const float* bands, float refSuitability, int chosenCount);

// ---- One candidate --------------------------------------------------------------------

// kw is the keyword score (never kRejectedByTerms here). Written without
// branches on the candidate's data (each "if" of the score is a select
// between two values computed in full), since mispredicted branches cost
// more than the arithmetic; the values are those of the plain form.
inline float ScoreWithKeyword(const CandidateFeatures& e, const LayerScoring& L, float kw) {
    if (!L.usable) return 0.0f;
    const float W = L.W;
    const float D = L.D;

    // Brightness match. A sound too far off is unusable whatever else it offers.
    const float b = std::fabs(e.centroid - L.brightness);
    const bool bright = b <= 0.4f;
    const float m = std::max(0.02f, 1.0f - (L.hasTerms ? 3.0f : 4.0f) * b);

    // Spectral fit: the sound's band shares against the five band weights of
    // the target.
    const float sum = e.energySum;
    float p[5];
    for (int i = 0; i < 5; ++i) p[i] = sum > 0.01f ? e.energy[i] / sum : 0.2f;
    const float* t = L.t;
    const float d0 = p[0] - t[0], d1 = p[1] - t[1], d2 = p[2] - t[2], d3 = p[3] - t[3],
                d4 = p[4] - t[4];
    const float d = std::sqrt(1.4f * d0 * d0 + 0.8f * d1 * d1 + 0.6f * d2 * d2 + d3 * d3 +
                              1.4f * d4 * d4);
    const float spec = std::max(0.0f, 1.0f - 2.5f * d);

    float S = 0.5f * W * spec * m + kw + 0.3f * W * m + 0.2f * W * spec;

    // Band occupancy: reward filling empty bands, punish crowding full ones.
    if (L.occupancy) {
        static constexpr float kOverWeight[5] = {1.5f, 0.8f, 0.6f, 1.2f, 1.5f};
        float fill = 0.0f;
        float over = 0.0f;
        for (int i = 0; i < 5; ++i) {
            fill += L.freeShare[i] * e.energy[i];
            const float x = L.crowding[i];
            const float more = over + e.energy[i] * x * x * kOverWeight[i];
            over = L.crowded[i] ? more : over;
        }
        const float filled = std::max(1.0f, (S + 15.0f * spec * ScoreClamp01(2.0f * fill)) -
                                                 10.0f * spec * ScoreClamp01(over));
        S = spec > 0.1f ? filled : S;
    }

    // Duration fit (the length is never negative or infinite here).
    const float len = e.length;
    const float q = len / D;
    const float longer = S + 15.0f * ScoreClamp01(2.0f * D / len);
    float shorter = S + 7.5f * q;
    if (L.shape == kShapeBloom || L.shape == kShapeContour) shorter = q < 0.85f ? shorter * q : shorter;
    S = len >= D ? longer : shorter;

    // Character, blended from soft to hard by the intensity.
    S += 10.0f * (e.soft * (1.0f - L.in) + e.hard * L.in);

    // Shape terms.
    switch (L.shape) {
        case kShapeSpot: {
            const float fit = S + 10.0f * (1.0f - 2.0f * std::fabs(std::min(2.0f * D, len) / (2.0f * D) - 0.5f));
            S = len >= 0.8f * D ? fit : S;
            S += e.spotAttack;
            break;
        }
        case kShapeBloom:
        case kShapeContour:
            S += e.washTerm;
            break;
        case kShapeFill:
            S += 5.0f * ScoreClamp01(len / std::max(1.0f, D)) + e.fillTerms[0] + e.fillTerms[1] +
                 e.fillTerms[2] + e.fillTerms[3];
            break;
        case kShapeScatter:
            S += e.scatterTerm;
            break;
        default:
            S += 7.5f;
            break;
    }

    // Contrast with the layers already chosen for the event.
    if (L.contrast) {
        const float g = std::fabs(e.suitability - L.refSuitability);
        S += 12.0f * ScoreClamp01(2.0f * g);
        if (L.chosenCount >= 2) S = g < 0.15f ? S * 0.7f : S;
    }

    // Gate: a sound that fits neither spectrum nor brightness cannot be
    // rescued by the additive terms.
    const float gq = std::sqrt(std::max(m, 0.0f) * std::max(spec, 0.0f));
    const float gate = gq * (1.0f - L.f0) + L.f0;
    float result;
    if (!L.hasTerms) {
        result = S * gate;
    } else {
        const float c = 0.9f * std::max(0.0f, 1.0f - 3.0f * b) + 0.1f;
        result = S * std::min(c, gate);
        result = kw < 0.01f ? result * 0.15f : result;
    }
    // Analysis fields read from a damaged index file may be NaN; such a sound
    // is unusable rather than a poison for the sort.
    return bright && std::isfinite(result) ? result : 0.0f;
}

// The score's ceilings. For a sound whose centroid lies b from the layer's,
// whose spectral fit is at most specHigh, keyword part at most kw and own
// terms (OwnTermsCeiling) at most ownTerms, CeilingFor is a bound that its
// score never exceeds; PrepareCeiling works out what depends on b and
// specHigh once, for the sounds of a block that CeilingWith then bounds one
// by one with the same result as CeilingFor. Every additive term is replaced by its
// ceiling (spec <= specHigh and m <= its value at b in the base, occupancy <=
// 15 specHigh); the factors q < 0.85 and 0.7 only shrink a positive sum and
// keep a negative one negative; the gate is at most sqrt(m specHigh)(1 - f0)
// + f0, and with terms at most the brightness cap c, times 0.15 without a
// keyword hit. Every step rounds the same way as the score's own (float
// rounding is monotonic), and the last margin covers the different order of
// the additions. Falls as b grows and as specHigh shrinks.
struct CeilingParts {
    bool zero = false;  // too far off in brightness, or no usable length: every score is 0
    float spectral = 0, brightness = 0, spectrum = 0, occupancy = 0;  // the additive terms but kw and own
    float gateHit = 0, gateMiss = 0;  // the gate with a keyword hit and without
};

inline CeilingParts PrepareCeiling(const LayerScoring& L, float b, float specHigh) {
    CeilingParts c;
    if (!L.usable || !(b <= 0.4f)) {
        c.zero = true;
        return c;
    }
    const float m = std::max(0.02f, 1.0f - (L.hasTerms ? 3.0f : 4.0f) * b);
    const float spec = std::min(std::max(specHigh, 0.0f), 1.0f);
    c.spectral = 0.5f * L.W * spec * m;
    c.brightness = 0.3f * L.W * m;
    c.spectrum = 0.2f * L.W * spec;
    c.occupancy = L.occupancy ? 15.0f * spec : 0.0f;
    c.gateHit = std::sqrt(m * spec) * (1.0f - L.f0) + L.f0;
    if (L.hasTerms) c.gateHit = std::min(c.gateHit, 0.9f * std::max(0.0f, 1.0f - 3.0f * b) + 0.1f);
    c.gateMiss = L.hasTerms ? c.gateHit * 0.15f : c.gateHit;
    return c;
}

inline float CeilingWith(const CeilingParts& c, float kw, float ownTerms, bool anyKeyword) {
    if (c.zero) return 0.0f;
    const float sum = c.spectral + kw + c.brightness + c.spectrum + c.occupancy + ownTerms;
    return std::max(1.0f, sum) * (anyKeyword ? c.gateHit : c.gateMiss) * 1.001f + 0.001f;
}

inline float CeilingFor(const LayerScoring& L, float b, float specHigh, float kw, float ownTerms, bool anyKeyword) {
    return CeilingWith(PrepareCeiling(L, b, specHigh), kw, ownTerms, anyKeyword);
}

// The same test the other way round, for many sounds at once: a sound whose
// kw + ownTerms lies below NeededTerms(c, bar, hit) scores below `bar` (> 5).
// With B the sum of c's additive terms and g its gate, kw + own < (bar -
// 0.001) / (1.001 g) - B makes max(1, B + kw + own) g at most
// max(g, (bar - 0.001) / 1.001): 0.1 % below the bar, far more than the
// rounding of this sum or of the score.
inline float NeededTerms(const CeilingParts& c, float bar, bool anyKeyword) {
    if (c.zero) return std::numeric_limits<float>::infinity();
    const float g = anyKeyword ? c.gateHit : c.gateMiss;
    return (bar - 0.001f) / (1.001f * g) - (c.spectral + c.brightness + c.spectrum + c.occupancy);
}

// The largest spectral fit that band shares inside [low, high] can reach
// against the layer's band weights (0 for an empty box, low > high).
inline float SpecCeiling(const LayerScoring& L, const float low[5], const float high[5]) {
    float g[5];
    for (int i = 0; i < 5; ++i) g[i] = std::max(0.0f, std::max(low[i] - L.t[i], L.t[i] - high[i]));
    const float d = std::sqrt(1.4f * g[0] * g[0] + 0.8f * g[1] * g[1] + 0.6f * g[2] * g[2] + g[3] * g[3] +
                              1.4f * g[4] * g[4]);
    return std::max(0.0f, 1.0f - 2.5f * d);
}

// The duration fit (15, or 7.5 for a sound shorter than the layer), the
// character (10 soft (1 - i) + 10 hard i at their largest), the shape term and
// the contrast at their ceilings, for one sound or, with the largest values
// of several, for any of them. suitLow..suitHigh is the range of the
// suitability.
inline float OwnTermsCeiling(const LayerScoring& L, float length, float soft, float hard, float spotAttack,
                             float washTerm, float scatterTerm, float fillTerms, float suitLow, float suitHigh) {
    float sum = length >= L.D ? 15.0f : 7.5f;
    sum += 10.0f * (soft * (1.0f - L.in) + hard * L.in);
    switch (L.shape) {
        case kShapeSpot: sum += 10.0f + spotAttack; break;
        case kShapeBloom:
        case kShapeContour: sum += washTerm; break;
        case kShapeFill: sum += 5.0f + fillTerms; break;
        case kShapeScatter: sum += scatterTerm; break;
        default: sum += 7.5f; break;
    }
    if (L.contrast) {
        const float g = std::max(std::fabs(suitLow - L.refSuitability), std::fabs(suitHigh - L.refSuitability));
        sum += 12.0f * ScoreClamp01(2.0f * g);
    }
    return sum;
}

// The own terms' ceiling of one sound.
inline float OwnTermsOf(const CandidateFeatures& e, const LayerScoring& L) {
    const float fill = e.fillTerms[0] + e.fillTerms[1] + e.fillTerms[2] + e.fillTerms[3];
    return OwnTermsCeiling(L, e.length, e.soft, e.hard, e.spotAttack, e.washTerm, e.scatterTerm, fill,
                           e.suitability, e.suitability);
}

// A bound that ScoreWithKeyword(e, L, kw) never exceeds.
inline float ScoreCeiling(const CandidateFeatures& e, const LayerScoring& L, float kw) {
    return CeilingFor(L, std::fabs(e.centroid - L.brightness), 1.0f, kw, OwnTermsOf(e, L), kw >= 0.01f);
}

// ---- Term cache ------------------------------------------------------------------------

// Makes the cache fit the query and `count` slots before a scoring.
void PrepareTermCache(TermHitCache& cache, const std::vector<SearchTerm>& terms, size_t count);

// The keyword score of candidate `slot` through the cache (when given). The
// counters are the caller's, so that chunks on several threads never share one.
inline float CachedKeywordScore(TermHitCache* cache, size_t slot, const LibraryEntry& entry,
                                const std::vector<SearchTerm>& terms, size_t& hits, size_t& misses) {
    if (!cache) return KeywordScore(entry, terms);
    if (cache->entries[slot] == &entry) {
        ++hits;
        return cache->keyword[slot];
    }
    const float kw = KeywordScore(entry, terms);
    cache->entries[slot] = &entry;
    cache->keyword[slot] = kw;
    ++misses;
    return kw;
}

// ---- Banned files ----------------------------------------------------------------------

// The project's banned files, set up once per scoring; read-only afterwards,
// so chunks on several threads may share one.
class BannedFiles {
public:
    explicit BannedFiles(const Project& project) : project_(project) {
        // A set only pays off once the list is long.
        bySet_ = project.bannedFiles.size() > 16;
        if (bySet_) paths_.insert(project.bannedFiles.begin(), project.bannedFiles.end());
    }
    bool Any() const { return !project_.bannedFiles.empty() || !project_.bannedFileIds.empty(); }
    bool Contains(const LibraryEntry& e) const {
        if (!e.fileId.empty()) {
            for (const std::string& id : project_.bannedFileIds)
                if (id == e.fileId) return true;
        }
        if (bySet_) return paths_.count(e.path) > 0;
        for (const std::string& p : project_.bannedFiles)
            if (p == e.path) return true;
        return false;
    }

private:
    const Project& project_;
    bool bySet_ = false;
    std::unordered_set<std::string_view> paths_;
};

// ---- Ranking ---------------------------------------------------------------------------

// A kept candidate by its position in the candidate list. A higher score
// ranks first; equal scores keep candidate order, so that the list never
// depends on how the sort or the chunks went.
struct Ranked {
    float score;
    uint32_t slot;
};

inline bool RanksBefore(const Ranked& a, const Ranked& b) {
    return a.score > b.score || (a.score == b.score && a.slot < b.slot);
}

// The best min(maxCount, size) of `kept`, best first, as candidates.
void TopOfList(std::vector<Ranked>& kept, size_t maxCount, const std::vector<const LibraryEntry*>& candidates,
               std::vector<RenderCandidate>& out);
