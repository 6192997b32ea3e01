// layer_choice.h — what a layer builder of the render pass receives, and the
// steps of choosing and placing a layer that every builder shares (the
// per-shape builders themselves are layer_builders.h).
//
// Index
//   RenderSeeds           where a pass's random numbers come from (clock, or fixed for tests)
//   RenderPassOptions     threads, the single-threaded reference scoring, the cancel flag
//   LayerBuildContext     everything a builder receives from the pass for one event
//   Shared layer steps    EventSyncPosition, CapFadePair, UsedRegionsOfFile, PlayableSourceLength,
//   Shared layer choice   NewLayer, RefSuitability, AccumulatedBands, ScoreLayerCandidates,
//                         RunCandidateLadder,
//                         ApplyRepetitionFactors, DropNonPositive, SortCandidates, RankCandidates,
//                         PickCandidate, PickOrAppendNoMatch, RecordChosenSound, MakeSketchLayer,
//                         MakeNoMatchLayer, AppendLayer
//   Sketch names          kSketchSpot ... kNoMatchName
//
// A builder appends its layers to context.project->results and returns; the
// pass publishes the result count afterwards. Builders draw every random
// number from *context.randomState (except Fill's scored pick, which seeds
// itself), in the order their layers are made.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/search_query.h"
#include "library/sound_library.h"
#include "render/candidates.h"

// The pass seed and the salt of Fill's own pick seed. The program takes both
// from the clock (and from an address that differs between runs); a test hands
// in fixed values so that two renders of one project come out the same.
struct RenderSeeds {
    uint32_t passSeed = 0;
    // false: Fill's pick mixes the calendar time and the address of the pass's
    // working record into its seed; true: it mixes in fillSalt instead.
    bool fixedFillSalt = false;
    uint32_t fillSalt = 0;
};

struct PoolScoringStats;

// How a pass does its work; none of it changes what the pass produces.
struct RenderPassOptions {
    // Threads that score candidates: 0 = one per core, 1 = the pass's own
    // thread only. The layers are the same for every count.
    int threads = 0;
    // Score with ScoreCandidates over plain candidate lists, one layer at a
    // time on the pass's thread: the reference the parallel scoring is
    // tested against.
    bool referenceScoring = false;
    // When set during the pass (the busy task's cancel), the layer being
    // scored finds no candidates, the event in hand loses what it made so far
    // and no further event is rendered; the pass still finishes (gains,
    // sorting, tracks) over the results it has.
    const std::atomic<bool>* cancel = nullptr;
    // When given, every scoring of the pool scorer adds what it looked at
    // (benchmarks and tests; the reference path adds nothing).
    PoolScoringStats* scoringStats = nullptr;
    // When given (tests), called with each event's band mask (five values)
    // before its layers are chosen.
    std::function<void(int eventIndex, const float* mask)> bandMaskSeen;
};

struct CandidatePool;
struct CandidateTable;
struct PoolScoringScratch;

struct LayerBuildContext {
    Project* project = nullptr;
    // Where the event's layers go; null: project->results. The full render
    // gathers an event's layers apart and merges them into its order itself.
    std::vector<RenderResult>* out = nullptr;
    const SoundLibrary* library = nullptr;
    int eventIndex = -1;
    float eventStart = 0;  // time - syncOffset
    float eventEnd = 0;    // eventStart + duration
    int layerCount = 0;    // n: layers the event wants in all, pinned ones included
    int fillCap = 8;
    int pinnedCount = 0;   // pinned layers already made; builders number after them
    int group = 0;         // the event's mix group
    const std::vector<const LibraryEntry*>* pool = nullptr;
    // The same pool in the candidate table, for the pool scorer, and the
    // pass's working lists for it; null on the reference path (then `pool`
    // is scored with ScoreCandidates).
    const CandidatePool* scoringPool = nullptr;
    const CandidateTable* scoringTable = nullptr;
    PoolScoringScratch* scoringScratch = nullptr;
    const RenderPassOptions* options = nullptr;  // null: the defaults
    std::vector<SearchTerm> terms;
    float bandMask[5] = {0, 0, 0, 0, 0};
    float maxIntensity = 0;
    uint32_t* randomState = nullptr;
    const RenderSeeds* seeds = nullptr;

    // Bookkeeping of the event, shared by every layer it gets.
    std::vector<UsedSound>* passUsed = nullptr;  // every sound placed this pass
    UsedSoundIndex* passUsedIndex = nullptr;     // of passUsed; null: scan it
    std::vector<UsedSound> eventUsed;            // sounds placed for this event
    float bandAccum[5] = {0, 0, 0, 0, 0};        // starts as bandMask
    float suitabilitySum = 0;
    int realLayers = 0;                          // layers with a library sound
    TermHitCache termCache;                      // keyword hits of this event's query (reference path)
    // The list of the last scoring (ScoreLayerCandidates, RunCandidateLadder):
    // one buffer for every layer of the event, so choosing allocates nothing.
    std::vector<RenderCandidate> candidates;

    // The event lives in project->events, which no builder resizes.
    Event& event() const { return project->events[eventIndex]; }
    bool poolEmpty() const { return pool == nullptr || pool->empty(); }
};

