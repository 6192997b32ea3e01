// candidates.h — which library sounds may serve a layer, and how well each one suits it.
//
// Index
//   RenderCandidate       {entry, score}; a scored list is best first
//   UsedSound             one placed region, kept by the render pass per event and per pass
//   TermHitCache          keyword hits of one query over one pool, reused between scorings
//   CandidateFeatures     what scoring reads of one entry, in 72 bytes
//   LibraryServes         whether a library's entries are candidates for a group and filter
//   FindCandidateSounds   the entries an event may draw from (group, library filter)
//   ScoreCandidates       score a pool for one layer, drop banned and weak sounds, keep the best
//   ScoreSoundForLayer    the score of one sound for one layer (0 = unusable)
//   RepetitionFactor      damping of sounds already used in this event or nearby
//   UsedSoundIndex        where each file occurs in a growing used-sound list
//   SuitabilityScore      0..1, higher = noisier, less tonal
//   SoundFadeFactor       0..1, how soft the sound's natural fades are
//   BandWeights5          five band weights of a 0..1 spectral weight
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct LibraryEntry;
struct LibraryIndex;
struct SoundLibrary;
struct Project;
struct SearchTerm;

struct RenderCandidate {
    const LibraryEntry* entry = nullptr;
    float score = 0;
};

// A region that the render pass has placed: the file, the region inside it and
// the start of the event that placed it.
struct UsedSound {
    std::string path;
    float sourceOffset = 0;
    float sourceDuration = 0;
    float eventStart = 0;
};

// The keyword part of a score depends only on the entry and the query, and the
// query does not change between the layers of an event. A caller that scores
// one pool many times with one query (the search ladder, Scatter grains, the
// layers of one event) may hand the same cache to every ScoreCandidates call:
// each entry's keyword hits are then matched once. Scores are identical with
// and without it. The cache checks the query and the entry pointer of every
// slot and refills what does not fit, so a different pool or query is safe;
// it must not outlive a library rescan (entries are held by address).
struct TermHitCache {
    std::vector<std::string> termTexts;
    std::vector<int> termModes;
    std::vector<const LibraryEntry*> entries;  // slot i belongs to candidate i
    std::vector<float> keyword;                // < 0: a required/excluded term rejects it
    size_t hits = 0;    // statistics, for tests and benchmarks
    size_t misses = 0;
};

// Everything of a LibraryEntry that the layer score reads besides its texts,
// with the terms that depend only on the entry worked out: a pass scores the
// same entries for every layer, and a compact copy streams through the
// processor's caches far faster than the entries themselves.
struct CandidateFeatures {
    float energy[5];      // bandEnergy
    float energySum;      // their sum, added in band order
    float centroid;       // bandCentroid
    float length;         // duration, 0 when it is negative or not finite
    float suitability;    // SuitabilityScore
    float soft, hard;     // the character terms, blended by the layer's intensity
    float spotAttack;     // the Spot shape term's attack part
    float washTerm;       // the Bloom and Contour shape term
    float scatterTerm;    // the Scatter shape term
    float fillTerms[4];   // the Fill shape term's parts after the length part
};
CandidateFeatures MakeCandidateFeatures(const LibraryEntry& entry);

// True when the library is enabled, serves `group` (a library of group -1
// serves all; a request for group -1 takes every group) and its name, or one
// of its previous names, is an item of `libFilter` (null or "" = any; the
// filter "~none~" is FindCandidateSounds' business).
bool LibraryServes(const LibraryIndex& library, int group, const char* libFilter);

// Entries of every enabled library that serves `group` (a library of group -1
// serves all; a request for group -1 takes every group) and whose name, or one
// of its previous names, is an item of `libFilter` (null or "" = every
// library; "~none~" = none at all). Pointers stay valid until the libraries change.
std::vector<const LibraryEntry*> FindCandidateSounds(const std::vector<LibraryIndex>& libraries,
                                                     int group, const char* libFilter);
std::vector<const LibraryEntry*> FindCandidateSounds(const SoundLibrary& library, int group,
                                                     const char* libFilter);

// Scores every candidate for one layer, best first, at most maxCount long;
// equal scores keep the order of the candidates. Banned files
// (project.bannedFileIds / bannedFiles) never appear. Sounds scoring 5 or less
// are dropped, but a pool that is not wholly banned always yields at least its
// best sound (the first of equal best scores, with score max(best, 0.01)).
// occupiedBands: five values or null; refSuitability < 0 or chosenCount < 1
// turn the contrast term off.
std::vector<RenderCandidate> ScoreCandidates(const Project& project,
                                             const std::vector<const LibraryEntry*>& candidates,
                                             float weight, float duration, int shape,
                                             const std::vector<SearchTerm>& terms, int maxCount,
                                             float intensity, const float* occupiedBands,
                                             float refSuitability, int chosenCount,
                                             TermHitCache* cache = nullptr);

// 0 = unusable. A duration that is not a positive finite number scores 0.
float ScoreSoundForLayer(const LibraryEntry& entry, float weight, float duration, int shape,
                         const std::vector<SearchTerm>& terms, float intensity,
                         const float* occupiedBands, float refSuitability, int chosenCount);

// 0 when the event already uses the file; otherwise less the more often and the
// nearer (in event start time) the pass has used it.
float RepetitionFactor(const std::string& path, const std::vector<UsedSound>& eventUsed,
                       const std::vector<UsedSound>& renderUsed, float time);

// The render pass's used list grows to one record per layer, and every
// candidate of every layer asks about it: this index answers by file instead
// of comparing every record's path. It follows the list as records are
// appended (records are never changed or removed during a pass).
struct UsedSoundIndex {
    size_t indexed = 0;  // records of the list taken in so far
    std::unordered_map<std::string, std::vector<uint32_t>> byPath;  // record positions, ascending
};

// Takes in the records appended to `list` since the last call.
void CatchUpUsedSoundIndex(UsedSoundIndex& index, const std::vector<UsedSound>& list);

// RepetitionFactor(path, eventUsed, renderUsed, time), with renderUsed read
// through its index (which must have caught up with it).
float RepetitionFactorIndexed(const std::string& path, const std::vector<UsedSound>& eventUsed,
                              const std::vector<UsedSound>& renderUsed, const UsedSoundIndex& renderIndex,
                              float time);

float SuitabilityScore(const LibraryEntry& entry);
float SoundFadeFactor(const LibraryEntry& entry);

// Bands 20-150, 150-750, 750-2000, 2000-6000, 6000-16000 Hz; the five sum to 1.
void BandWeights5(float value, float out[5]);
