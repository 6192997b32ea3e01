// track_assignment.cpp — first-fit packing of layers onto group tracks.
//
// Index
//   Entry, TrackPacker      one layer's span and the open tracks of a group
//   SortByGainThenStart     ordering of one event's layers (tolerant, bounds-checked)
//   PlaceGroupPlain         every layer by start time, budget 48 or the group's
//   PlaceGroupBudget        the two passes: who gets a track, then which one
//   AssignTracks / CountUsedTracks
#include "render/track_assignment.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "document/event.h"
#include "document/project.h"

namespace {

constexpr int kUnlimitedTracks = 48;
constexpr float kTouchTolerance = 0.001f;  // a layer may start 1 ms before the last one ends
constexpr float kGainTolerance = 0.001f;
constexpr float kNoStart = 1e30f;

struct Entry {
    int result = 0;
    float start = 0;
    float end = 0;
    int32_t eventIdx = 0;
    float gain = 0;
};

bool IsBedResult(const Project& project, const RenderResult& r) {
    return r.eventIdx >= 0 && r.eventIdx < static_cast<int32_t>(project.events.size()) &&
           project.events[r.eventIdx].shape == kShapeBed;
}

bool IsHeroEvent(const Project& project, int32_t eventIdx) {
    return eventIdx >= 0 && eventIdx < static_cast<int32_t>(project.events.size()) &&
           project.events[eventIdx].hero;
}

bool IsBudgetMuted(const RenderResult& r) { return (r.muteReasons & kMuteBudget) != 0; }

struct TrackPacker {
    std::vector<float> trackEnds;
    int budget = kUnlimitedTracks;

    // The same rule on every road: lowest free track, else a new one while the
    // budget allows (a Bed may always open one), else the budget mutes it.
    void Place(const Entry& e, RenderResult& r, bool bed) {
        for (size_t t = 0; t < trackEnds.size(); ++t) {
            if (trackEnds[t] <= e.start + kTouchTolerance) {
                trackEnds[t] = std::max(trackEnds[t], e.end);
                r.groupTrack = static_cast<int32_t>(t);
                return;
            }
        }
        if (static_cast<int>(trackEnds.size()) < budget || bed) {
            trackEnds.push_back(e.end);
            r.groupTrack = static_cast<int32_t>(trackEnds.size()) - 1;
            return;
        }
        SetMuteReason(r, kMuteBudget, true);
        r.groupTrack = -1;
    }
};

// Louder first; gains within a millisecond-sized tolerance count as equal and
// then the earlier start wins. The tolerance makes the order non-transitive,
// which the standard sorts do not allow, so a plain insertion sort that never
// leaves the vector does the work (an event holds few layers).
void SortByGainThenStart(std::vector<Entry>& entries) {
    auto before = [](const Entry& a, const Entry& b) {
        if (std::fabs(a.gain - b.gain) <= kGainTolerance) return a.start < b.start;
        return a.gain > b.gain;
    };
    for (size_t i = 1; i < entries.size(); ++i) {
        Entry moving = entries[i];
        size_t j = i;
        while (j > 0 && before(moving, entries[j - 1])) {
            entries[j] = entries[j - 1];
            --j;
        }
        entries[j] = moving;
    }
}

void PlaceGroupPlain(Project& project, std::vector<Entry>& entries, int budget) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
    TrackPacker packer;
    packer.budget = budget;
    for (const Entry& e : entries) {
        RenderResult& r = project.results[e.result];
        packer.Place(e, r, IsBedResult(project, r));
    }
}

