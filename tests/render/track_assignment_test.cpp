// Track assignment: first-fit packing, the budget, global numbering and which
// mutes survive it.
#include <gtest/gtest.h>

#include "document/event.h"
#include "document/project.h"
#include "render/track_assignment.h"
#include "render/track_packing.h"

namespace {

int AddLayer(Project& p, int eventIdx, int group, float start, float duration, float gain = 1.0f) {
    RenderResult r;
    r.eventIdx = eventIdx;
    r.group = group;
    r.startTime = start;
    r.duration = duration;
    r.layerGain = gain;
    p.results.push_back(r);
    return static_cast<int>(p.results.size()) - 1;
}

int CountMuted(const Project& p) {
    int n = 0;
    for (const RenderResult& r : p.results) n += r.muted ? 1 : 0;
    return n;
}

}  // namespace

TEST(AssignTracks, FortyEightTracksWithoutBudgetAndBedsMayExceedThem) {
    Project p;
    AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    for (int i = 0; i < 49; ++i) AddLayer(p, 0, 1, 0.01f * i, 10.0f);
    AssignTracks(p);
    EXPECT_EQ(p.groups[1].usedTracks, 48);
    ASSERT_EQ(CountMuted(p), 1);
    EXPECT_TRUE(p.results[48].muted);  // the latest start finds no track
    EXPECT_EQ(p.results[48].groupTrack, -1);
    EXPECT_EQ(p.results[48].track, -1);
    EXPECT_EQ(p.results[48].muteReasons, kMuteBudget);

    Project q;
    AddEvent(q, 0.0f, kShapeFill, 0.5f);
    int bed = AddEvent(q, 0.0f, kShapeBed, 0.5f);
    for (int i = 0; i < 48; ++i) AddLayer(q, 0, 0, 0.01f * i, 10.0f);
    int bedLayer = AddLayer(q, bed, 0, 1.0f, 10.0f);
    AssignTracks(q);
    EXPECT_EQ(CountMuted(q), 0);
    EXPECT_EQ(q.results[bedLayer].groupTrack, 48);
    EXPECT_EQ(q.groups[0].usedTracks, 49);
}

TEST(AssignTracks, LayersTouchingWithinAMillisecondShareATrack) {
    Project p;
    AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    AddLayer(p, 0, 1, 0.0f, 1.0f);
    int exact = AddLayer(p, 0, 1, 1.0f, 1.0f);
    int early = AddLayer(p, 0, 1, 1.9995f, 1.0f);
    int tooEarly = AddLayer(p, 0, 1, 2.997f, 1.0f);
    AssignTracks(p);
    EXPECT_EQ(p.results[0].groupTrack, 0);
    EXPECT_EQ(p.results[exact].groupTrack, 0);
    EXPECT_EQ(p.results[early].groupTrack, 0);
    EXPECT_EQ(p.results[tooEarly].groupTrack, 1);
}

TEST(AssignTracks, BudgetKeepsEachEventsLoudestLayerFirst) {
    Project p;
    p.budgetMode = true;
    p.groups[1].trackCount = 2;
    for (int e = 0; e < 3; ++e) {
        AddEvent(p, 0.0f, kShapeSpot, 0.5f);
        AddLayer(p, e, 1, 0.1f * e, 5.0f, 0.4f);
        AddLayer(p, e, 1, 0.1f * e + 0.05f, 5.0f, 0.9f);
    }
    AssignTracks(p);
    EXPECT_EQ(CountMuted(p), 4);
    int keptEvents = 0;
    for (const RenderResult& r : p.results) {
        if (r.muted) continue;
        EXPECT_FLOAT_EQ(r.layerGain, 0.9f);
        keptEvents |= 1 << r.eventIdx;
    }
    EXPECT_EQ(__builtin_popcount(keptEvents), 2);

    // A hero event gets its track first, however late it starts; the kept
    // layers are then laid out again in time order.
    Project h;
    h.budgetMode = true;
    h.groups[1].trackCount = 2;
    for (int e = 0; e < 3; ++e) AddEvent(h, 0.0f, kShapeSpot, 0.5f);
    h.events[2].hero = true;
    int early = AddLayer(h, 0, 1, 0.0f, 10.0f, 1.0f);
    int earlyQuiet = AddLayer(h, 0, 1, 0.0f, 10.0f, 0.5f);
    int other = AddLayer(h, 1, 1, 0.5f, 10.0f, 1.0f);
    int hero = AddLayer(h, 2, 1, 5.0f, 10.0f, 0.2f);
    AssignTracks(h);
    EXPECT_FALSE(h.results[hero].muted);
    EXPECT_FALSE(h.results[early].muted);
    EXPECT_TRUE(h.results[earlyQuiet].muted);
    EXPECT_TRUE(h.results[other].muted);
    EXPECT_EQ(h.results[early].groupTrack, 0);
    EXPECT_EQ(h.results[hero].groupTrack, 1);
}

