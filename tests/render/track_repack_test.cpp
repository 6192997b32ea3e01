// The tracks' repack after layers changed span: layer for layer the whole
// assignment's, on generated projects, while reading only what the change reaches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "document/event.h"
#include "document/project.h"
#include "render/track_assignment.h"
#include "render/track_repack.h"

namespace {

// Spots of 1..8 short layers and Beds of 2..3 long ones over `seconds`, in
// the three groups, dense enough that a group opens a few dozen tracks.
Project GeneratedProject(uint32_t seed, int events, float seconds) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Project p;
    for (int e = 0; e < events; ++e) {
        const bool bed = e % 9 == 4;
        const float at = unit(rng) * seconds;
        const int index = AddEvent(p, at, bed ? kShapeBed : kShapeSpot, 0.5f);
        const int group = bed ? 2 : int(rng() % 3);
        const int layers = bed ? 2 + int(rng() % 2) : 1 + int(rng() % 8);
        for (int k = 0; k < layers; ++k) {
            RenderResult r;
            r.eventIdx = index;
            r.group = group;
            r.startTime = bed ? at : at + 0.37f * unit(rng);
            r.duration = bed ? 8.0f + 30.0f * unit(rng) : 0.3f + 5.7f * unit(rng);
            p.results.push_back(r);
        }
    }
    return p;
}

// The generated project with its tracks assigned (and so its record made).
Project AssignedProject(uint32_t seed, int events, float seconds) {
    Project p = GeneratedProject(seed, events, seconds);
    p.totalDuration = seconds + 20.0f;
    AssignTracks(p);
    return p;
}

std::vector<int> LayersOf(const Project& p, int event) {
    std::vector<int> own;
    for (size_t i = 0; i < p.results.size(); ++i)
        if (p.results[i].eventIdx == event) own.push_back(int(i));
    return own;
}

// The Bed nearest `fraction` of the way through the events.
int BedNear(const Project& p, double fraction) {
    int best = -1;
    double gap = 2;
    for (size_t e = 0; e < p.events.size(); ++e) {
        if (p.events[e].shape != kShapeBed) continue;
        const double at = double(p.events[e].time) / double(p.totalDuration);
        if (std::abs(at - fraction) < gap) gap = std::abs(at - fraction), best = int(e);
    }
    return best;
}

// Changes a Bed's layers as `edit` says, repacks, and holds every layer's
// packing against a whole assignment of a copy. A repack reads no more than
// the layers of the Bed's group from the Bed's first start until the Bed
// and every layer it moved have ended (each twice at most: the last packing
// replayed beside the new one), and one checkpoint's stride.
TrackRepack ChangeBedAndCompare(Project& p, int bed, const std::function<void(RenderResult&)>& edit) {
    std::vector<LayerSpan> before;
    std::vector<int32_t> tracksBefore;
    for (const RenderResult& r : p.results) tracksBefore.push_back(r.groupTrack);
    float reachStart = INFINITY, reachEnd = -INFINITY;
    for (int i : LayersOf(p, bed)) {
        RenderResult& r = p.results[size_t(i)];
        before.push_back({i, r.group, r.startTime, r.startTime + r.duration});
        reachStart = std::min(reachStart, r.startTime);
        reachEnd = std::max(reachEnd, r.startTime + r.duration);
        edit(r);
        reachStart = std::min(reachStart, r.startTime);
        reachEnd = std::max(reachEnd, r.startTime + r.duration);
    }
    const uint32_t revision = p.resultsRevision;
    p.resultsRevision += 1;  // as the Bed's rebuild leaves it
    Project whole = p;
    AssignTracks(whole);
    const TrackRepack repack = RepackChangedSpans(p, revision, before);
    int differ = 0;
    for (size_t i = 0; i < p.results.size(); ++i) {
        const RenderResult &a = p.results[i], &b = whole.results[i];
        differ += a.groupTrack != b.groupTrack || a.track != b.track || a.muteReasons != b.muteReasons ? 1 : 0;
    }
    EXPECT_EQ(differ, 0) << "layers packed unlike the whole assignment";
    for (int g = 0; g < 3; ++g) EXPECT_EQ(p.groups[g].usedTracks, whole.groups[g].usedTracks);
    if (repack.whole) return repack;
    for (size_t i = 0; i < p.results.size(); ++i)
        if (p.results[i].groupTrack != tracksBefore[i])
            reachEnd = std::max(reachEnd, p.results[i].startTime + p.results[i].duration);
    int64_t inReach = 0;
    for (const RenderResult& r : p.results)
        inReach += r.group == before.front().group && r.startTime >= reachStart && r.startTime <= reachEnd ? 1 : 0;
    EXPECT_LE(repack.visited, 2 * inReach + int64_t(kTrackMemoStride)) << "the repack read past the change's reach";
    return repack;
}

}  // namespace

