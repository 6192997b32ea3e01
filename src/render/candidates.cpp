// candidates.cpp — candidate pools and the layer score.
//
// Index
//   Small helpers        Clamp01, band weights, features
//   FindCandidateSounds  group and library-filter selection
//   Keyword part         term hits of one entry against a query
//   ScoreWithKeyword     every other term of the score, in order
//   ScoreSoundForLayer   public single-sound score
//   ScoreCandidates      pool scoring, banned files, the keep rules, partial sort
//   RepetitionFactor
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

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------
namespace {

inline float Clamp01(float v) {
    // NaN reads as 0 so that no comparison downstream sees it.
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

}  // namespace

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
              0.15f * Clamp01(e.zeroCrossingRate);
    if (e.pitchConfidence > 0.5f) v -= 0.1f;
    return Clamp01(v);
}

float SoundFadeFactor(const LibraryEntry& e) {
    return Clamp01(0.15f * (1.0f - e.spectralFlux) + 0.7f * e.spectralFlatness +
                   0.15f * (1.0f - e.zeroCrossingRate) * (1.0f - e.spectralFlatness));
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

std::vector<const LibraryEntry*> FindCandidateSounds(const std::vector<LibraryIndex>& libraries,
                                                     int group, const char* libFilter) {
    std::vector<const LibraryEntry*> out;
    if (libFilter && std::strcmp(libFilter, "~none~") == 0) return out;
    size_t total = 0;
    for (const LibraryIndex& lib : libraries) total += lib.entries.size();
    out.reserve(total);
    for (const LibraryIndex& lib : libraries) {
        if (!lib.enabled) continue;
        if (lib.group >= 0 && group >= 0 && lib.group != group) continue;
        bool take = MatchesKeywordList(lib.name, libFilter);
        if (!take) {
            for (const std::string& old : lib.previousNames) {
                if (FilterNamesItem(old, libFilter)) {
                    take = true;
                    break;
                }
            }
        }
        if (!take) continue;
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
namespace {

constexpr float kRejected = -1.0f;

// The keyword score kw of one entry (0..50), or kRejected when a required term
// misses or an excluded term hits.
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
        if (term.mode == kSearchRequired && hit == 0) return kRejected;
        if (term.mode == kSearchExcluded && hit > 0) return kRejected;
        if (term.mode != kSearchExcluded && term.text.size() >= 2) {
            ++counted;
            hitSum += hit;
        }
    }
    if (counted >= 1 && hitSum >= 1)
        return std::min(static_cast<float>(hitSum) / (3.0f * static_cast<float>(counted)), 1.0f) * 50.0f;
    return 0.0f;
}

// Everything of the score after the search terms. kw is the keyword score
// (never kRejected here); hasTerms says whether the query had any term.
// The target's band weights depend only on the layer, so a pool scoring
// computes them once; t = BandWeights5(w).
float ScoreWithKeyword(const LibraryEntry& e, float w, const float t[5], float D, int shape,
                       bool hasTerms, float kw, float intensity, const float* bands,
                       float refSuitability, int chosenCount) {
    // A layer without a real length cannot be fitted; its callers skip it,
    // and every division below needs D > 0.
    if (!(D > 0.0f) || !std::isfinite(D)) return 0.0f;
    const float W = hasTerms ? 30.0f : 50.0f;
    const float f0 = hasTerms ? 0.1f : 0.01f;

    // Brightness match. A sound too far off is unusable whatever else it
    // offers, so this test comes before the spectral work.
    const float b = std::fabs(e.bandCentroid - (0.8f * w + 0.1f));
    if (!(b <= 0.4f)) return 0.0f;
    const float m = std::max(0.02f, 1.0f - (hasTerms ? 3.0f : 4.0f) * b);

    // Spectral fit against the five band weights of the target.
    float p[5];
    float sum = 0.0f;
    for (int i = 0; i < 5; ++i) sum += e.bandEnergy[i];
    for (int i = 0; i < 5; ++i) p[i] = sum > 0.01f ? e.bandEnergy[i] / sum : 0.2f;
    const float d0 = p[0] - t[0], d1 = p[1] - t[1], d2 = p[2] - t[2], d3 = p[3] - t[3],
                d4 = p[4] - t[4];
    const float d = std::sqrt(1.4f * d0 * d0 + 0.8f * d1 * d1 + 0.6f * d2 * d2 + d3 * d3 +
                              1.4f * d4 * d4);
    const float spec = std::max(0.0f, 1.0f - 2.5f * d);

    float S = 0.5f * W * spec * m + kw + 0.3f * W * m + 0.2f * W * spec;

    // Band occupancy: reward filling empty bands, punish crowding full ones.
    if (bands && spec > 0.1f) {
        float M = 0.0f;
        for (int i = 0; i < 5; ++i) M = std::max(M, bands[i]);
        if (M > 0.01f) {
            static const float kOverWeight[5] = {1.5f, 0.8f, 0.6f, 1.2f, 1.5f};
            float fill = 0.0f;
            float over = 0.0f;
            for (int i = 0; i < 5; ++i) {
                const float r = bands[i] / M;
                fill += (1.0f - Clamp01(r)) * e.bandEnergy[i];
                if (r > 0.5f) {
                    const float x = 2.0f * (r - 0.5f);
                    over += e.bandEnergy[i] * x * x * kOverWeight[i];
                }
            }
            S += 15.0f * spec * Clamp01(2.0f * fill);
            S = std::max(1.0f, S - 10.0f * spec * Clamp01(over));
        }
    }

    // Duration fit. A length that is not a number counts as no sound at all.
    float L = e.duration;
    if (!(L >= 0.0f) || !std::isfinite(L)) L = 0.0f;
    if (L >= D) {
        S += 15.0f * Clamp01(2.0f * D / L);
    } else {
        const float q = L / D;
        S += 7.5f * q;
        if ((shape == kShapeBloom || shape == kShapeContour) && q < 0.85f) S *= q;
    }

    // Character, blended from soft to hard by the intensity.
    const float in = Clamp01(intensity);
    const float soft = 0.3f * Clamp01(1.0f - 2.5f * e.spectralFlux) +
                       0.4f * Clamp01(1.0f - e.dynamicsDb / 18.0f) +
                       0.3f * (1.0f - 2.0f * std::fabs(e.temporalCentroid - 0.5f));
    const float hard = 0.3f * Clamp01(1.0f - 5.0f * e.attackTime) +
                       0.4f * Clamp01(e.dynamicsDb / 18.0f) + 0.3f * Clamp01(2.5f * e.spectralFlux);
    S += 10.0f * (soft * (1.0f - in) + hard * in);

    // Shape terms.
    const float zcr = e.zeroCrossingRate;
    const float tc = e.temporalCentroid;
    switch (shape) {
        case kShapeSpot:
            if (L >= 0.8f * D)
                S += 10.0f * (1.0f - 2.0f * std::fabs(std::min(2.0f * D, L) / (2.0f * D) - 0.5f));
            S += 5.0f * Clamp01(1.0f - 3.0f * e.attackTime);
            break;
        case kShapeBloom:
        case kShapeContour:
            S += 5.0f * Clamp01(2.0f * zcr) + 5.0f * Clamp01(1.0f - e.dynamicsDb / 20.0f) +
                 5.0f * (1.0f - 3.0f * std::fabs(tc - 0.5f));
            break;
        case kShapeFill:
            S += 5.0f * Clamp01(L / std::max(1.0f, D)) + 3.0f * Clamp01(1.0f - e.dynamicsDb / 20.0f) +
                 3.0f * Clamp01(1.0f - 3.0f * e.spectralFlux) + 2.0f * Clamp01(2.0f * zcr) +
                 2.0f * (1.0f - 3.0f * std::fabs(tc - 0.5f));
            break;
        case kShapeScatter:
            S += 10.0f * Clamp01(2.0f * e.spectralFlux) + 5.0f * Clamp01(e.dynamicsDb / 15.0f);
            break;
        default:
            S += 7.5f;
            break;
    }

    // Contrast with the layers already chosen for the event.
    if (refSuitability >= 0.0f && chosenCount >= 1) {
        const float g = std::fabs(SuitabilityScore(e) - refSuitability);
        S += 12.0f * Clamp01(2.0f * g);
        if (chosenCount >= 2 && g < 0.15f) S *= 0.7f;
    }

    // Gate: a sound that fits neither spectrum nor brightness cannot be
    // rescued by the additive terms.
    const float q = std::sqrt(std::max(m, 0.0f) * std::max(spec, 0.0f));
    const float gate = q * (1.0f - f0) + f0;
    float result;
    if (!hasTerms) {
        result = S * gate;
    } else {
        const float c = 0.9f * std::max(0.0f, 1.0f - 3.0f * b) + 0.1f;
        result = S * std::min(c, gate);
        if (kw < 0.01f) result *= 0.15f;
    }
    // Analysis fields read from a damaged index file may be NaN; such a sound
    // is unusable rather than a poison for the sort.
    return std::isfinite(result) ? result : 0.0f;
}

bool SameQuery(const TermHitCache& cache, const std::vector<SearchTerm>& terms) {
    if (cache.termTexts.size() != terms.size()) return false;
    for (size_t i = 0; i < terms.size(); ++i)
        if (cache.termModes[i] != terms[i].mode || cache.termTexts[i] != terms[i].text) return false;
    return true;
}

void PrepareCache(TermHitCache& cache, const std::vector<SearchTerm>& terms, size_t count) {
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

}  // namespace

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
    float t[5];
    BandWeights5(weight, t);
    return ScoreWithKeyword(entry, weight, t, duration, shape, !terms.empty(), kw, intensity,
                            occupiedBands, refSuitability, chosenCount);
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
    std::vector<RenderCandidate> out;
    out.reserve(candidates.size());

    // Banned paths: a set only pays off once the list is long.
    const bool bannedSet = project.bannedFiles.size() > 16;
    std::unordered_set<std::string_view> banned;
    if (bannedSet) banned.insert(project.bannedFiles.begin(), project.bannedFiles.end());
    auto isBanned = [&](const LibraryEntry& e) {
        if (!e.fileId.empty()) {
            for (const std::string& id : project.bannedFileIds)
                if (id == e.fileId) return true;
        }
        if (bannedSet) return banned.count(e.path) > 0;
        for (const std::string& p : project.bannedFiles)
            if (p == e.path) return true;
        return false;
    };

    const bool hasTerms = !terms.empty();
    float target[5];
    BandWeights5(weight, target);
    if (cache && hasTerms) PrepareCache(*cache, terms, candidates.size());

    float best = -1.0f;
    const LibraryEntry* bestEntry = nullptr;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const LibraryEntry* e = candidates[i];
        if (!e || isBanned(*e)) continue;
        float s = 0.0f;
        float kw = 0.0f;
        if (hasTerms) {
            if (cache) {
                if (cache->entries[i] == e) {
                    kw = cache->keyword[i];
                    ++cache->hits;
                } else {
                    kw = KeywordScore(*e, terms);
                    cache->entries[i] = e;
                    cache->keyword[i] = kw;
                    ++cache->misses;
                }
            } else {
                kw = KeywordScore(*e, terms);
            }
        }
        if (kw >= 0.0f)
            s = ScoreWithKeyword(*e, weight, target, duration, shape, hasTerms, kw, intensity,
                                 occupiedBands, refSuitability, chosenCount);
        if (s > best) {
            best = s;
            bestEntry = e;
        }
        if (s > 5.0f) out.push_back({e, s});
    }

    // A pool that is not wholly banned always offers its best sound.
    if (out.empty() && bestEntry) out.push_back({bestEntry, std::max(best, 0.01f)});

    const size_t keep = static_cast<size_t>(std::max(maxCount, 0));
    const size_t n = std::min(out.size(), keep);
    std::partial_sort(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), out.end(),
                      [](const RenderCandidate& a, const RenderCandidate& b) { return a.score > b.score; });
    out.resize(n);
    return out;
}

// ---------------------------------------------------------------------------
// RepetitionFactor
// ---------------------------------------------------------------------------
float RepetitionFactor(const std::string& path, const std::vector<UsedSound>& eventUsed,
                       const std::vector<UsedSound>& renderUsed, float time) {
    for (const UsedSound& u : eventUsed)
        if (u.path == path) return 0.0f;
    if (renderUsed.empty()) return 1.0f;
    int k = 0;
    float dmin = std::numeric_limits<float>::infinity();
    for (const UsedSound& u : renderUsed) {
        if (u.path != path) continue;
        ++k;
        dmin = std::min(dmin, std::fabs(time - u.eventStart));
    }
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
