// full_render.cpp — the full render's events in turn, each as its own pass
// would render it, with the work over the whole project kept up to date
// instead of done again for every event.
//
// Index
//   Why it can be followed   what a pass over one event reads and changes
//   Small helpers            seeds, the layers an event's pass made
//   Followable               what every later pass's Clip and Bed rebuilds will do
//   InTurn                   the passes' results kept apart from the project:
//     Construction           from the results of the first pass
//     Used sounds            the pass's used list, in step with the mutes
//     Packing                the pass end's packing, the assignment's for the band mask
//     Places                 where a layer stands; the rebuilt Clip layers moved by the sort
//     Clip rebuilds          a Clip layer a pass replaces by the rebuild's record
//     BandMask               over the layers near the event, in results order
//     RenderPass / PassEnd   one event, then gains, fades, order and packing
//     Materialise            the results as the last pass left them
//   RenderEventsInTurn / ResolveLayerFile
//
// Why it can be followed. A pass over one event (RenderEventsWithSeeds with
// the results and caches kept) rebuilds every Clip and Bed, renders the event
// and ends with the pass end over all results. The pass end ranks gains in
// results order, limits fades, sorts by start (stably) and packs tracks. So
// the results after any pass stand sorted by start, layers of equal start in
// the order they came, and their gains are their ranks in that order, except
// the last event's, which are ranked in the order they were made.
//
// A Clip's rebuild replaces the event's first layer in results order by a
// fresh record (the same values every time) that keeps its gain, volume and
// mutes. With one layer that record stays where it is. A Clip with more (a
// locked one keeps its layers) has its first layer replaced; the record
// starts where the Clip starts, so the sort moves it there, and the next
// pass replaces the layer that is first then, until none of its layers
// starts before the Clip: from then on the first is the rebuild's record.
// A Bed's rebuild changes nothing once the first pass has made its layers,
// except where the pass end changes them back in every pass (the fades of a
// Bed hardly longer than its crossfade): such a rebuild counts a change, and
// the track assignment it starts is what the next events' band masks read.
//
// What the next event reads of the results is their placement, gains,
// weights, files and mutes; the mutes are the last packing's: the track
// assignment's when a Clip or a changing Bed before the event was rebuilt in
// its pass, else the pass end's. All of that is kept here per layer, and the
// project's results are written once at the end with what every field would
// be after the last pass.
#include "render/full_render.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <deque>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "render/clip_bed_events.h"
#include "render/render_pass.h"
#include "render/render_pass_steps.h"
#include "render/track_assignment.h"
#include "render/track_packing.h"