TEST(TrackRepack, BedChangesAtTheStartMiddleAndEndPackAsTheWholeAssignment) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        Project p = AssignedProject(seed, 2400, 600.0f);
        int bounded = 0;
        for (double where : {0.02, 0.5, 0.97}) {
            const int bed = BedNear(p, where);
            ASSERT_GE(bed, 0);
            // Shorter, longer, moved later, then moved back earlier: each
            // repack starts from the record the last one left.
            for (auto edit : std::vector<std::function<void(RenderResult&)>>{
                     [](RenderResult& r) { r.duration -= 0.25f; },
                     [](RenderResult& r) { r.duration += 2.0f; },
                     [](RenderResult& r) { r.startTime += 1.5f; },
                     [](RenderResult& r) { r.startTime -= 3.0f; }}) {
                SCOPED_TRACE(::testing::Message() << "seed " << seed << ", Bed at " << where);
                const TrackRepack repack = ChangeBedAndCompare(p, bed, edit);
                if (repack.whole) continue;
                ++bounded;
                for (int i : LayersOf(p, bed))
                    EXPECT_NE(std::find(repack.placed.begin(), repack.placed.end(), i), repack.placed.end());
            }
        }
        EXPECT_GE(bounded, 8) << "most changes repack from the Bed on";
    }
}

TEST(TrackRepack, AChangeThatRipplesFarStillPacksAsTheWholeAssignment) {
    Project p = AssignedProject(7, 1800, 400.0f);
    const int bed = BedNear(p, 0.1);
    ASSERT_GE(bed, 0);
    // A minute longer: every layer starting under it finds one track fewer,
    // and what they push aside pushes others.
    const TrackRepack longer = ChangeBedAndCompare(p, bed, [](RenderResult& r) { r.duration += 60.0f; });
    if (!longer.whole) {
        EXPECT_GT(longer.placed.size(), 20u) << "the change is not shown to ripple";
    }
    const TrackRepack back = ChangeBedAndCompare(p, bed, [](RenderResult& r) { r.duration -= 60.0f; });
    EXPECT_FALSE(back.whole && longer.whole) << "neither direction repacked";
}

TEST(TrackRepack, DeclinesWhatItCannotFollowAndAssignsEveryTrack) {
    Project p = AssignedProject(11, 600, 200.0f);
    const int bed = BedNear(p, 0.5);
    ASSERT_GE(bed, 0);
    // A layer moved to another group; a negative length (and the record
    // that holds it after); a copy of the project (it has no record); a
    // record of other results.
    EXPECT_TRUE(ChangeBedAndCompare(p, bed, [](RenderResult& r) { r.group = 0; }).whole);
    EXPECT_TRUE(ChangeBedAndCompare(p, bed, [](RenderResult& r) { r.duration = -1.0f; }).whole);
    EXPECT_TRUE(ChangeBedAndCompare(p, bed, [](RenderResult& r) { r.duration = 9.0f; }).whole);
    Project copy = p;
    std::vector<LayerSpan> before;
    for (int i : LayersOf(copy, bed))
        before.push_back({i, copy.results[size_t(i)].group, copy.results[size_t(i)].startTime,
                          copy.results[size_t(i)].startTime + copy.results[size_t(i)].duration});
    EXPECT_TRUE(RepackChangedSpans(copy, copy.resultsRevision, before).whole) << "a copy shares no record";
    EXPECT_TRUE(RepackChangedSpans(p, p.resultsRevision + 5, before).whole) << "a record of other results";
    // Under a budget the assignment goes rank by rank over whole groups.
    p.budgetMode = true;
    AssignTracks(p);
    EXPECT_TRUE(ChangeBedAndCompare(p, bed, [](RenderResult& r) { r.duration -= 0.5f; }).whole);
}