// syncOffset / duration (0.5 for an event without length), clamped to 0..1.
float EventSyncPosition(const Event& event);

// When fadeIn + fadeOut exceeds limit, both shrink by limit / their sum.
void CapFadePair(float& fadeIn, float& fadeOut, float limit);

// The fit only compares used regions of the file it places, so the event's
// uses followed by the pass's, cut down to that file, stand for both lists.
std::vector<UsedSound> UsedRegionsOfFile(const LayerBuildContext& ctx, const std::string& path);

// How long the chosen region plays once its pitch variation is applied.
float PlayableSourceLength(const RenderResult& result);

// A new result of the event: startTime eventStart, duration of the event,
// the given weight, track and processing mode.
RenderResult NewLayer(const LayerBuildContext& ctx, float weight, int track, int procMode);

// Mean SuitabilityScore of the event's real layers so far, -1 when none.
float RefSuitability(const LayerBuildContext& ctx);

// The band accumulator when any of its values exceeds 0.01, else null.
const float* AccumulatedBands(const LayerBuildContext& ctx);

// True once the pass's cancel flag is set.
bool RenderCancelled(const LayerBuildContext& ctx);

// ScoreCandidates over the event's pool, the way the pass scores: over
// scoringPool on the pass's threads when there is one, else over `pool`
// (with the event's term cache). Empty once the pass is cancelled. The list
// is ctx.candidates, which the next scoring of the event overwrites.
std::vector<RenderCandidate>& ScoreLayerCandidates(LayerBuildContext& ctx, float weight, float duration,
                                                   int shape, const std::vector<SearchTerm>& terms,
                                                   int maxCount, float intensity, const float* bands,
                                                   float refSuitability, int chosenCount);

// The full search ladder for one layer (five tries, falling back from the
// event's keywords and weight to any sound), then pinned files removed and the
// list sorted best first. `weight` is the already jittered target; `intensity`
// the layer's intensity for the first two tries. May return an empty list;
// the list is ctx.candidates, as with ScoreLayerCandidates.
std::vector<RenderCandidate>& RunCandidateLadder(LayerBuildContext& ctx, float weight, float intensity);

// Multiplies every score by RepetitionFactor(path, event used, pass used, eventStart).
void ApplyRepetitionFactors(const LayerBuildContext& ctx, std::vector<RenderCandidate>& list);
// Removes candidates with score <= 0 (and any that is not a number).
void DropNonPositive(std::vector<RenderCandidate>& list);
// Highest score first; equal scores keep their order.
void SortCandidates(std::vector<RenderCandidate>& list);
// The three in turn, as a builder ranks one scoring of its own.
void RankCandidates(const LayerBuildContext& ctx, std::vector<RenderCandidate>& list);

// Weighted draw from the state when the list holds more than one candidate
// and the scores sum to more than 0 (the first candidate whose running sum
// reaches r * sum); otherwise the first candidate without a draw. Null for an
// empty list. `limit` > 0 restricts the pick to the first `limit` candidates.
const LibraryEntry* PickCandidate(const std::vector<RenderCandidate>& list, uint32_t& state,
                                  int limit = 0);

// A chosen sound joins the event's and the pass's used lists, its band
// energies the band accumulator and its suitability the running mean.
void RecordChosenSound(LayerBuildContext& ctx, const LibraryEntry& entry, float sourceOffset,
                       float sourceDuration);
// The used-list half of RecordChosenSound, for builders that keep the band
// accumulator for other sounds.
void RecordUsedRegion(LayerBuildContext& ctx, const std::string& path, float sourceOffset,
                      float sourceDuration);

// Marks the layer as a sketch without a file ("[Sketch] Spot" and so on).
void MakeSketchLayer(RenderResult& result, const char* sketchName);
// A layer whose search found no usable sound: "(no match)", no file, flagged
// as a placeholder like a sketch.
void MakeNoMatchLayer(RenderResult& result);

// Name, path and id of the chosen entry.
void TakeEntryIdentity(RenderResult& result, const LibraryEntry& entry);
// A builder's pick (PickCandidate with the pass's random state): the sound,
// whose identity the layer takes; or null, the layer then appended as "no
// match" (AppendLayer with `withCurve`) for the builder to go on with the next.
const LibraryEntry* PickOrAppendNoMatch(LayerBuildContext& ctx, const std::vector<RenderCandidate>& list,
                                        RenderResult& result, bool withCurve = true);

// stereo from the event, the intensity lookup when withCurve, then append
// (to ctx.out when set). Returns the index of the new result there.
int AppendLayer(LayerBuildContext& ctx, RenderResult& result, bool withCurve = true);

// Sketch names of the shapes, as the timeline shows them.
inline constexpr const char* kSketchSpot = "[Sketch] Spot";
inline constexpr const char* kSketchAlloy = "[Sketch] Alloy";
inline constexpr const char* kSketchFill = "[Sketch] Fill";
inline constexpr const char* kSketchWash = "[Sketch] Wash";
inline constexpr const char* kSketchScatter = "[Sketch] Scatter";
inline constexpr const char* kSketchLayer = "[Sketch] Layer";
inline constexpr const char* kNoMatchName = "(no match)";
