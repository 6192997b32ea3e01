// render_pass_finish.cpp — the steps that end every render pass: gains by
// rank, fades, groups, sorting by start and the packing of tracks.
//
// Index
//   InsertionSort          stable sort that tolerates non-transitive orders
//   GroupPacker            first-fit tracks of one group under its budget
//   CompareEventsForTracks the order in which events claim tracks
//   PackGroup              event order, plain and budget roads
//   FinishRenderPass
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "render/render_pass.h"

namespace {

constexpr int kUnlimitedTracks = 48;
constexpr float kNoStart = 1e30f;

bool ValidEvent(const Project& project, int32_t idx) {
    return idx >= 0 && idx < static_cast<int32_t>(project.events.size());
}

// The layer orders below treat gains within 0.001 as equal, which is not a
// strict weak order; an insertion sort stays inside the vector whatever the
// comparator says, and the lists are short (one event's layers, one group's events).
template <typename T, typename Before>
void InsertionSort(std::vector<T>& items, Before before) {
    for (size_t i = 1; i < items.size(); ++i) {
        T moving = items[i];
        size_t j = i;
        while (j > 0 && before(moving, items[j - 1])) {
            items[j] = items[j - 1];
            --j;
        }
        items[j] = moving;
    }
}

struct GroupPacker {
    std::vector<float> trackEnds;
    int budget = kUnlimitedTracks;
    int usedTracks = 0;

    // Lowest track free at the layer's start (1 ms of overlap allowed); else a
    // new track while the budget allows, or always for a Bed; else the budget
    // mutes the layer. Tracks not yet used count as free at any time, so a
    // layer that starts before 0 (a Spot at the very start) finds one too.
    void Allocate(RenderResult& r, bool bed) {
        int chosen = -1;
        for (size_t t = 0; t < trackEnds.size(); ++t) {
            if (trackEnds[t] <= r.startTime + 0.001f) {
                chosen = static_cast<int>(t);
                break;
            }
        }
        if (chosen < 0) {
            if (static_cast<int>(trackEnds.size()) >= budget && !bed) {
                SetMuteReason(r, kMuteBudget, true);
                r.groupTrack = -1;
                r.track = -1;
                return;
            }
            trackEnds.push_back(-INFINITY);
            chosen = static_cast<int>(trackEnds.size()) - 1;
        }
        trackEnds[chosen] = std::max(trackEnds[chosen], r.startTime + r.duration);
        r.groupTrack = chosen;
        r.track = -1;
        usedTracks = std::max(usedTracks, chosen + 1);
    }
};

struct EventLayers {
    int32_t eventIdx = 0;
    bool hero = false;
    bool bed = false;
    std::vector<int> results;  // indices into project.results
};

// The order in which events claim tracks: heroes first, then the event with
// more layers, then the one whose first layer starts earlier (an event
// without layers last).
bool CompareEventsForTracks(const EventLayers& a, const EventLayers& b, const std::vector<RenderResult>& results) {
    if (a.hero != b.hero) return a.hero;
    if (a.results.size() != b.results.size()) return a.results.size() > b.results.size();
    auto firstStart = [&](const EventLayers& ev) {
        return ev.results.empty() ? kNoStart : results[ev.results.front()].startTime;
    };
    return firstStart(a) < firstStart(b);
}

void PackGroup(Project& project, int g) {
    MixGroup& group = project.groups[g];
    const int trackCount = std::max(0, group.trackCount);
    GroupPacker packer;
    packer.budget = project.budgetMode ? trackCount : kUnlimitedTracks;

    // The group's layers per event, in results order (already sorted by start).
    std::vector<EventLayers> events;
    std::unordered_map<int32_t, size_t> slot;
    for (size_t i = 0; i < project.results.size(); ++i) {
        RenderResult& r = project.results[i];
        if (r.group != g) continue;
        // A bare `muted` without a reason is the designer's; the budget
        // decides only its own mutes anew on every pass, so a layer the user,
        // a ban or the silence check muted stays muted.
        if (r.muted && r.muteReasons == 0) SetMuteReason(r, kMuteUser, true);
        SetMuteReason(r, kMuteBudget, false);
        if (!std::isfinite(r.startTime) || !std::isfinite(r.startTime + r.duration)) {
            // No usable span: it could only block a track for ever.
            r.groupTrack = -1;
            r.track = -1;
            continue;
        }
        auto [it, added] = slot.try_emplace(r.eventIdx, events.size());
        if (added) {
            EventLayers ev;
            ev.eventIdx = r.eventIdx;
            if (ValidEvent(project, r.eventIdx)) {
                ev.hero = project.events[r.eventIdx].hero;
                ev.bed = project.events[r.eventIdx].shape == kShapeBed;
            }
            events.push_back(std::move(ev));
        }
        events[it->second].results.push_back(static_cast<int>(i));
    }
    if (events.empty()) {
        group.usedTracks = 0;
        return;
    }

    const std::vector<RenderResult>& results = project.results;
    InsertionSort(events, [&](const EventLayers& a, const EventLayers& b) {
        return CompareEventsForTracks(a, b, results);
    });
    size_t maxLayers = 0;
    for (EventLayers& ev : events) {
        InsertionSort(ev.results, [&](int a, int b) {
            float ga = results[a].layerGain;
            float gb = results[b].layerGain;
            if (std::fabs(ga - gb) > 0.001f) return ga > gb;
            return results[a].startTime < results[b].startTime;
        });
        maxLayers = std::max(maxLayers, ev.results.size());
    }

    if (!project.budgetMode) {
        for (const EventLayers& ev : events) {
            for (int i : ev.results) packer.Allocate(project.results[i], ev.bed);
        }
        group.usedTracks = packer.usedTracks;
        return;
    }

    // Budget: rank by rank, so each event's strongest layer is placed before
    // any event's second one and the budget mutes the weakest layers.
    for (size_t rank = 0; rank < maxLayers; ++rank) {
        for (const EventLayers& ev : events) {
            if (rank < ev.results.size()) packer.Allocate(project.results[ev.results[rank]], ev.bed);
        }
    }
    // Then the survivors again in time order, so the tracks follow the timeline.
    packer.trackEnds.clear();
    packer.usedTracks = 0;
    auto earliestKept = [&](const EventLayers& ev) {
        float first = kNoStart;
        for (int i : ev.results) {
            if (!(results[i].muteReasons & kMuteBudget)) first = std::min(first, results[i].startTime);
        }
        return first;
    };
    InsertionSort(events, [&](const EventLayers& a, const EventLayers& b) {
        return earliestKept(a) < earliestKept(b);
    });
    for (const EventLayers& ev : events) {
        for (int i : ev.results) {
            RenderResult& r = project.results[i];
            if (r.muteReasons & kMuteBudget) continue;
            r.groupTrack = -1;
            r.track = -1;
            packer.Allocate(r, ev.bed);
        }
    }
    group.usedTracks = packer.usedTracks;
}

}  // namespace

