// track_packing.cpp — first-fit packing of layers onto group tracks, in the
// two orders the program uses.
//
// Index
//   Constants, TrackList     the open tracks of one group
//   GroupEvents              a group's items gathered per event
//   Layer orders             the two tolerant gain orders (insertion sorts)
//   PlaceFirstFit            the first-fit rule, and a placement replayed
//   PackAsPassEnd            events by hero, layer count, first start (group by group)
//   PackAsAssignment         layers by start, or events by index under the budget
//   PackItemOf
//   TrackCrowding
//
// The gain orders treat gains within 0.001 as equal, which is not a strict
// weak order: they are insertion sorts that never leave the list (an event
// holds few layers). The event orders are strict weak orders on finite keys,
// so a stable sort gives exactly the order an insertion sort would.
#include "render/track_packing.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"

namespace {

// ---- Constants, TrackList -------------------------------------------------------

constexpr int kUnlimitedTracks = kTracksWithoutBudget;
constexpr float kTouchTolerance = 0.001f;  // a layer may start 1 ms before the last one ends
constexpr float kGainTolerance = 0.001f;
constexpr float kNoStart = 1e30f;

bool Finite(const PackItem& item) {
    return std::isfinite(item.start) && std::isfinite(item.start + item.duration);
}

// The lowest track free at the item's start (1 ms of overlap allowed); else a
// new track while the budget allows, or always for a Bed; else the budget
// mutes the item.
struct TrackList {
    std::vector<float>& ends;
    int budget = kUnlimitedTracks;
    int used = 0;

    void Place(PackItem& item) {
        const int32_t chosen = PlaceFirstFit(ends, budget, item.start, item.duration, item.bed);
        if (chosen < 0) {
            item.budgetMuted = true;
            item.groupTrack = -1;
            return;
        }
        item.groupTrack = chosen;
        used = std::max(used, chosen + 1);
    }
};

// ---- GroupEvents ----------------------------------------------------------------------

// The finite items of group g per event, events in the order their first item
// comes, each event's items in results order: event k holds
// members[eventStarts[k] .. eventStarts[k + 1]). Items of the group that are
// not finite get no track. Returns the number of events.
int GroupEvents(std::vector<PackItem>& items, int g, PackScratch& s) {
    constexpr int32_t kDirectSlots = 1 << 22;
    std::unordered_map<int32_t, int> farSlots;  // event indices outside the direct table
    s.stamp += 1;
    if (s.stamp == 0) {
        std::fill(s.slotStamp.begin(), s.slotStamp.end(), 0u);
        s.stamp = 1;
    }
    s.memberSlots.clear();
    s.members.clear();
    s.counts.clear();
    for (size_t i = 0; i < items.size(); ++i) {
        PackItem& item = items[i];
        if (item.group != g) continue;
        item.budgetMuted = false;
        if (!Finite(item)) {
            item.groupTrack = -1;
            continue;
        }
        int slot = -1;
        const int32_t e = item.eventIdx;
        if (e >= 0 && e < kDirectSlots) {
            if (size_t(e) >= s.slotOf.size()) {
                s.slotOf.resize(size_t(e) + 1, 0);
                s.slotStamp.resize(size_t(e) + 1, 0u);
            }
            if (s.slotStamp[size_t(e)] != s.stamp) {
                s.slotStamp[size_t(e)] = s.stamp;
                s.slotOf[size_t(e)] = int(s.counts.size());
                s.counts.push_back(0);
            }
            slot = s.slotOf[size_t(e)];
        } else {
            auto [it, added] = farSlots.try_emplace(e, int(s.counts.size()));
            if (added) s.counts.push_back(0);
            slot = it->second;
        }
        s.counts[size_t(slot)] += 1;
        s.members.push_back(int(i));
        s.memberSlots.push_back(slot);
    }
    const int events = int(s.counts.size());
    s.eventStarts.assign(size_t(events) + 1, 0);
    for (int k = 0; k < events; ++k) s.eventStarts[size_t(k) + 1] = s.eventStarts[size_t(k)] + s.counts[size_t(k)];
    s.grouped.resize(s.members.size());
    s.fill.assign(s.eventStarts.begin(), s.eventStarts.end() - 1);
    for (size_t m = 0; m < s.members.size(); ++m) s.grouped[size_t(s.fill[size_t(s.memberSlots[m])]++)] = s.members[m];
    s.members.swap(s.grouped);
    return events;
}

// ---- Layer orders ---------------------------------------------------------------------------

template <typename Before>
void InsertionSort(int* first, int* last, Before before) {
    for (int* i = first + (first != last ? 1 : 0); i < last; ++i) {
        const int moving = *i;
        int* j = i;
        while (j > first && before(moving, *(j - 1))) {
            *j = *(j - 1);
            --j;
        }
        *j = moving;
    }
}

// The end of a pass: gains that differ by more than 0.001 decide, louder
// first; else the earlier start.
void SortLayersForPassEnd(const std::vector<PackItem>& items, int* first, int* last) {
    InsertionSort(first, last, [&](int a, int b) {
        const float ga = items[size_t(a)].gain, gb = items[size_t(b)].gain;
        if (std::fabs(ga - gb) > kGainTolerance) return ga > gb;
        return items[size_t(a)].start < items[size_t(b)].start;
    });
}

// The track assignment: gains within 0.001 count as equal and then the
// earlier start comes first; else the louder.
void SortLayersForAssignment(const std::vector<PackItem>& items, int* first, int* last) {
    InsertionSort(first, last, [&](int a, int b) {
        const float ga = items[size_t(a)].gain, gb = items[size_t(b)].gain;
        if (std::fabs(ga - gb) <= kGainTolerance) return items[size_t(a)].start < items[size_t(b)].start;
        return ga > gb;
    });
}

// Every event's strongest item before any event's second one (events in
// `order`), so the items the budget mutes are each event's weakest.
void PlaceRankByRank(std::vector<PackItem>& items, const PackScratch& s, TrackList& tracks) {
    int maxLayers = 0;
    for (int k : s.eventOrder) maxLayers = std::max(maxLayers, s.eventStarts[size_t(k) + 1] - s.eventStarts[size_t(k)]);
    for (int rank = 0; rank < maxLayers; ++rank) {
        for (int k : s.eventOrder) {
            const int at = s.eventStarts[size_t(k)] + rank;
            if (at < s.eventStarts[size_t(k) + 1]) tracks.Place(items[size_t(s.members[size_t(at)])]);
        }
    }
}

// The survivors again, event by event from the earliest surviving start
// (10^30 for an event with none), so the tracks follow the timeline.
void PlaceSurvivorsInTime(std::vector<PackItem>& items, PackScratch& s, TrackList& tracks) {
    s.eventKeys.assign(s.eventStarts.size() - 1, kNoStart);
    for (size_t k = 0; k + 1 < s.eventStarts.size(); ++k) {
        for (int at = s.eventStarts[k]; at < s.eventStarts[k + 1]; ++at) {
            const PackItem& item = items[size_t(s.members[size_t(at)])];
            if (!item.budgetMuted) s.eventKeys[k] = std::min(s.eventKeys[k], item.start);
        }
    }
    std::stable_sort(s.eventOrder.begin(), s.eventOrder.end(),
                     [&](int a, int b) { return s.eventKeys[size_t(a)] < s.eventKeys[size_t(b)]; });
    tracks.ends.clear();
    tracks.used = 0;
    for (int k : s.eventOrder) {
        for (int at = s.eventStarts[size_t(k)]; at < s.eventStarts[size_t(k) + 1]; ++at) {
            PackItem& item = items[size_t(s.members[size_t(at)])];
            if (item.budgetMuted) continue;
            item.groupTrack = -1;
            tracks.Place(item);
        }
    }
}

}  // namespace

