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
//
// Both take the items in results order and decide groupTrack (-1: no track)
// and the budget's mute for every item of groups 0, 1 and 2; other groups
// are left alone. An item whose start or end is not finite gets no track.
// The callers keep every other mute reason and the global track numbers.
#pragma once

#include <cstdint>
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
