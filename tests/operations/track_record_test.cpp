// The track record after the moves that keep their tracks: a nudge and a new
// Clip offset move layers the record saw elsewhere; a Clip's trim changes
// its layer's span. The next Bed change's repack must still give every layer
// the whole assignment's track and mute.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/clip_edits.h"
#include "operations/event_voices.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"
#include "render/track_repack.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/temp_dir.h"

namespace {

// Spots of 1..6 layers in the three groups, dense enough that groups open a
// few dozen tracks, with Beds and Clips of a real file among them; every
// track assigned.
struct MovesRig : DocumentRecords {
    TempDir dir;
    std::mt19937 rng;
    std::vector<int> beds, clips;

    explicit MovesRig(uint32_t seed) : rng(seed) {
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.seconds = 2.5;
        spec.sampleRate = 44100;
        const std::string sound = dir.File("bed.wav");
        EXPECT_TRUE(WriteTestAudio(sound, spec));
        Project& p = *project;
        p.totalDuration = 260;
        p.fps = 24;
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int e = 0; e < 900; ++e) {
            const float at = 240.0f * unit(rng);
            if (e % 25 == 7) {
                const int bed = AddEvent(p, at, kShapeBed, 0.5f);
                p.events[size_t(bed)].duration = 6.0f + 30.0f * unit(rng);
                p.events[size_t(bed)].pinnedFiles = {sound};
                beds.push_back(bed);
                continue;
            }
            if (e % 25 == 13) {
                const int clip = AddEvent(p, at, kShapeClip, 0.5f);
                CopyTextField(p.events[size_t(clip)].pinnedFile, sound);
                p.events[size_t(clip)].syncOffset = 0.5f;
                clips.push_back(clip);
                continue;
            }
            const int spot = AddEvent(p, at, kShapeSpot, 0.5f);
            const int group = int(rng() % 3);
            for (int k = 1 + int(rng() % 6); k > 0; --k) {
                RenderResult r;
                r.eventIdx = spot;
                r.group = group;
                r.startTime = at + 0.3f * unit(rng);
                r.duration = 0.3f + 5.0f * unit(rng);
                p.results.push_back(r);
            }
        }
        for (int clip : clips) EXPECT_TRUE(RebuildClipEvent(p, clip));
        EXPECT_TRUE(RebuildBedEvents(p));
        AssignTracks(p);
    }

    // A nudge of every event by one frame, one way or the other, with one in `every` chosen.
    void Nudge(int every) {
        EventMoves moves;
        moves.seconds.assign(project->events.size(), 0.0f);
        const float frame = (rng() % 2 ? 1.0f : -1.0f) / 24.0f;
        for (size_t e = 0; e < moves.seconds.size(); ++e)
            if (rng() % uint32_t(every) == 0) moves.seconds[e] = frame;
        moves.what = "Nudge";
        ASSERT_TRUE(MoveEventsWithVoices(Context(), moves));
    }

    // A Clip's new offset: its sync point stays, its layer slides under it.
    void ClipOffset(int clip, float offset) {
        Event& ev = project->events[size_t(clip)];
        EventMoves moves;
        moves.seconds.assign(project->events.size(), 0.0f);
        moves.seconds[size_t(clip)] = -(offset - ev.syncOffset);
        moves.eventTimes = false;
        moves.what = "Clip offset";
        ASSERT_TRUE(MoveEventsWithVoices(Context(), moves));
        ev.syncOffset = offset;
    }

    // A Bed's change as its job makes it: the Beds rebuilt and repacked.
    TrackRepack ChangeBed(int bed, float longer, float later) {
        project->events[size_t(bed)].duration += longer;
        project->events[size_t(bed)].time += later;
        BedChanges changes;
        EXPECT_TRUE(RebuildBedEvents(*project, nullptr, &changes));
        return changes.tracks;
    }

    // Layers packed unlike a whole assignment of the same document, and
    // layers on one track that overlap by more than the assignment allows.
    int DifferFromWhole() const {
        Project whole = *project;
        AssignTracks(whole);
        int differ = 0;
        for (size_t i = 0; i < project->results.size(); ++i) {
            const RenderResult &a = project->results[i], &b = whole.results[i];
            differ += a.groupTrack != b.groupTrack || a.track != b.track || a.muteReasons != b.muteReasons ? 1 : 0;
        }
        for (int g = 0; g < 3; ++g) differ += project->groups[g].usedTracks != whole.groups[g].usedTracks ? 1 : 0;
        return differ;
    }
    int OverlapsOnATrack() const {
        std::vector<const RenderResult*> placed;
        for (const RenderResult& r : project->results)
            if (r.track >= 0) placed.push_back(&r);
        std::sort(placed.begin(), placed.end(), [](const RenderResult* a, const RenderResult* b) {
            return a->track != b->track ? a->track < b->track : a->startTime < b->startTime;
        });
        int overlaps = 0;
        for (size_t k = 1; k < placed.size(); ++k)
            if (placed[k]->track == placed[k - 1]->track &&
                placed[k]->startTime + 0.001f < placed[k - 1]->startTime + placed[k - 1]->duration)
                ++overlaps;
        return overlaps;
    }
};

}  // namespace