// ---- PlaceFirstFit / ReplayPlacement ---------------------------------------------------

int32_t PlaceFirstFit(std::vector<float>& ends, int budget, float start, float duration, bool bed) {
    int chosen = -1;
    for (size_t t = 0; t < ends.size(); ++t) {
        if (ends[t] <= start + kTouchTolerance) {
            chosen = int(t);
            break;
        }
    }
    if (chosen < 0) {
        if (int(ends.size()) >= budget && !bed) return -1;
        ends.push_back(-INFINITY);
        chosen = int(ends.size()) - 1;
    }
    ReplayPlacement(ends, chosen, start, duration);
    return chosen;
}

void ReplayPlacement(std::vector<float>& ends, int32_t track, float start, float duration) {
    if (track < 0) return;
    if (size_t(track) >= ends.size()) ends.resize(size_t(track) + 1, -INFINITY);
    ends[size_t(track)] = std::max(ends[size_t(track)], start + duration);
}

// ---- PackAsPassEnd -----------------------------------------------------------------------------

int32_t PackGroupAsPassEnd(std::vector<PackItem>& items, int g, bool budgetMode, int32_t trackCount,
                           PackScratch& s) {
    const int events = GroupEvents(items, g, s);
    if (events == 0) return 0;
    // Heroes first, then the event with more layers, then the one whose
    // first layer (in results order) starts earlier.
    s.eventOrder.resize(size_t(events));
    for (int k = 0; k < events; ++k) s.eventOrder[size_t(k)] = k;
    auto first = [&](int k) -> const PackItem& { return items[size_t(s.members[size_t(s.eventStarts[size_t(k)])])]; };
    auto size = [&](int k) { return s.eventStarts[size_t(k) + 1] - s.eventStarts[size_t(k)]; };
    std::stable_sort(s.eventOrder.begin(), s.eventOrder.end(), [&](int a, int b) {
        const bool ha = first(a).hero, hb = first(b).hero;
        if (ha != hb) return ha;
        if (size(a) != size(b)) return size(a) > size(b);
        return first(a).start < first(b).start;
    });
    for (int k = 0; k < events; ++k) {
        int* begin = s.members.data() + s.eventStarts[size_t(k)];
        SortLayersForPassEnd(items, begin, s.members.data() + s.eventStarts[size_t(k) + 1]);
    }

    s.trackEnds.clear();
    TrackList tracks{s.trackEnds};
    tracks.budget = budgetMode ? std::max(0, trackCount) : kUnlimitedTracks;
    if (!budgetMode) {
        for (int k : s.eventOrder) {
            for (int at = s.eventStarts[size_t(k)]; at < s.eventStarts[size_t(k) + 1]; ++at)
                tracks.Place(items[size_t(s.members[size_t(at)])]);
        }
    } else {
        PlaceRankByRank(items, s, tracks);
        PlaceSurvivorsInTime(items, s, tracks);
    }
    return tracks.used;
}