namespace {

// ---- Small helpers ---------------------------------------------------------------

RenderSeeds SeedsFor(const FullRenderHooks& hooks, int eventIndex) {
    return hooks.seeds ? hooks.seeds(eventIndex) : ClockRenderSeeds();
}

bool ValidEvent(const Project& project, int32_t idx) {
    return idx >= 0 && idx < static_cast<int32_t>(project.events.size());
}

bool ClipWithFile(const Event& event) { return event.shape == kShapeClip && event.pinnedFile[0] != '\0'; }

// The event's layers after a pass over it, in results order.
void ReportRealPass(Project& project, int eventIndex, const FullRenderHooks& hooks) {
    if (!hooks.eventDone) return;
    std::vector<RenderedLayer> layers;
    for (size_t k = 0; k < project.results.size(); ++k) {
        if (project.results[k].eventIdx == eventIndex) layers.push_back({&project.results[k], int(k)});
    }
    hooks.eventDone(eventIndex, layers);
}

// ---- Followable -------------------------------------------------------------------

// Whether the passes after the first may be followed here: every layer
// belongs to an event, and every Bed's rebuild either changes nothing or
// changes only what the pass end then sets back as it was (its fades cut to
// its length again). Such Beds are listed in `changingBeds`: their rebuild
// counts a change in every pass. A Bed whose rebuild would change more (its
// layers in an order the sort undoes again, starts that are not a number) is
// left to whole passes.
bool Followable(const Project& project, std::vector<int>& changingBeds) {
    std::vector<std::vector<const RenderResult*>> bedLayers(project.events.size());
    for (const RenderResult& r : project.results) {
        if (!ValidEvent(project, r.eventIdx)) return false;
        if (project.events[size_t(r.eventIdx)].shape == kShapeBed) bedLayers[size_t(r.eventIdx)].push_back(&r);
    }
    if (BedsHoldTheirLayers(project)) return true;
    for (size_t e = 0; e < project.events.size(); ++e) {
        if (project.events[e].shape != kShapeBed) continue;
        // The Bed alone: its event and layers in a project of their own.
        Project alone;
        alone.fps = project.fps;
        alone.totalDuration = project.totalDuration;
        alone.events.push_back(project.events[e]);
        for (const RenderResult* r : bedLayers[e]) {
            alone.results.push_back(*r);
            alone.results.back().eventIdx = 0;
        }
        if (!RebuildBedResults(alone, 0)) continue;
        if (alone.results.size() != bedLayers[e].size()) return false;
        for (size_t k = 0; k < alone.results.size(); ++k) {
            RenderResult& r = alone.results[k];
            LimitLayerFades(r);
            r.eventIdx = int32_t(e);
            if (!(r == *bedLayers[e][k])) return false;
        }
        changingBeds.push_back(int(e));
    }
    return true;
}

// ---- InTurn -------------------------------------------------------------------------

// One layer as the passes see it: the pass end's own packing item (where it
// stands, its gain, event, group, and the track and budget mute the last
// pass end decided), so a field the packing comes to read is kept here too,
// and what else the band mask and the used list read of it.
struct Layer : PackItem {
    float key = 0;  // PassEndOrderKey of the start
    float userVolume = 1;
    float weight = 0.5f;
    bool fixedMute = false;    // muted for another reason than the budget
    bool assignMuted = false;  // by the track assignment over the same results
    bool hasFile = false;
    int bornPass = 1;          // the pass whose end first took it in
    int usedAt = -1;           // its record in the used list, -1: none
};

class InTurn {
public:
    InTurn(Project& project, const SoundLibrary& library, const FullRenderHooks& hooks,
           const std::vector<int>& changingBeds)
        : project_(project), library_(library), hooks_(hooks) {
        Construct(changingBeds);
    }

    void RenderPass(int i);
    void Materialise();

private:
    void Construct(const std::vector<int>& changingBeds);
    Layer LayerOf(const RenderResult& r, int bornPass) const;
    void Insert(RenderResult&& r, int bornPass);
    // Places.
    size_t PlaceOf(int h) const;
    void SettleMoved(std::vector<int>& order, std::vector<float>& keys, int group) const;
    // Clip rebuilds.
    int FirstLayerOf(int eventIndex) const;
    void RebuildClips(int from, int to);
    // Used sounds.
    bool InUse(const Layer& l) const { return l.hasFile && !l.fixedMute && !l.budgetMuted; }
    void AddUsed(int h);
    void RemoveUsed(int h);
    void DropPassRecords(size_t base);
    // Packing.
    void AddToCrowding(int eventIndex);
    bool Calm(int g) const { return !project_.budgetMode && crowding_[g].Bound() < kTracksWithoutBudget; }
    void FillItems(int g);
    void PackPassEnd(int g);
    void PackAssignment();
    // The pass.
    void BandMask(int i, float eventStart, float eventEnd, float mask[5]);
    void Rerank(int eventIndex, bool byPlace);
    void PassEnd(int i, std::vector<RenderResult>& fresh);

    Project& project_;
    const SoundLibrary& library_;
    const FullRenderHooks& hooks_;

    std::deque<RenderResult> store_;  // every layer, never moved while the passes run
    std::vector<Layer> layers_;       // by handle (index into store_)
    std::vector<int> order_;          // handles in results order
    std::vector<float> orderKeys_;    // their keys, ascending
    std::vector<int> groupOrder_[3];  // the same per group 0..2
    std::vector<float> groupKeys_[3];
    TrackCrowding crowding_[3];
    std::vector<std::vector<int>> byEvent_;
    std::vector<uint8_t> hero_, fill_;
    std::vector<int> heroes_;
    int firstClip_ = INT_MAX;  // a pass rebuilds Clips before this event first
    int clipCount_ = 0;
    // Clips with a file whose layers start before the Clip: each pass
    // replaces the first of them (see "Why it can be followed").
    struct MovingClip {
        int event = 0;
        float key = 0;  // PassEndOrderKey of the Clip's start
        int before = 0; // its layers that start before it
    };
    std::vector<MovingClip> movingClips_;
    // Layers a Clip rebuild of this pass replaced: still in their old place
    // (the results before the pass end's sort), under their old key.
    struct Moved {
        int h = 0;
        float key = 0;  // where the sort takes it
    };
    std::vector<Moved> moved_;
    std::vector<int> clipsMoved_;       // their events, this pass
    std::vector<int> clipsMovedLast_;   // and the pass before
    std::vector<uint8_t> byPlace_;      // per event: its layers' handles no longer follow their places
    int firstChangingBed_ = INT_MAX;    // a pass's Bed rebuilds change something before this event first
    int changingBeds_ = 0;
    double maxDuration_ = 0;  // the longest finite layer
    bool endless_ = false;    // a layer without end: every band mask looks at all