namespace {

// A layer of its own event (a Spot, or a Bed: never muted for lack of
// tracks) in group 0.
int AddLayer(Project& p, float start, float duration, bool bed = false) {
    const int event = AddEvent(p, start, bed ? kShapeBed : kShapeSpot, 0.5f);
    RenderResult r;
    r.eventIdx = event;
    r.group = 0;
    r.startTime = start;
    r.duration = duration;
    p.results.push_back(r);
    return int(p.results.size()) - 1;
}

// Every layer's packing against a whole assignment of a copy.
int DifferFromWhole(const Project& p) {
    Project whole = p;
    AssignTracks(whole);
    int differ = 0;
    for (size_t i = 0; i < p.results.size(); ++i) {
        const RenderResult &a = p.results[i], &b = whole.results[i];
        differ += a.groupTrack != b.groupTrack || a.track != b.track || a.muteReasons != b.muteReasons ? 1 : 0;
    }
    for (int g = 0; g < 3; ++g) differ += p.groups[g].usedTracks != whole.groups[g].usedTracks ? 1 : 0;
    return differ;
}

// Moves or stretches the listed layers and repacks.
TrackRepack Repack(Project& p, const std::vector<int>& layers, const std::function<void(RenderResult&)>& edit) {
    std::vector<LayerSpan> before;
    for (int i : layers) {
        RenderResult& r = p.results[size_t(i)];
        before.push_back({i, r.group, r.startTime, r.startTime + r.duration});
        edit(r);
    }
    const uint32_t revision = p.resultsRevision;
    p.resultsRevision += 1;
    return RepackChangedSpans(p, revision, before);
}

}  // namespace

// At the 48 tracks a group has without a budget only a Bed opens a track. A
// Bed that needed a 49th track gets one below it once another Bed is cut
// short; a layer that starts after both had ended found that 49th track free
// in the last packing, but the whole assignment has no 49th track left to
// give it: it is muted, and so must the repack mute it.
TEST(TrackRepack, AtTheTrackLimitOnlyTheTracksTheWholeAssignmentOpensAreFree) {
    Project p;
    p.totalDuration = 200;
    for (int k = 0; k < 47; ++k) AddLayer(p, 0.0f, 100.0f);  // tracks 0..46, all along
    const int shortened = AddLayer(p, 1.0f, 4.0f, true);    // track 47 until 5 s
    const int beyond = AddLayer(p, 2.0f, 4.0f, true);       // every track busy: a 49th until 6 s
    const int after = AddLayer(p, 10.0f, 90.0f);            // track 47
    const int last = AddLayer(p, 12.0f, 8.0f);              // the 49th, free since 6 s
    AssignTracks(p);
    ASSERT_EQ(p.results[size_t(beyond)].groupTrack, 48);
    ASSERT_EQ(p.results[size_t(after)].groupTrack, 47);
    ASSERT_EQ(p.results[size_t(last)].groupTrack, 48);
    ASSERT_EQ(p.groups[0].usedTracks, 49);

    // Track 47 is free again at 1.5 s: the second Bed takes it, and with
    // it gone no 49th track is open when the last layer starts.
    const TrackRepack repack = Repack(p, {shortened}, [](RenderResult& r) { r.duration = 0.5f; });
    EXPECT_EQ(DifferFromWhole(p), 0) << "the repack placed a layer the whole assignment does not";
    EXPECT_EQ(p.results[size_t(beyond)].groupTrack, 47);
    EXPECT_EQ(p.results[size_t(last)].groupTrack, -1);
    EXPECT_TRUE(p.results[size_t(last)].muted);
    EXPECT_EQ(p.groups[0].usedTracks, 48);
    EXPECT_TRUE(repack.whole) << "a group's count of used tracks changed";
}

