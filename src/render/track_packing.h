// track_packing.h — the two ways layers are packed onto the tracks of their
// mix group, over small records of what packing reads, so that a long
// render can pack its layers many times without touching the layers.
//
// Index
//   PackItem            one layer as packing sees it, and what packing decides for it
//   PackScratch         working lists kept from one packing to the next
//   PackAsPassEnd       the order of the end of a render pass (events by hero,
//                       layer count and first start; the budget rank by rank)
//   PackAsAssignment    the order of the track assignment (layers by start; the
//                       budget's events by index, rank by rank)
//   PackGroupAsPassEnd / PackGroupAsAssignment   the same for one group
//   PackItemOf          a layer's record, its event's hero and Bed flags included
//   TrackCrowding       a bound on the tracks either packing opens in a group
//   PlaceFirstFit / ReplayPlacement   the rule both packings place a layer by, over
//                       the tracks' ends (what a packing carries from layer to layer)
//
// Both take the items in results order and decide groupTrack (-1: no track)
// and the budget's mute for every item of groups 0, 1 and 2; other groups
// are left alone. An item whose start or end is not finite gets no track.
// The callers keep every other mute reason and the global track numbers.
#pragma once

#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

struct Project;
struct RenderResult;

// The tracks a group may open when the project has no track budget.
inline constexpr int kTracksWithoutBudget = 48;

struct PackItem {
    float start = 0;
    float duration = 0;
    float gain = 1;  // layerGain
    int32_t eventIdx = 0;
    int32_t group = 0;
    bool hero = false;  // the layer's event exists and is a hero
    bool bed = false;   // the layer's event exists and is a Bed (never muted for lack of tracks)
    // Decided by packing.
    int32_t groupTrack = -1;
    bool budgetMuted = false;
};

struct PackScratch {
    std::vector<int> members;      // item indices of one group's events, event by event
    std::vector<int> eventStarts;  // per event of the group: its first entry in `members`
    std::vector<int> eventOrder;
    std::vector<float> eventKeys;
    std::vector<int> slotOf;       // per event index: its slot among the group's events
    std::vector<uint32_t> slotStamp;  // which gathering slotOf was written by
    uint32_t stamp = 0;
    std::vector<int> memberSlots, grouped, counts, fill, byStart;
    std::vector<float> trackEnds;
};

// The packing of the end of a render pass. usedTracks[g] := the tracks group
// g uses (0 without items). trackCount: the groups' counts (the budget in
// budget mode; 48 tracks otherwise).
void PackAsPassEnd(std::vector<PackItem>& items, bool budgetMode, const int32_t trackCount[3],
                   int32_t usedTracks[3], PackScratch& scratch);

// The packing of AssignTracks. The used-track counts follow from the
// decided groupTracks (CountUsedTracks).
void PackAsAssignment(std::vector<PackItem>& items, bool budgetMode, const int32_t trackCount[3],
                      PackScratch& scratch);

// The same for group g alone (the groups never share a track); `items` may
// hold that group's items only. PackGroupAsPassEnd returns the tracks it uses.
int32_t PackGroupAsPassEnd(std::vector<PackItem>& items, int g, bool budgetMode, int32_t trackCount,
                           PackScratch& scratch);
void PackGroupAsAssignment(std::vector<PackItem>& items, int g, bool budgetMode, int32_t trackCount,
                           PackScratch& scratch);

PackItem PackItemOf(const Project& project, const RenderResult& result);

// The lowest track whose end is at most `start` + 1 ms; else a new one while
// fewer than `budget` are open, or always for a Bed. Its end becomes the
// larger of its end and start + duration. -1 (nothing changed) when the
// budget leaves the layer without a track.
int32_t PlaceFirstFit(std::vector<float>& ends, int budget, float start, float duration, bool bed);
// A placement already decided (track -1: none) applied to the tracks' ends
// as PlaceFirstFit applies its own.
void ReplayPlacement(std::vector<float>& ends, int32_t track, float start, float duration);

// A bound on the tracks either packing opens in one group, kept as layers
// come in. The pass end takes the group's events class by class (hero, then
// layer count) and, within a class, by first start. When a layer finds every
// track busy, each busy track opened in its class holds a layer of an event
// placed before it whose span (first start .. last end or start) covers the
// layer's start; so a class opens at most as many tracks as the most layers
// its events stack over one moment, and the group at most the sum of that
// over its classes. The assignment, by start, opens as many as the layers
// stacked over one moment, no more. Moments are counted in bins (a span
// counts in every bin it touches), which can only overstate the stacking;
// adding layers never lowers it. While the bound stays below the 48 tracks a
// group has without a budget, neither packing mutes a layer of the group.
class TrackCrowding {
public:
    // An event of the group: whether a hero, its layers, its span.
    void AddEvent(bool hero, int layers, float firstStart, float lastTime);
    int Bound() const { return bound_; }

private:
    struct Class {
        std::unordered_map<int64_t, int> bins;
        int peak = 0;
        int everywhere = 0;  // spans too long to count in bins
    };
    std::map<std::pair<bool, int>, Class> classes_;
    int bound_ = 0;
};