    PassState pass_;
    PackScratch packScratch_;
    std::vector<PackItem> items_;
    int passes_ = 1;
    int version_ = 0;          // raised by every pass end
    int assignVersion_ = -1;   // the version the assignment's mutes are of
    int previousEvent_ = -1;   // its layers were ranked in the order they were made
    bool rerankAll_ = true;    // the first pass ranked in its order before sorting
    int32_t usedTracks_[3] = {0, 0, 0};
    std::vector<int> flipped_;
};

// ---- Construction ---------------------------------------------------------------------

Layer InTurn::LayerOf(const RenderResult& r, int bornPass) const {
    Layer l;
    static_cast<PackItem&>(l) = PackItemOf(project_, r);
    l.key = PassEndOrderKey(r.startTime);
    l.userVolume = r.userVolume;
    l.weight = r.weight;
    l.fixedMute = (r.muteReasons & ~kMuteBudget) != 0 || (r.muted && r.muteReasons == 0);
    l.hasFile = !r.filepath.empty();
    l.bornPass = bornPass;
    return l;
}

void InTurn::Construct(const std::vector<int>& changingBeds) {
    const size_t n = project_.events.size();
    changingBeds_ = int(changingBeds.size());
    if (!changingBeds.empty()) firstChangingBed_ = *std::min_element(changingBeds.begin(), changingBeds.end());
    byPlace_.resize(n);
    hero_.resize(n);
    fill_.resize(n);
    byEvent_.resize(n);
    for (size_t e = 0; e < n; ++e) {
        const Event& event = project_.events[e];
        hero_[e] = event.hero ? 1 : 0;
        fill_[e] = event.shape == kShapeFill ? 1 : 0;
        if (event.hero) heroes_.push_back(int(e));
        if (ClipWithFile(event)) {
            firstClip_ = std::min(firstClip_, int(e));
            clipCount_ += 1;
        }
    }
    SetUpPools(pass_.pools, library_, hooks_.options, false);
    pass_.options = &hooks_.options;
    for (int g = 0; g < 3; ++g) usedTracks_[g] = project_.groups[g].usedTracks;

    // The first pass's results stand sorted: they keep their order.
    for (RenderResult& r : project_.results) Insert(std::move(r), 1);
    project_.results.clear();
    for (size_t e = 0; e < byEvent_.size(); ++e) AddToCrowding(int(e));
    for (size_t h = 0; h < layers_.size(); ++h) {
        if (InUse(layers_[h])) AddUsed(int(h));
    }
    for (size_t e = 0; e < n; ++e) {
        const Event& event = project_.events[e];
        if (!ClipWithFile(event)) continue;
        MovingClip clip{int(e), PassEndOrderKey(event.time - event.syncOffset), 0};
        for (int h : byEvent_[e]) clip.before += layers_[size_t(h)].key < clip.key ? 1 : 0;
        if (clip.before > 0) movingClips_.push_back(clip);
    }
}

void InTurn::Insert(RenderResult&& r, int bornPass) {
    const int h = int(store_.size());
    store_.push_back(std::move(r));
    const Layer l = LayerOf(store_.back(), bornPass);
    layers_.push_back(l);
    byEvent_[size_t(l.eventIdx)].push_back(h);
    // After every layer of a start not later than its own: a stable sort
    // keeps the older layers before the new.
    const size_t at = size_t(std::upper_bound(orderKeys_.begin(), orderKeys_.end(), l.key) - orderKeys_.begin());
    order_.insert(order_.begin() + std::ptrdiff_t(at), h);
    orderKeys_.insert(orderKeys_.begin() + std::ptrdiff_t(at), l.key);
    if (l.group >= 0 && l.group <= 2) {
        std::vector<float>& keys = groupKeys_[l.group];
        const size_t in = size_t(std::upper_bound(keys.begin(), keys.end(), l.key) - keys.begin());
        groupOrder_[l.group].insert(groupOrder_[l.group].begin() + std::ptrdiff_t(in), h);
        keys.insert(keys.begin() + std::ptrdiff_t(in), l.key);
    }
    if (std::isfinite(l.duration)) maxDuration_ = std::max(maxDuration_, double(l.duration));
    else if (l.duration > 0) endless_ = true;
}

// ---- Used sounds ----------------------------------------------------------------------------

// The pass's used list holds one record per layer in use, as a pass collects
// it at its start, plus what the pass itself places; its lookups read the
// records through the index, whose order they do not depend on. A layer that
// leaves use leaves a dead record behind, which the index no longer names.
void InTurn::AddUsed(int h) {
    const RenderResult& r = store_[size_t(h)];
    const size_t at = pass_.used.size();
    pass_.used.push_back({r.filepath, r.sourceOffset, r.sourceDuration, r.startTime});
    pass_.usedIndex.byPath[r.filepath].push_back(uint32_t(at));
    pass_.usedIndex.indexed = pass_.used.size();
    layers_[size_t(h)].usedAt = int(at);
}

void InTurn::RemoveUsed(int h) {
    Layer& l = layers_[size_t(h)];
    std::vector<uint32_t>& positions = pass_.usedIndex.byPath[pass_.used[size_t(l.usedAt)].path];
    positions.erase(std::find(positions.begin(), positions.end(), uint32_t(l.usedAt)));
    l.usedAt = -1;
}

// The records the event's layers added (the newest of their files, so the
// last of each file's positions).
void InTurn::DropPassRecords(size_t base) {
    for (size_t at = std::min(pass_.usedIndex.indexed, pass_.used.size()); at-- > base;) {
        pass_.usedIndex.byPath[pass_.used[at].path].pop_back();
    }
    pass_.used.resize(base);
    pass_.usedIndex.indexed = base;
}

// ---- Packing ----------------------------------------------------------------------------------------

// The event's layers in its group, by the spans the packings see (finite
// layers only).
void InTurn::AddToCrowding(int eventIndex) {
    int layers = 0, group = -1;
    float first = INFINITY, last = -INFINITY;
    for (int h : byEvent_[size_t(eventIndex)]) {
        const Layer& l = layers_[size_t(h)];
        if (l.group < 0 || l.group > 2 || !std::isfinite(l.start) || !std::isfinite(l.start + l.duration)) continue;
        group = l.group;
        layers += 1;
        first = std::min(first, l.start);
        last = std::max(last, std::max(l.start, l.start + l.duration));
    }
    if (layers > 0) crowding_[group].AddEvent(hero_[size_t(eventIndex)] != 0, layers, first, last);
}

// The group's layers as the packings take them, in results order.
void InTurn::FillItems(int g) {
    const std::vector<int>& order = groupOrder_[g];
    items_.resize(order.size());
    for (size_t p = 0; p < order.size(); ++p) items_[p] = static_cast<const PackItem&>(layers_[size_t(order[p])]);
}

void InTurn::PackPassEnd(int g) {
    FillItems(g);
    usedTracks_[g] = PackGroupAsPassEnd(items_, g, project_.budgetMode, project_.groups[g].trackCount, packScratch_);
    project_.groups[g].usedTracks = usedTracks_[g];
    const std::vector<int>& order = groupOrder_[g];
    for (size_t p = 0; p < order.size(); ++p) {
        Layer& l = layers_[size_t(order[p])];
        l.groupTrack = items_[p].groupTrack;
        if (l.budgetMuted != items_[p].budgetMuted) flipped_.push_back(order[p]);
        l.budgetMuted = items_[p].budgetMuted;
    }
}

// The mutes the track assignment gives the same results (it runs after each
// Clip rebuild of a pass, before the event when the Clip comes first); in a
// calm group it mutes nothing.
void InTurn::PackAssignment() {
    if (assignVersion_ == version_) return;
    assignVersion_ = version_;
    for (int g = 0; g < 3; ++g) {
        if (Calm(g)) continue;
        FillItems(g);
        PackGroupAsAssignment(items_, g, project_.budgetMode, project_.groups[g].trackCount, packScratch_);
        for (size_t p = 0; p < groupOrder_[g].size(); ++p) layers_[size_t(groupOrder_[g][p])].assignMuted = items_[p].budgetMuted;
    }
}

// ---- Places ------------------------------------------------------------------------------------------

// Where layer h stands in results order (under the key it stands by).
size_t InTurn::PlaceOf(int h) const {
    size_t p = size_t(std::lower_bound(orderKeys_.begin(), orderKeys_.end(), layers_[size_t(h)].key) - orderKeys_.begin());
    while (order_[p] != h) ++p;
    return p;
}

// The pass end's stable sort for the layers a Clip rebuild replaced in this
// pass, over one ordering (results order or a group's): each leaves its old
// place for its new key, after the layers of a lower key and, among those
// of its key, where its old place put it; two of them that meet keep their
// order by key, then by their old places.
void InTurn::SettleMoved(std::vector<int>& order, std::vector<float>& keys, int group) const {
    struct Move {
        int h;
        float key;
        size_t place, at;
    };
    std::vector<Move> moves;
    for (const Moved& m : moved_) {
        if (group >= 0 && layers_[size_t(m.h)].group != group) continue;
        const float old = layers_[size_t(m.h)].key;
        size_t p = size_t(std::lower_bound(keys.begin(), keys.end(), old) - keys.begin());
        while (p < order.size() && order[p] != m.h) ++p;
        if (p < order.size()) moves.push_back({m.h, m.key, p, 0});
    }
    std::sort(moves.begin(), moves.end(), [](const Move& a, const Move& b) { return a.place < b.place; });
    for (size_t k = moves.size(); k-- > 0;) {
        order.erase(order.begin() + std::ptrdiff_t(moves[k].place));
        keys.erase(keys.begin() + std::ptrdiff_t(moves[k].place));
    }
    for (size_t k = 0; k < moves.size(); ++k) {
        Move& m = moves[k];
        const size_t rank = m.place - k;  // among the layers that stay
        const size_t lo = size_t(std::lower_bound(keys.begin(), keys.end(), m.key) - keys.begin());
        const size_t hi = size_t(std::upper_bound(keys.begin(), keys.end(), m.key) - keys.begin());
        m.at = std::clamp(rank, lo, hi);
    }
    std::sort(moves.begin(), moves.end(), [](const Move& a, const Move& b) {
        if (a.at != b.at) return a.at < b.at;
        if (a.key != b.key) return a.key < b.key;
        return a.place < b.place;
    });
    for (size_t k = 0; k < moves.size(); ++k) {
        order.insert(order.begin() + std::ptrdiff_t(moves[k].at + k), moves[k].h);
        keys.insert(keys.begin() + std::ptrdiff_t(moves[k].at + k), moves[k].key);
    }
}

// ---- Clip rebuilds ------------------------------------------------------------------------------------

// The event's first layer in results order (-1: none).
int InTurn::FirstLayerOf(int eventIndex) const {
    int first = -1;
    for (int h : byEvent_[size_t(eventIndex)]) {
        if (first < 0 || layers_[size_t(h)].key < layers_[size_t(first)].key ||
            (layers_[size_t(h)].key == layers_[size_t(first)].key && PlaceOf(h) < PlaceOf(first)))
            first = h;
    }
    return first;
}

// The rebuilds of the Clips in [from, to) whose first layer is not yet the
// rebuild's record: that layer becomes the record, taking over its gain,
// volume, mutes and tracks, and stays in its place until the pass end sorts.
void InTurn::RebuildClips(int from, int to) {
    for (MovingClip& clip : movingClips_) {
        if (clip.before == 0 || clip.event < from || clip.event >= to) continue;
        const int h = FirstLayerOf(clip.event);
        RenderResult fresh;
        if (h < 0 || !MakeClipResult(project_, clip.event, fresh)) continue;
        RenderResult& old = store_[size_t(h)];
        TakeOverClipLayer(old, fresh);
        Layer& l = layers_[size_t(h)];
        fresh.layerGain = l.gain;
        Layer next = LayerOf(fresh, passes_);
        next.key = l.key;
        next.groupTrack = l.groupTrack;
        next.budgetMuted = l.budgetMuted;
        next.assignMuted = l.assignMuted;
        next.usedAt = l.usedAt;
        if (std::isfinite(next.duration)) maxDuration_ = std::max(maxDuration_, double(next.duration));
        else if (next.duration > 0) endless_ = true;
        clip.before -= l.key < clip.key ? 1 : 0;
        moved_.push_back({h, PassEndOrderKey(fresh.startTime)});
        old = std::move(fresh);
        l = next;
        clipsMoved_.push_back(clip.event);
        byPlace_[size_t(clip.event)] = 1;
        AddToCrowding(clip.event);
        version_ += 1;  // the assignment's mutes are to be found again
    }
}

// ---- BandMask ----------------------------------------------------------------------------------------

// The pass's band mask (ComputeBandMask), summed in results order over the
// layers that can overlap the event: none that starts at or after its end,
// none that ends before it starts (a margin covers the rounding of ends).
void InTurn::BandMask(int i, float eventStart, float eventEnd, float mask[5]) {
    std::fill(mask, mask + 5, 0.0f);
    if (hero_[size_t(i)]) return;
    const bool assigned = firstClip_ < i || firstChangingBed_ < i;
    if (assigned) PackAssignment();
    const float span = std::max(0.01f, eventEnd - eventStart);
    size_t from = 0;
    const double lowest = double(eventStart) - maxDuration_ - 1.0 - 1e-3 * (std::fabs(double(eventStart)) + maxDuration_);
    if (!endless_ && std::isfinite(lowest)) {
        from = size_t(std::lower_bound(orderKeys_.begin(), orderKeys_.end(), lowest,
                                       [](float key, double bound) { return double(key) < bound; }) -
                      orderKeys_.begin());
    }
    size_t to = size_t(std::lower_bound(orderKeys_.begin(), orderKeys_.end(), eventEnd) - orderKeys_.begin());
    // A layer a Clip rebuild replaced stands where the replaced one stood:
    // the span looked at reaches it there.
    for (const Moved& m : moved_) {
        const size_t p = PlaceOf(m.h);
        from = std::min(from, p);
        to = std::max(to, p + 1);
    }
    for (size_t p = from; p < to; ++p) {
        const Layer& l = layers_[size_t(order_[p])];
        if (l.eventIdx == i || l.fixedMute || (assigned ? l.assignMuted : l.budgetMuted)) continue;
        AddLayerToBandMask(mask, l.start, l.duration, l.gain, l.userVolume, l.weight, eventStart, eventEnd, span);
    }
    AddHeroesToBandMask(project_, i, eventStart, eventEnd, mask, &heroes_);
}

// ---- RenderPass / PassEnd ----------------------------------------------------------------------------

void InTurn::RenderPass(int i) {
    const RenderSeeds seeds = SeedsFor(hooks_, i);
    std::vector<RenderResult> fresh;
    // The pass rebuilds the Clips before the event, renders it, then rebuilds the others.
    RebuildClips(0, i);
    const Event& event = project_.events[size_t(i)];
    if (event.shape != kShapeClip && event.shape != kShapeBed && EventRenderable(event)) {
        const float eventStart = event.time - event.syncOffset;
        const float eventEnd = eventStart + event.duration;
        float mask[5];
        BandMask(i, eventStart, eventEnd, mask);
        pass_.random = seeds.passSeed;
        pass_.seeds = &seeds;
        const size_t base = pass_.used.size();
        RenderOneEvent(project_, library_, i, pass_, mask, &fresh);
        DropPassRecords(base);
        pass_.seeds = nullptr;
    }
    RebuildClips(i, INT_MAX);
    PassEnd(i, fresh);
}

// An event's layers ranked in results order: by key and, among equal keys,
// by handle, which follows their places unless a Clip rebuild moved one
// (then by place).
void InTurn::Rerank(int eventIndex, bool byPlace) {
    std::vector<int>& handles = byEvent_[size_t(eventIndex)];
    if (byPlace) {
        std::vector<std::pair<size_t, int>> placed;
        for (int h : handles) placed.push_back({PlaceOf(h), h});
        std::sort(placed.begin(), placed.end());
        for (size_t k = 0; k < placed.size(); ++k) handles[k] = placed[k].second;
    } else {
        std::sort(handles.begin(), handles.end(), [&](int a, int b) {
            const float ka = layers_[size_t(a)].key, kb = layers_[size_t(b)].key;
            return ka < kb || (ka == kb && a < b);
        });
    }
    for (size_t k = 0; k < handles.size(); ++k)
        layers_[size_t(handles[k])].gain = LayerGainOfRank(int(k), fill_[size_t(eventIndex)] != 0);
}

void InTurn::PassEnd(int i, std::vector<RenderResult>& fresh) {
    passes_ += 1;
    version_ += 1;
    // The older layers now rank in results order (as it stands before the
    // sort): after the first pass all of them (it ranked before it sorted),
    // later the previous event's and those of the Clips the previous sort
    // reordered.
    if (rerankAll_) {
        for (size_t e = 0; e < byEvent_.size(); ++e) Rerank(int(e), byPlace_[e] != 0);
        rerankAll_ = false;
    } else {
        if (previousEvent_ >= 0) Rerank(previousEvent_, byPlace_[size_t(previousEvent_)] != 0);
        for (int e : clipsMovedLast_) Rerank(e, true);
    }
    previousEvent_ = i;
    // The sort takes the layers the Clip rebuilds replaced to their places.
    if (!moved_.empty()) {
        SettleMoved(order_, orderKeys_, -1);
        for (int g = 0; g < 3; ++g) SettleMoved(groupOrder_[g], groupKeys_[g], g);
        for (const Moved& m : moved_) layers_[size_t(m.h)].key = m.key;
    }
    std::vector<Moved> moved;
    moved.swap(moved_);
    clipsMovedLast_.swap(clipsMoved_);
    clipsMoved_.clear();

    // The event's own layers, in the order they were made (it has no others).
    const Event& event = project_.events[size_t(i)];
    const size_t first = store_.size();
    for (size_t k = 0; k < fresh.size(); ++k) {
        RenderResult& r = fresh[k];
        EndLayerOfPass(project_, r, LayerGainOfRank(int(k), event.shape == kShapeFill));
        Insert(std::move(r), passes_);
    }
    if (!fresh.empty()) AddToCrowding(i);

    // The pass end packs every group; what the next events read of it are
    // the mutes (none in a calm group), and the new layers' voices read
    // their tracks, of which only a fill's sound depends on its own (it
    // seeds the resynthesis). So a group is packed when it is not calm, or
    // when the event's fills are in it; every group once more at the end.
    bool fills[3] = {false, false, false};
    for (size_t h = first; h < store_.size(); ++h) {
        const int g = layers_[h].group;
        if (g >= 0 && g <= 2 && store_[h].procMode == 1) fills[g] = true;
    }
    bool packed[3] = {false, false, false};
    flipped_.clear();
    for (int g = 0; g < 3; ++g) {
        if (Calm(g) && !fills[g]) continue;
        PackPassEnd(g);
        packed[g] = true;
    }

    std::vector<RenderedLayer> report;
    for (size_t h = first; h < store_.size(); ++h) {
        RenderResult& r = store_[h];
        const Layer& l = layers_[h];
        if (r.group >= 0 && r.group <= 2 && packed[r.group]) {
            TakePacking(r, l.groupTrack, l.budgetMuted);
            NumberTrack(project_.groups, r);
        }
        size_t p = size_t(std::lower_bound(orderKeys_.begin(), orderKeys_.end(), l.key) - orderKeys_.begin());
        while (order_[p] != int(h)) ++p;
        report.push_back({&r, int(p)});
    }
    // In results order, as a pass's caller finds them.
    std::sort(report.begin(), report.end(), [](const RenderedLayer& a, const RenderedLayer& b) { return a.index < b.index; });
    project_.publishedResultCount.store(int32_t(store_.size()), std::memory_order_release);
    if (hooks_.eventDone) hooks_.eventDone(i, report);

    // The next pass's used list: the layers the Clip rebuilds replaced, the
    // layers the packing muted or let go, and the new ones (with the paths
    // the hook left).
    for (const Moved& m : moved) {
        if (layers_[size_t(m.h)].usedAt >= 0) RemoveUsed(m.h);
        if (InUse(layers_[size_t(m.h)])) AddUsed(m.h);
    }
    for (int h : flipped_) {
        if (size_t(h) >= first) continue;
        Layer& l = layers_[size_t(h)];
        if (l.usedAt >= 0 && !InUse(l)) RemoveUsed(h);
        else if (l.usedAt < 0 && InUse(l)) AddUsed(h);
    }
    for (size_t h = first; h < store_.size(); ++h) {
        layers_[h].hasFile = !store_[h].filepath.empty();
        if (InUse(layers_[h])) AddUsed(int(h));
    }
}

// ---- Materialise -------------------------------------------------------------------------------------

// Every layer as the last pass left it: the gains and packing kept here, the
// fades limited once per pass end it went through (a second limit changes
// nothing in practice, and the loop stops there), and every Clip's record
// made afresh by its last rebuild.
void InTurn::Materialise() {
    if (passes_ > 1) {
        for (int g = 0; g < 3; ++g) PackPassEnd(g);
    }
    std::vector<RenderResult>& results = project_.results;
    results.clear();
    results.reserve(order_.size());
    for (int h : order_) {
        RenderResult& r = results.emplace_back(std::move(store_[size_t(h)]));
        const Layer& l = layers_[size_t(h)];
        r.layerGain = l.gain;
        TakePacking(r, l.groupTrack, l.budgetMuted);
        NumberTrack(project_.groups, r);
        r.pitchShift = r.pitchVarShift;
        for (int more = passes_ - l.bornPass; more > 0; --more) {
            if (!LimitLayerFades(r)) break;
        }
    }
    store_.clear();

    // Every later pass rebuilt each Clip's first layer: a layer it replaced
    // in the last pass is that record already; otherwise the first layer is
    // the record of an earlier pass, made afresh here as the last pass did.
    std::vector<uint8_t> clipDone(project_.events.size(), 0);
    for (int e : clipsMovedLast_) clipDone[size_t(e)] = 1;
    for (size_t k = 0; passes_ > 1 && k < results.size(); ++k) {
        const int32_t e = results[k].eventIdx;
        if (clipDone[size_t(e)] || !ClipWithFile(project_.events[size_t(e)])) continue;
        clipDone[size_t(e)] = 1;
        if (!RebuildClipResult(project_, e)) continue;
        const Layer& l = layers_[size_t(order_[k])];
        RenderResult& r = results[k];
        EndLayerOfPass(project_, r, l.gain);
        TakePacking(r, l.groupTrack, l.budgetMuted);
        NumberTrack(project_.groups, r);
    }

    // Each later pass rebuilt every Clip (a revision each) and every Bed
    // that changes (one more each), and ended (one more).
    project_.resultsRevision += (passes_ - 1) * (1 + clipCount_ + changingBeds_);
    project_.rendered = true;
    project_.publishedResultCount.store(int32_t(results.size()), std::memory_order_release);
    if (pass_.pinnedWithoutPool > 0) {
        std::printf("[Render] No library sounds to render from: pinned files of %d event(s) got no layers\n",
                    pass_.pinnedWithoutPool);
    }
}

}  // namespace