TEST(AssignTracks, BudgetMuteIsLiftedWhenRoomFreesUpOtherMutesStay) {
    Project p;
    p.budgetMode = true;
    p.groups[1].trackCount = 1;
    for (int e = 0; e < 5; ++e) AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    AddLayer(p, 0, 1, 0.0f, 2.0f);
    int second = AddLayer(p, 1, 1, 1.0f, 2.0f);
    int userMuted = AddLayer(p, 2, 1, 10.0f, 1.0f);
    int banned = AddLayer(p, 3, 1, 20.0f, 1.0f);
    int silenced = AddLayer(p, 4, 1, 30.0f, 1.0f);
    SetUserMuted(p.results[userMuted], true);
    SetMuteReason(p.results[banned], kMuteBan, true);
    SetMuteReason(p.results[silenced], kMuteSilence, true);

    AssignTracks(p);
    EXPECT_TRUE(p.results[second].muted);
    EXPECT_EQ(p.results[second].groupTrack, -1);
    // Muted layers keep their place on the tracks, as before.
    EXPECT_EQ(p.results[userMuted].groupTrack, 0);

    p.results[second].startTime = 2.0f;  // now it follows the first one
    SetUserMuted(p.results[second], true);
    p.results[userMuted].muteReasons = 0;  // a bare flag, as set without a reason
    AssignTracks(p);
    EXPECT_EQ(p.results[second].groupTrack, 0);
    EXPECT_EQ(p.results[second].muteReasons, kMuteUser);  // budget lifted, user's kept
    EXPECT_EQ(p.results[banned].muteReasons, kMuteBan);
    EXPECT_EQ(p.results[silenced].muteReasons, kMuteSilence);
    EXPECT_TRUE(p.results[userMuted].muted);
    EXPECT_EQ(p.results[userMuted].muteReasons, kMuteUser);
}

TEST(AssignTracks, GlobalNumberingFollowsGroupOrderFxAThenFxBThenBg) {
    Project p;
    AddEvent(p, 0.0f, kShapeFill, 0.5f);
    AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    for (int i = 0; i < 3; ++i) AddLayer(p, 0, 0, 0.0f, 5.0f);
    for (int i = 0; i < 10; ++i) AddLayer(p, 1, 1, 0.0f, 5.0f);
    AssignTracks(p);
    EXPECT_EQ(p.groups[0].usedTracks, 3);
    EXPECT_EQ(p.groups[1].usedTracks, 10);
    EXPECT_EQ(p.groups[2].usedTracks, 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p.results[3 + i].track, i);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p.results[i].track, 10 + i);
}

// Both packings the program runs (the track assignment after an edit, the end
// of every render pass) write their decisions back the same way: a layer of
// no mix group (a damaged or older file's group 3 or -1) drops whatever track
// and budget mute it came with and keeps the designer's bare mute, and the
// layers of the groups are numbered alike whichever packing placed them.
TEST(AssignTracks, BothPackingsLeaveALayerOutsideTheGroupsWithoutATrack) {
    Project base;
    base.budgetMode = true;
    base.groups[1].trackCount = 1;
    base.groups[0].trackCount = 2;
    for (int e = 0; e < 3; ++e) AddEvent(base, 0.0f, kShapeSpot, 0.5f);
    const int placed = AddLayer(base, 0, 1, 0.0f, 2.0f);
    const int crowded = AddLayer(base, 1, 1, 0.5f, 2.0f, 0.5f);
    const int bg = AddLayer(base, 2, 0, 0.0f, 2.0f);
    struct Stale {
        int group;
        bool budgetMuted;
        bool bareMute;
    };
    const Stale stale[] = {{3, true, false}, {-1, false, true}, {7, false, false}};
    std::vector<int> outside;
    for (const Stale& s : stale) {
        const int k = AddLayer(base, 2, s.group, 1.0f, 1.0f);
        RenderResult& r = base.results[size_t(k)];
        r.groupTrack = 4;  // left by whoever wrote the file
        r.track = 9;
        if (s.budgetMuted) SetMuteReason(r, kMuteBudget, true);
        if (s.bareMute) r.muted = true;
        outside.push_back(k);
    }

    Project assigned = base, passEnd = base;
    AssignTracks(assigned);
    PackScratch scratch;
    PackResultsAsPassEnd(passEnd, scratch);
    for (const Project* p : {&assigned, &passEnd}) {
        SCOPED_TRACE(p == &assigned ? "assignment" : "pass end");
        for (size_t i = 0; i < outside.size(); ++i) {
            const RenderResult& r = p->results[size_t(outside[i])];
            EXPECT_EQ(r.groupTrack, -1);
            EXPECT_EQ(r.track, -1);
            EXPECT_EQ(r.muteReasons, stale[i].bareMute ? kMuteUser : 0);
            EXPECT_EQ(r.muted, stale[i].bareMute);
        }
        // The group's own layers: one track of FX A, the quieter layer muted
        // by the budget, BG numbered after FX A.
        EXPECT_EQ(p->results[size_t(placed)].track, 0);
        EXPECT_EQ(p->results[size_t(crowded)].muteReasons, kMuteBudget);
        EXPECT_EQ(p->results[size_t(crowded)].track, -1);
        EXPECT_EQ(p->results[size_t(bg)].track, GroupFirstTrack(p->groups, 0));
        EXPECT_EQ(p->groups[1].usedTracks, 1);
        EXPECT_EQ(p->groups[0].usedTracks, 1);
    }
}
