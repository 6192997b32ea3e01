// reference_render.cpp — the earlier whole-project steps of the render, kept
// as they were for the tests that hold the faster code against them.
//
// This is an older algorithm kept on purpose, not a copy to keep in step:
// it packs each group over the results themselves (per-group entry lists,
// insertion sorts, a second walk of the survivors), where the program packs
// small item records (track_packing.h) and the full render follows its
// passes without running them. What the program states once and both read
// (the layer outside groups 0..2 and the global track numbers: TakePacking,
// NumberTrack)
// is not restated here.
//
// Index
//   ReferenceAssignTracks        (assign_reference)
//   ReferencePassEndPacking / ReferenceFinishRenderPass   (finish_reference)
//   ReferenceRenderPass / ReferenceRenderEvents
#include "support/reference_render.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "render/clip_bed_events.h"
#include "render/render_pass.h"
#include "render/render_pass_steps.h"
#include "render/track_assignment.h"

namespace {

// The layer orders here treat gains within 0.001 as equal, which is not a
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

// A layer outside groups 0..2 takes no part in the packings above; every
// layer's global track follows from the groups' used tracks.
void NoGroupNoTrack(Project& project) {
    for (RenderResult& r : project.results) {
        if (r.group < 0 || r.group > 2) TakePacking(r, -1, false);
        NumberTrack(project.groups, r);
    }
}

}  // namespace

// ---- Track assignment ---------------------------------------------------------------

namespace assign_reference {

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
    InsertionSort(entries, before);
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

}  // namespace assign_reference

using namespace assign_reference;

void ReferenceAssignTracks(Project& project) {
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
    NoGroupNoTrack(project);
}


// ---- The pass end --------------------------------------------------------------------

namespace finish_reference {

constexpr int kUnlimitedTracks = 48;
constexpr float kNoStart = 1e30f;

bool ValidEvent(const Project& project, int32_t idx) {
    return idx >= 0 && idx < static_cast<int32_t>(project.events.size());
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

}  // namespace finish_reference

using namespace finish_reference;

void ReferencePassEndPacking(Project& project) {
    for (int g = 0; g < 3; ++g) PackGroup(project, g);
    NoGroupNoTrack(project);
}

void ReferenceFinishRenderPass(Project& project) {
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

    ReferencePassEndPacking(project);
    for (RenderResult& r : results) r.pitchShift = r.pitchVarShift;

    project.publishedResultCount.store(static_cast<int32_t>(results.size()),
                                       std::memory_order_release);
    project.rendered = true;
    project.resultsRevision += 1;
}

// ---- The pass -------------------------------------------------------------------------

void ReferenceRenderPass(Project& project, const SoundLibrary& library, int eventIndex, const RenderSeeds& seeds,
                         const RenderPassOptions& options) {
    PassState pass;
    pass.random = seeds.passSeed;
    pass.seeds = &seeds;
    pass.options = &options;
    SetUpPools(pass.pools, library, options, false);
    for (const RenderResult& r : project.results) {
        if (r.filepath.empty() || r.muted) continue;
        pass.used.push_back({r.filepath, r.sourceOffset, r.sourceDuration, r.startTime});
    }
    auto publish = [&] { project.publishedResultCount.store(int32_t(project.results.size())); };
    for (int i = 0; i < int(project.events.size()); ++i) {
        const Event& event = project.events[size_t(i)];
        if (event.shape == kShapeClip) {
            if (RebuildClipResult(project, i)) {
                ReferenceAssignTracks(project);
                project.resultsRevision += 1;
                project.rendered = true;
            }
            publish();
            continue;
        }
        if (event.shape == kShapeBed) {
            if (RebuildBedResults(project, i)) ReferenceAssignTracks(project);
            publish();
            continue;
        }
        if (i != eventIndex || !EventRenderable(event)) continue;
        RenderOneEvent(project, library, i, pass);
        publish();
    }
    ReferenceFinishRenderPass(project);
}

void ReferenceRenderEvents(Project& project, const SoundLibrary& library, const std::vector<int>& events,
                           const std::function<RenderSeeds(int)>& seeds,
                           const std::function<void(int, int)>& afterEach, const RenderPassOptions& options) {
    int passes = 0;
    for (int i : events) {
        ReferenceRenderPass(project, library, i, seeds(i), options);
        if (afterEach) afterEach(i, ++passes);
    }
}