// The other way round: the new packing opens the 49th track early, for a
// Bed the lengthened one leaves no room; the last packing opens it only
// later, for another Bed. A layer the last packing muted in between finds
// that 49th track free now, as it does in the whole assignment.
TEST(TrackRepack, AtTheTrackLimitATrackABedOpenedEarlierTakesALayerTheLastPackingMuted) {
    Project p;
    p.totalDuration = 200;
    for (int k = 0; k < 47; ++k) AddLayer(p, 0.0f, 100.0f);  // tracks 0..46, all along
    const int lengthened = AddLayer(p, 1.0f, 0.5f, true);   // track 47 until 1.5 s
    const int bed = AddLayer(p, 2.0f, 2.0f, true);          // track 47 again
    const int after = AddLayer(p, 5.0f, 45.0f);             // track 47
    const int between = AddLayer(p, 6.0f, 1.0f);            // every track busy: muted
    const int later = AddLayer(p, 8.0f, 1.0f, true);        // a Bed: opens the 49th
    AssignTracks(p);
    ASSERT_EQ(p.results[size_t(bed)].groupTrack, 47);
    ASSERT_EQ(p.results[size_t(between)].groupTrack, -1);
    ASSERT_EQ(p.results[size_t(later)].groupTrack, 48);

    const TrackRepack repack = Repack(p, {lengthened}, [](RenderResult& r) { r.duration = 2.0f; });
    EXPECT_FALSE(repack.whole) << "both packings use 49 tracks";
    EXPECT_EQ(DifferFromWhole(p), 0) << "the repack kept a mute the whole assignment lifts";
    EXPECT_EQ(p.results[size_t(bed)].groupTrack, 48);
    EXPECT_EQ(p.results[size_t(after)].groupTrack, 47);
    EXPECT_EQ(p.results[size_t(between)].groupTrack, 48);
    EXPECT_FALSE(p.results[size_t(between)].muted);
    EXPECT_EQ(p.results[size_t(later)].groupTrack, 48);
}

// A layer moved earlier leaves the track it held at its old place: the
// repack must replay the last packing past that place before it may stop,
// for a layer after it finds that track free now.
TEST(TrackRepack, ALayerMovedEarlierFreesItsOldTrackForTheLayersAfterIt) {
    Project p;
    p.totalDuration = 20;
    AddLayer(p, 0.0f, 1.0f);                            // track 0
    const int second = AddLayer(p, 2.0f, 1.0f);         // track 0
    const int moved = AddLayer(p, 5.0f, 1.0f, true);    // track 0 until 6 s
    const int after = AddLayer(p, 5.5f, 1.0f);          // track 1: track 0 is busy
    AssignTracks(p);
    ASSERT_EQ(p.results[size_t(moved)].groupTrack, 0);
    ASSERT_EQ(p.results[size_t(after)].groupTrack, 1);

    // Moved to 0.2 s, under the first layer: it takes track 1 there, the
    // second layer track 0 as before, and then both packings hold the same
    // tracks free, but only until the old packing reaches the moved layer's
    // old place. Past it, track 0 is free at 5.5 s.
    const TrackRepack repack = Repack(p, {moved}, [](RenderResult& r) {
        r.startTime = 0.2f;
        r.duration = 0.2f;
    });
    EXPECT_FALSE(repack.whole);
    EXPECT_EQ(DifferFromWhole(p), 0);
    EXPECT_EQ(p.results[size_t(moved)].groupTrack, 1);
    EXPECT_EQ(p.results[size_t(second)].groupTrack, 0);
    EXPECT_EQ(p.results[size_t(after)].groupTrack, 0);

    // And back: the layer after it returns to track 1.
    const TrackRepack back = Repack(p, {moved}, [](RenderResult& r) {
        r.startTime = 5.0f;
        r.duration = 1.0f;
    });
    EXPECT_EQ(DifferFromWhole(p), 0);
    EXPECT_EQ(p.results[size_t(after)].groupTrack, 1);
}

// Small crowded groups, layers moved and stretched at random (several at
// once): every early stop the repack makes is one the whole assignment agrees with.
TEST(TrackRepack, RandomChangesOfFewLayersPackAsTheWholeAssignment) {
    int bounded = 0;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        Project p;
        p.totalDuration = 40;
        const int layers = 12 + int(rng() % 30);
        for (int k = 0; k < layers; ++k)
            AddLayer(p, 20.0f * unit(rng), 0.2f + 3.0f * unit(rng), rng() % 7 == 0);
        AssignTracks(p);
        for (int step = 0; step < 20; ++step) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << ", step " << step);
            std::vector<int> some;
            for (int n = 1 + int(rng() % 3); n > 0; --n) {
                const int i = int(rng() % uint32_t(layers));
                if (std::find(some.begin(), some.end(), i) == some.end()) some.push_back(i);
            }
            const float shift = 10.0f * unit(rng) - 5.0f, stretch = 2.0f * unit(rng) - 1.0f;
            const TrackRepack repack = Repack(p, some, [&](RenderResult& r) {
                r.startTime = std::max(0.0f, r.startTime + shift);
                r.duration = std::max(0.05f, r.duration + stretch);
            });
            ASSERT_EQ(DifferFromWhole(p), 0);
            bounded += repack.whole ? 0 : 1;
        }
    }
    EXPECT_GT(bounded, 400) << "most changes repack without the whole assignment";
}