// ---- RenderEventsInTurn / ResolveLayerFile ----------------------------------------------------------

int RenderEventsInTurn(Project& project, const SoundLibrary& library, const std::vector<int>& events,
                       const FullRenderHooks& hooks) {
    int done = 0;
    size_t next = 0;
    bool followed = false;
    std::vector<int> changingBeds;
    while (next < events.size()) {
        if (hooks.stop && hooks.stop()) return done;
        const int i = events[next++];
        const RenderSeeds seeds = SeedsFor(hooks, i);
        RenderEventsWithOptions(project, library, i, -1, -1, true, true, seeds, hooks.options);
        if (hooks.wholePass) hooks.wholePass(i);
        done += 1;
        ReportRealPass(project, i, hooks);
        if (done == 1 && next < events.size() && Followable(project, changingBeds)) {
            followed = true;
            break;
        }
    }
    if (!followed) return done;

    InTurn turn(project, library, hooks, changingBeds);
    while (next < events.size()) {
        if (hooks.stop && hooks.stop()) break;
        turn.RenderPass(events[next++]);
        done += 1;
    }
    turn.Materialise();
    return done;
}

bool ResolveLayerFile(RenderResult& layer) {
    if (layer.fileId.empty()) return false;
    std::string resolved = FileRegistry::Instance().ResolveOrAdd(layer.fileId, layer.filepath);
    if (resolved.empty() || resolved == layer.filepath) return false;
    layer.filepath = std::move(resolved);
    return true;
}