void PackAsPassEnd(std::vector<PackItem>& items, bool budgetMode, const int32_t trackCount[3],
                   int32_t usedTracks[3], PackScratch& scratch) {
    for (int g = 0; g < 3; ++g) usedTracks[g] = PackGroupAsPassEnd(items, g, budgetMode, trackCount[g], scratch);
}

// ---- PackAsAssignment ------------------------------------------------------------------------------

void PackGroupAsAssignment(std::vector<PackItem>& items, int g, bool budgetMode, int32_t trackCount,
                           PackScratch& s) {
    const int events = GroupEvents(items, g, s);
    if (events == 0) return;
    s.trackEnds.clear();
    TrackList tracks{s.trackEnds};
    tracks.budget = budgetMode ? trackCount : kUnlimitedTracks;

    if (!budgetMode) {
        // Every layer by its start; equal starts keep results order.
        s.byStart.clear();
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i].group == g && Finite(items[i])) s.byStart.push_back(int(i));
        }
        std::stable_sort(s.byStart.begin(), s.byStart.end(),
                         [&](int a, int b) { return items[size_t(a)].start < items[size_t(b)].start; });
        for (int i : s.byStart) tracks.Place(items[size_t(i)]);
        return;
    }

    // Events by index; heroes first, then more layers first (equal ones
    // keep index order).
    s.eventOrder.resize(size_t(events));
    for (int k = 0; k < events; ++k) s.eventOrder[size_t(k)] = k;
    auto first = [&](int k) -> const PackItem& { return items[size_t(s.members[size_t(s.eventStarts[size_t(k)])])]; };
    auto size = [&](int k) { return s.eventStarts[size_t(k) + 1] - s.eventStarts[size_t(k)]; };
    std::sort(s.eventOrder.begin(), s.eventOrder.end(),
              [&](int a, int b) { return first(a).eventIdx < first(b).eventIdx; });
    for (int k = 0; k < events; ++k) {
        int* begin = s.members.data() + s.eventStarts[size_t(k)];
        SortLayersForAssignment(items, begin, s.members.data() + s.eventStarts[size_t(k) + 1]);
    }
    std::stable_sort(s.eventOrder.begin(), s.eventOrder.end(), [&](int a, int b) {
        const bool ha = first(a).hero, hb = first(b).hero;
        if (ha != hb) return ha;
        return size(a) > size(b);
    });
    PlaceRankByRank(items, s, tracks);
    PlaceSurvivorsInTime(items, s, tracks);
}

void PackAsAssignment(std::vector<PackItem>& items, bool budgetMode, const int32_t trackCount[3],
                      PackScratch& scratch) {
    for (int g = 0; g < 3; ++g) PackGroupAsAssignment(items, g, budgetMode, trackCount[g], scratch);
}

// ---- PackItemOf --------------------------------------------------------------------------------------

PackItem PackItemOf(const Project& project, const RenderResult& r) {
    PackItem item;
    item.start = r.startTime;
    item.duration = r.duration;
    item.gain = r.layerGain;
    item.eventIdx = r.eventIdx;
    item.group = r.group;
    item.groupTrack = r.groupTrack;
    item.budgetMuted = (r.muteReasons & kMuteBudget) != 0;
    if (r.eventIdx >= 0 && size_t(r.eventIdx) < project.events.size()) {
        const Event& event = project.events[size_t(r.eventIdx)];
        item.hero = event.hero;
        item.bed = event.shape == kShapeBed;
    }
    return item;
}

// ---- TrackCrowding ----------------------------------------------------------------------------------

void TrackCrowding::AddEvent(bool hero, int layers, float firstStart, float lastTime) {
    Class& c = classes_[{hero, layers}];
    constexpr double kBin = 0.5;
    constexpr int64_t kMostBins = 4096;
    const double lo = std::floor(double(firstStart) / kBin), hi = std::floor(double(lastTime) / kBin);
    if (!(std::fabs(lo) < 1e15) || !(std::fabs(hi) < 1e15) || hi - lo > double(kMostBins)) {
        c.everywhere += layers;
    } else {
        for (int64_t b = int64_t(lo); b <= int64_t(hi); ++b) c.peak = std::max(c.peak, c.bins[b] += layers);
    }
    bound_ = 0;
    for (const auto& [key, each] : classes_) bound_ += each.peak + each.everywhere;
}