void FinishRenderPass(Project& project) {
    std::vector<RenderResult>& results = project.results;

    // Later layers of an event play quieter: 1, 1/1.3, 1/1.6 ... (Fill beds
    // fall off more gently).
    std::unordered_map<int32_t, int> seen;
    for (RenderResult& r : results) {
        int k = seen[r.eventIdx]++;
        bool fill = ValidEvent(project, r.eventIdx) && project.events[r.eventIdx].shape == kShapeFill;
        float b = fill ? 0.12f : 0.3f;
        r.layerGain = 1.0f / (1.0f + static_cast<float>(k) * b);
    }

    for (RenderResult& r : results) {
        if (ValidEvent(project, r.eventIdx)) r.group = EventMixGroup(project.events[r.eventIdx]);
        if (!(r.duration > 0.0f)) {
            r.fadeIn = 0.0f;
            r.fadeOut = 0.0f;
            continue;
        }
        float limit = 0.45f * r.duration;
        r.fadeIn = std::clamp(std::isfinite(r.fadeIn) ? r.fadeIn : 0.0f, 0.0f, limit);
        r.fadeOut = std::clamp(std::isfinite(r.fadeOut) ? r.fadeOut : 0.0f, 0.0f, limit);
        float sum = r.fadeIn + r.fadeOut;
        if (sum > 0.9f * r.duration) {
            float f = 0.9f * r.duration / sum;
            r.fadeIn *= f;
            r.fadeOut *= f;
        }
    }

    // A start that is not a number sorts last instead of breaking the sort.
    std::stable_sort(results.begin(), results.end(), [](const RenderResult& a, const RenderResult& b) {
        float sa = std::isnan(a.startTime) ? INFINITY : a.startTime;
        float sb = std::isnan(b.startTime) ? INFINITY : b.startTime;
        return sa < sb;
    });

    for (int g = 0; g < 3; ++g) PackGroup(project, g);
    for (RenderResult& r : results) {
        if (r.group < 0 || r.group > 2) continue;
        // A layer the budget left without a track has no global track either.
        r.track = r.groupTrack < 0 ? -1 : GroupFirstTrack(project.groups, r.group) + r.groupTrack;
    }
    for (RenderResult& r : results) r.pitchShift = r.pitchVarShift;

    project.publishedResultCount.store(static_cast<int32_t>(results.size()),
                                       std::memory_order_release);
    project.rendered = true;
    project.resultsRevision += 1;
}