// Nudges, then a Bed change: the nudged layers kept their tracks, and the
// repack that follows places them where the whole assignment does.
TEST(TrackRecord, ABedChangeAfterNudgesPacksAsTheWholeAssignment) {
    int bounded = 0, nudgedIntoOverlap = 0;
    for (uint32_t seed : {3u, 4u}) {
        MovesRig rig(seed);
        for (int step = 0; step < 12; ++step) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << ", step " << step);
            rig.Nudge(step % 3 == 0 ? 4 : 40);
            if (step % 2 == 0) rig.Nudge(25);  // a burst: some layers move twice
            nudgedIntoOverlap += rig.OverlapsOnATrack() > 0 ? 1 : 0;
            const int bed = rig.beds[size_t(rig.rng() % rig.beds.size())];
            const TrackRepack repack = rig.ChangeBed(bed, step % 2 ? 0.5f : -0.5f, step % 3 ? 0.0f : 0.25f);
            ASSERT_EQ(rig.DifferFromWhole(), 0) << "packed from spans the record no longer holds";
            EXPECT_EQ(rig.OverlapsOnATrack(), 0);
            bounded += repack.whole ? 0 : 1;
        }
    }
    EXPECT_GT(nudgedIntoOverlap, 0) << "no nudge moved a layer onto a busy stretch of its track";
    EXPECT_GT(bounded, 12) << "most Bed changes repack from the record";
}

// A Clip's offset moves its layer under a sync point that stays; a Bed
// change afterwards, and one that changes nothing near it, pack as the
// whole assignment does.
TEST(TrackRecord, ABedChangeAfterAClipOffsetPacksAsTheWholeAssignment) {
    MovesRig rig(5);
    int bounded = 0;
    for (int step = 0; step < 16; ++step) {
        SCOPED_TRACE(::testing::Message() << "step " << step);
        const int clip = rig.clips[size_t(step) % rig.clips.size()];
        rig.ClipOffset(clip, step % 2 ? 1.75f : 0.125f);
        const int bed = rig.beds[size_t(rig.rng() % rig.beds.size())];
        const TrackRepack repack = rig.ChangeBed(bed, step % 2 ? -0.75f : 0.75f, 0.0f);
        ASSERT_EQ(rig.DifferFromWhole(), 0) << "packed from spans the record no longer holds";
        bounded += repack.whole ? 0 : 1;
    }
    EXPECT_GT(bounded, 8) << "most Bed changes repack from the record";

    // A move the repack placed leaves the record clean: a move back, then
    // another Bed change, still packs as the whole assignment.
    rig.ClipOffset(rig.clips[0], 0.5f);
    rig.ChangeBed(rig.beds[0], 1.0f, 0.0f);
    EXPECT_EQ(rig.DifferFromWhole(), 0);
}

// A Clip trimmed on the timeline, step by step: each step changes its
// layer's span and leaves the record of the spans as they now are, so the
// Bed change that follows repacks from it as the whole assignment does.
TEST(TrackRecord, ABedChangeAfterAClipTrimPacksAsTheWholeAssignment) {
    MovesRig rig(6);
    int bounded = 0;
    for (int step = 0; step < 6; ++step) {
        SCOPED_TRACE(::testing::Message() << "step " << step);
        const int clip = rig.clips[size_t(step) % rig.clips.size()];
        int layer = -1;
        for (size_t r = 0; r < rig.project->results.size(); ++r)
            if (rig.project->results[r].eventIdx == clip) layer = int(r);
        ASSERT_GE(layer, 0);
        ClipGesture gesture;
        const int edge = step % 2 ? 1 : 2;
        ASSERT_TRUE(BeginClipTrim(rig.Context(), gesture, layer, edge));
        const RenderResult& r = rig.project->results[size_t(layer)];
        const float to = edge == 1 ? r.startTime + 0.4f : r.startTime + r.duration - 0.6f;
        ASSERT_TRUE(ClipTrimStep(rig.Context(), gesture, to, 0, 260));
        ASSERT_TRUE(ClipTrimStep(rig.Context(), gesture, to + 0.1f, 0, 260));
        // The release's rebuild from the file starts a new record; the
        // steps' own record is what is checked here.
        rig.app->trimmingResult = -1;
        const TrackRepack repack = rig.ChangeBed(rig.beds[size_t(rig.rng() % rig.beds.size())], 0.5f, 0.0f);
        ASSERT_EQ(rig.DifferFromWhole(), 0) << "packed from spans the record no longer holds";
        bounded += repack.whole ? 0 : 1;
    }
    EXPECT_GT(bounded, 3) << "most Bed changes repack from the record";
}
