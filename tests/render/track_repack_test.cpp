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