void PlaceGroupBudget(Project& project, const std::vector<Entry>& entries, int budget) {
    std::map<int32_t, std::vector<Entry>> byEvent;
    for (const Entry& e : entries) byEvent[e.eventIdx].push_back(e);

    struct EventLayers {
        int32_t eventIdx;
        bool hero;
        std::vector<Entry>* layers;
    };
    std::vector<EventLayers> events;
    events.reserve(byEvent.size());
    size_t maxLayers = 0;
    for (auto& [eventIdx, layers] : byEvent) {
        SortByGainThenStart(layers);
        events.push_back({eventIdx, IsHeroEvent(project, eventIdx), &layers});
        maxLayers = std::max(maxLayers, layers.size());
    }

    // First pass: every event's strongest layer before any event's second one,
    // so the layers the budget mutes are each event's weakest.
    std::stable_sort(events.begin(), events.end(), [](const EventLayers& a, const EventLayers& b) {
        if (a.hero != b.hero) return a.hero;
        return a.layers->size() > b.layers->size();
    });
    TrackPacker packer;
    packer.budget = budget;
    for (size_t k = 0; k < maxLayers; ++k) {
        for (const EventLayers& ev : events) {
            if (k >= ev.layers->size()) continue;
            const Entry& e = (*ev.layers)[k];
            RenderResult& r = project.results[e.result];
            packer.Place(e, r, IsBedResult(project, r));
        }
    }

    // Second pass: the survivors again, event by event in time order, so an
    // event's layers sit on neighbouring tracks.
    auto earliest = [&](const EventLayers& ev) {
        float first = kNoStart;
        for (const Entry& e : *ev.layers) {
            if (!IsBudgetMuted(project.results[e.result])) first = std::min(first, e.start);
        }
        return first;
    };
    std::vector<std::pair<float, size_t>> order;
    order.reserve(events.size());
    for (size_t i = 0; i < events.size(); ++i) order.push_back({earliest(events[i]), i});
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    packer.trackEnds.clear();
    for (const auto& [first, i] : order) {
        for (const Entry& e : *events[i].layers) {
            RenderResult& r = project.results[e.result];
            if (IsBudgetMuted(r)) continue;
            r.groupTrack = -1;
            packer.Place(e, r, IsBedResult(project, r));
        }
    }
}

}  // namespace

void AssignTracks(Project& project) {
    std::vector<Entry> entries;
    for (int g = 0; g < 3; ++g) {
        int budget = project.budgetMode ? project.groups[g].trackCount : kUnlimitedTracks;
        entries.clear();
        for (size_t i = 0; i < project.results.size(); ++i) {
            RenderResult& r = project.results[i];
            if (r.group != g) continue;
            // A bare `muted` without a reason was set by the designer; lifting
            // the budget's reason must not silently clear it.
            if (r.muted && r.muteReasons == 0) SetUserMuted(r, true);
            SetMuteReason(r, kMuteBudget, false);
            float end = r.startTime + r.duration;
            if (!std::isfinite(r.startTime) || !std::isfinite(end)) {
                // A layer without a usable time cannot be packed; it gets no track.
                r.groupTrack = -1;
                continue;
            }
            entries.push_back({static_cast<int>(i), r.startTime, end, r.eventIdx, r.layerGain});
        }
        if (entries.empty()) continue;
        if (project.budgetMode) {
            PlaceGroupBudget(project, entries, budget);
        } else {
            PlaceGroupPlain(project, entries, budget);
        }
    }

    CountUsedTracks(project.groups, project.results);

    int firstTrack[3];
    for (int g = 0; g < 3; ++g) firstTrack[g] = GroupFirstTrack(project.groups, g);
    for (RenderResult& r : project.results) {
        if (r.groupTrack < 0) {
            r.track = -1;
        } else if (r.group >= 0 && r.group <= 2) {
            r.track = r.groupTrack + firstTrack[r.group];
        }
    }
}

void CountUsedTracks(MixGroup* groups, const std::vector<RenderResult>& results) {
    int used[3] = {0, 0, 0};
    for (const RenderResult& r : results) {
        if (r.group < 0 || r.group > 2) continue;
        used[r.group] = std::max(used[r.group], r.groupTrack + 1);
    }
    for (int g = 0; g < 3; ++g) groups[g].usedTracks = used[g];
}
