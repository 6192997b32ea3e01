// The full render's events in turn against a pass per event as the program
// made them before (tests/support/reference_render.h): the packings on their
// own over awkward layers, then whole generated projects (plain, under a
// tight track budget with heroes, with locked layers kept, with events out
// of time order, with locked Clips of several layers and Beds hardly longer
// than their crossfade), compared field by field, with the whole passes
// made counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "render/full_render.h"
#include "render/render_pass.h"
#include "render/render_pass_steps.h"
#include "render/track_assignment.h"
#include "render/track_packing.h"
#include "support/large_project.h"
#include "support/reference_render.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

RenderSeeds SeedsOf(int eventIndex) { return FixedRenderSeeds(1000u + uint32_t(eventIndex) * 7u, 4242u); }

std::vector<int> AllEvents(const Project& project) {
    std::vector<int> events;
    for (size_t e = 0; e < project.events.size(); ++e)
        if (!project.events[e].locked) events.push_back(int(e));
    return events;
}

bool SameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Fields that are not a number on both sides count as equal.
void MatchNotANumbers(RenderResult& a, RenderResult& b) {
    for (auto field : {&RenderResult::startTime, &RenderResult::duration, &RenderResult::sourceOffset,
                       &RenderResult::sourceDuration, &RenderResult::fadeIn, &RenderResult::fadeOut,
                       &RenderResult::layerGain, &RenderResult::weight, &RenderResult::audioSyncOffset}) {
        if (std::isnan(a.*field) && std::isnan(b.*field)) a.*field = b.*field = 0;
    }
    for (size_t k = 0; k < a.intGain.size(); ++k)
        if (std::isnan(a.intGain[k]) && std::isnan(b.intGain[k])) a.intGain[k] = b.intGain[k] = 0;
}

// Every field of every result (ids apart: every run draws new ones), and of
// the project what the passes change.
void ExpectSameDocument(const Project& got, const Project& want) {
    ASSERT_EQ(got.results.size(), want.results.size());
    for (size_t k = 0; k < got.results.size(); ++k) {
        RenderResult a = got.results[k];
        RenderResult b = want.results[k];
        b.id = a.id;
        MatchNotANumbers(a, b);
        if (a == b) continue;
        // Name the first fields that differ.
        ADD_FAILURE() << "result " << k << " (event " << a.eventIdx << ", " << a.name << ") differs:"
                      << (a.eventIdx != b.eventIdx ? " eventIdx" : "") << (a.name != b.name ? " name" : "")
                      << (!SameFloat(a.startTime, b.startTime) ? " startTime" : "")
                      << (!SameFloat(a.duration, b.duration) ? " duration" : "")
                      << (!SameFloat(a.sourceOffset, b.sourceOffset) ? " sourceOffset" : "")
                      << (!SameFloat(a.layerGain, b.layerGain) ? " layerGain" : "")
                      << (!SameFloat(a.fadeIn, b.fadeIn) || !SameFloat(a.fadeOut, b.fadeOut) ? " fades" : "")
                      << (a.groupTrack != b.groupTrack ? " groupTrack" : "") << (a.track != b.track ? " track" : "")
                      << (a.muteReasons != b.muteReasons ? " muteReasons" : "") << (a.group != b.group ? " group" : "")
                      << (!SameFloat(a.weight, b.weight) ? " weight" : "") << (a.filepath != b.filepath ? " filepath" : "")
                      << (!SameFloat(a.pitchShift, b.pitchShift) ? " pitchShift" : "")
                      << (a.intGain != b.intGain ? " intGain" : "") << (a.fillGain != b.fillGain ? " fillGain" : "");
        return;
    }
    for (int g = 0; g < 3; ++g) EXPECT_EQ(got.groups[g].usedTracks, want.groups[g].usedTracks) << g;
    ASSERT_EQ(got.events.size(), want.events.size());
    for (size_t e = 0; e < got.events.size(); ++e) {
        EXPECT_EQ(got.events[e].pinnedFiles, want.events[e].pinnedFiles) << e;
        EXPECT_STREQ(got.events[e].pinnedFile, want.events[e].pinnedFile) << e;
    }
    EXPECT_EQ(got.fillPickCounter, want.fillPickCounter);
    EXPECT_EQ(got.resultsRevision, want.resultsRevision);
    EXPECT_EQ(got.rendered.load(), want.rendered.load());
    EXPECT_EQ(got.publishedResultCount.load(), int32_t(got.results.size()));
}

struct Rendered {
    Project result;  // the document the events rendered in turn left
    int done = 0;
    std::vector<int> reported;  // events, once per pass
    std::vector<std::vector<int>> indices;
};

// Both roads over copies of `project`, expecting the same document, and
// `wholePasses` events rendered through a whole pass (-1: all of them).
void ExpectInTurnMatchesPasses(const Project& project, const SoundLibrary& library, Rendered* seen = nullptr,
                               int wholePasses = 1) {
    // The band masks are compared on their own too: the layers' choices
    // follow them only now and then.
    using Masks = std::vector<std::pair<int, std::array<float, 5>>>;
    auto recording = [](Masks& into) {
        RenderPassOptions options;
        options.bandMaskSeen = [&into](int i, const float* mask) {
            into.push_back({i, {mask[0], mask[1], mask[2], mask[3], mask[4]}});
        };
        return options;
    };
    Masks referenceMasks, inTurnMasks;
    Project reference = project;
    ReferenceRenderEvents(reference, library, AllEvents(project), SeedsOf, nullptr, recording(referenceMasks));
    Project inTurn = project;
    Rendered local;
    Rendered& r = seen ? *seen : local;
    FullRenderHooks hooks;
    hooks.seeds = SeedsOf;
    hooks.options = recording(inTurnMasks);
    hooks.eventDone = [&](int i, const std::vector<RenderedLayer>& layers) {
        r.reported.push_back(i);
        std::vector<int> at;
        for (const RenderedLayer& l : layers) {
            EXPECT_EQ(l.layer->eventIdx, i);
            at.push_back(l.index);
        }
        r.indices.push_back(at);
    };
    int whole = 0;
    hooks.wholePass = [&whole](int) { whole += 1; };
    r.done = RenderEventsInTurn(inTurn, library, AllEvents(project), hooks);
    EXPECT_EQ(r.done, int(AllEvents(project).size()));
    EXPECT_EQ(whole, wholePasses < 0 ? r.done : wholePasses);
    EXPECT_EQ(inTurnMasks, referenceMasks);
    ExpectSameDocument(inTurn, reference);
    r.result = std::move(inTurn);
}

int BudgetMuted(const Project& project) {
    int muted = 0;
    for (const RenderResult& r : project.results) muted += (r.muteReasons & kMuteBudget) ? 1 : 0;
    return muted;
}

LargeProject Generated(int events, float seconds, const std::string& folder, uint32_t seed = 1) {
    LargeProjectSpec spec{.eventCount = events, .seconds = seconds, .soundCount = 24, .soundSeconds = 0.8f, .seed = seed};
    return MakeLargeProject(spec, folder);
}

// ---- Random layers for the packings -------------------------------------------------------

Project RandomLayers(std::mt19937& rng, bool budget) {
    Project project;
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int events = 6 + int(rng() % 30);
    for (int e = 0; e < events; ++e) {
        const int shape = int(rng() % 7);
        AddEvent(project, 10.0f * unit(rng), shape, 0.5f);
        project.events.back().hero = rng() % 6 == 0;
    }
    project.budgetMode = budget;
    for (int g = 0; g < 3; ++g) project.groups[g].trackCount = budget ? int(rng() % 5) : 8;
    const int layers = 20 + int(rng() % 140);
    for (int k = 0; k < layers; ++k) {
        RenderResult r;
        r.eventIdx = rng() % 25 == 0 ? -1 : int(rng() % uint32_t(events));
        r.group = rng() % 20 == 0 ? 3 : int(rng() % 3);
        // Starts on a coarse grid so layers tie and touch; a few that are not numbers.
        r.startTime = float(rng() % 40) * 0.25f;
        r.duration = float(rng() % 12) * 0.25f + (rng() % 3 == 0 ? 0.0005f : 0.0f);
        if (rng() % 40 == 0) r.startTime = NAN;
        if (rng() % 50 == 0) r.duration = INFINITY;
        if (rng() % 30 == 0) r.duration = -0.5f;
        r.layerGain = rng() % 2 ? 1.0f / (1.0f + float(rng() % 4) * 0.3f) : 0.5f + float(rng() % 3) * 0.0006f;
        if (rng() % 8 == 0) SetUserMuted(r, true);
        if (rng() % 8 == 0) SetMuteReason(r, kMuteBudget, true);
        if (rng() % 15 == 0) r.muted = true;  // a bare mute, as older files have it
        project.results.push_back(r);
    }
    // Crowded: more overlapping layers than the 48 tracks of a group.
    if (!budget && rng() % 3 == 0) {
        for (int k = 0; k < 60; ++k) {
            RenderResult r;
            r.eventIdx = int(rng() % uint32_t(events));
            r.group = 1;
            r.startTime = 2.0f + float(k % 3) * 0.01f;
            r.duration = 4.0f;
            project.results.push_back(r);
        }
    }
    return project;
}

void ExpectSamePacking(const Project& got, const Project& want, int round) {
    ASSERT_EQ(got.results.size(), want.results.size());
    for (size_t k = 0; k < got.results.size(); ++k) {
        const RenderResult& a = got.results[k];
        const RenderResult& b = want.results[k];
        ASSERT_EQ(a.groupTrack, b.groupTrack) << "round " << round << " layer " << k;
        ASSERT_EQ(a.track, b.track) << "round " << round << " layer " << k;
        ASSERT_EQ(a.muteReasons, b.muteReasons) << "round " << round << " layer " << k;
        ASSERT_EQ(a.muted, b.muted) << "round " << round << " layer " << k;
    }
    for (int g = 0; g < 3; ++g) ASSERT_EQ(got.groups[g].usedTracks, want.groups[g].usedTracks) << "round " << round;
}

}  // namespace

TEST(FullRender, BothPackingsPlaceAndMuteAsBefore) {
    std::mt19937 rng(84);
    for (int round = 0; round < 250; ++round) {
        const Project layers = RandomLayers(rng, round % 2 == 1);
        Project a = layers, b = layers;
        AssignTracks(a);
        ReferenceAssignTracks(b);
        ExpectSamePacking(a, b, round);

        Project c = layers, d = layers;
        PackScratch scratch;
        PackResultsAsPassEnd(c, scratch);
        ReferencePassEndPacking(d);
        ExpectSamePacking(c, d, round);
        // The pass end as a whole, sort included.
        Project e = layers, f = layers;
        FinishRenderPass(e);
        ReferenceFinishRenderPass(f);
        ExpectSameDocument(e, f);
        if (HasFailure()) return;
    }
}

TEST(FullRender, EventsInTurnGiveWhatAPassPerEventGives) {
    TempDir dir;
    LargeProject large = Generated(270, 300, dir.File("Library"));
    SoundLibrary library;
    library.libraries.push_back(large.library.index);
    Rendered seen;
    ExpectInTurnMatchesPasses(large.project, library, &seen);
    // Every event reported once, in order, with its layers where they stand.
    EXPECT_EQ(seen.reported, AllEvents(large.project));
    for (const std::vector<int>& at : seen.indices) EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));

    // A tight budget mutes layers between the events (heroes claim tracks
    // first), and locked events keep layers from before.
    Project tight = large.project;
    tight.budgetMode = true;
    for (int g = 0; g < 3; ++g) tight.groups[g].trackCount = 2 + g;
    for (size_t e = 0; e < tight.events.size(); e += 17) tight.events[e].hero = true;
    RenderEventsWithSeeds(tight, library, -1, 0, 60, false, false, SeedsOf(9));
    for (Event& e : tight.events)
        if (e.time < 60 && e.shape != kShapeClip) e.locked = true;
    Rendered tightSeen;
    ExpectInTurnMatchesPasses(tight, library, &tightSeen);
    EXPECT_GT(BudgetMuted(tightSeen.result), 50) << "the budget should have muted layers";
}

// Without a budget a group has 48 tracks: a crowded project outgrows them
// while it renders, and from then on the packings mute layers between the
// events.
TEST(FullRender, ACrowdedProjectOutgrowsItsTracksWhileItRenders) {
    TempDir dir;
    LargeProject large = Generated(270, 3.5f, dir.File("Library"), 6);
    SoundLibrary library;
    library.libraries.push_back(large.library.index);
    Project crowded = large.project;
    for (Event& e : crowded.events) e.spread = 1.0f;  // more layers per event
    Rendered seen;
    ExpectInTurnMatchesPasses(crowded, library, &seen);
    EXPECT_GT(BudgetMuted(seen.result), 0) << "the 48 tracks of a group should have run out";
}

TEST(FullRender, EventsOutOfTimeOrderAndUnusualEvents) {
    TempDir dir;
    LargeProject large = Generated(120, 120, dir.File("Library"), 5);
    SoundLibrary library;
    library.libraries.push_back(large.library.index);
    Project project = large.project;
    std::mt19937 rng(7);
    std::shuffle(project.events.begin(), project.events.end(), rng);
    // Events that cannot be rendered, a Clip without a file, a hero.
    project.events[3].duration = 0;
    project.events[5].time = NAN;
    const int bare = AddEvent(project, 3.0f, kShapeClip, 0.5f);
    project.events[size_t(bare)].pinnedFile[0] = '\0';
    project.events[11].hero = true;
    ExpectInTurnMatchesPasses(project, library);

    // Under a budget the two packings mute differently here (the assignment
    // takes events by index, the pass end by time), and the band masks read
    // the assignment's mutes once a Clip has been rebuilt before the event.
    project.budgetMode = true;
    for (int g = 0; g < 3; ++g) project.groups[g].trackCount = 3;
    ExpectInTurnMatchesPasses(project, library);

    // Locked layers whose fades overrun them: every pass end limits them
    // again, and the limit may move them by a last bit more than once.
    const int locked = AddEvent(project, 40.0f, kShapeSpot, 0.5f);
    project.events[size_t(locked)].locked = true;
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int k = 0; k < 200; ++k) {
        RenderResult r;
        r.eventIdx = locked;
        r.group = 1;
        r.startTime = 40.0f + 0.01f * float(k);
        r.duration = 0.05f + 3.0f * unit(rng);
        r.fadeIn = r.duration * (0.3f + unit(rng));
        r.fadeOut = r.duration * (0.3f + unit(rng));
        project.results.push_back(r);
    }
    ExpectInTurnMatchesPasses(project, library);
}

// Locked Clips that keep several layers (each pass replaces the first one,
// and the sort moves the replacement to the Clip's start, until none starts
// before it; two Clips at the same moment replace theirs in one pass) and
// Beds hardly longer than their crossfade (every pass end cuts the fades the
// rebuild set): one whole pass, then followed, also under a tight budget. A
// Bed whose layers the sort and the rebuild reorder in every pass is still
// left to whole passes.
TEST(FullRender, LockedClipsWithLayersAndShortBedsFollowTheirPasses) {
    TempDir dir;
    LargeProject large = Generated(96, 80, dir.File("Library"), 3);
    SoundLibrary library;
    library.libraries.push_back(large.library.index);
    Project project = large.project;

    std::vector<int> clips, beds;
    for (size_t e = 0; e < project.events.size(); ++e) {
        if (project.events[e].shape == kShapeClip) clips.push_back(int(e));
        if (project.events[e].shape == kShapeBed) beds.push_back(int(e));
    }
    ASSERT_GE(clips.size(), 3u);
    ASSERT_GE(beds.size(), 5u);
    // Three layers around the first Clip's start (two before it, one after),
    // fades that overrun them, a muted one and a quieter one; the second
    // Clip moved to the third's time, each with two layers before it.
    project.events[size_t(clips[1])].time = project.events[size_t(clips[2])].time;
    project.events[size_t(clips[1])].syncOffset = project.events[size_t(clips[2])].syncOffset;
    auto layersBefore = [&](int clip, std::initializer_list<float> offsets) {
        Event& event = project.events[size_t(clip)];
        event.locked = true;
        int k = 0;
        for (float offset : offsets) {
            RenderResult r;
            r.eventIdx = clip;
            r.group = EventMixGroup(event);
            r.startTime = event.time - event.syncOffset + offset;
            r.duration = 0.4f + 0.3f * float(k);
            r.fadeIn = r.fadeOut = 0.3f;
            r.filepath = event.pinnedFile;
            r.weight = 0.2f * float(k + 1);
            r.userVolume = k == 1 ? 0.5f : 1.0f;
            if (k == 2) SetUserMuted(r, true);
            project.results.push_back(r);
            k += 1;
        }
    };
    layersBefore(clips[0], {-1.5f, -0.25f, 0.75f});
    layersBefore(clips[1], {-0.5f, -2.0f});
    layersBefore(clips[2], {-1.0f, -0.5f});
    // Beds 0 to 30 ms longer than their crossfade (a frame at 24 fps, or
    // three frames of a scene's crossfade).
    const float lengths[] = {0.0f, 0.0005f, 0.002f, 0.01f, 0.03f};
    for (size_t k = 0; k < beds.size(); ++k) {
        Event& bed = project.events[beds[k]];
        bed.duration = lengths[k % 5];
        if (k % 4 == 3) {
            bed.sceneLink = 0;
            bed.sceneCrossfade = 3;
        }
    }
    Rendered seen;
    ExpectInTurnMatchesPasses(project, library, &seen);
    int bedsCut = 0;
    for (const RenderResult& r : seen.result.results)
        bedsCut += seen.result.events[size_t(r.eventIdx)].shape == kShapeBed && r.fadeIn < 1.0f / 24 ? 1 : 0;
    EXPECT_GT(bedsCut, 0) << "the pass end should cut the short Beds' fades";
    // The two layers before the first Clip were each replaced by the
    // rebuild's record (at the Clip's start), the one after it kept.
    const Event& first = seen.result.events[size_t(clips[0])];
    int atStart = 0, after = 0;
    for (const RenderResult& r : seen.result.results) {
        if (r.eventIdx != clips[0]) continue;
        atStart += r.startTime == first.time - first.syncOffset ? 1 : 0;
        after += r.startTime > first.time - first.syncOffset ? 1 : 0;
    }
    EXPECT_EQ(atStart, 2);
    EXPECT_EQ(after, 1);

    Project tight = project;
    tight.budgetMode = true;
    for (int g = 0; g < 3; ++g) tight.groups[g].trackCount = 2;
    for (size_t e = 0; e < tight.events.size(); e += 11) tight.events[e].hero = true;
    ExpectInTurnMatchesPasses(tight, library);

    // A Bed with two files whose layers start 50 us apart: within the
    // rebuild's tolerance, so it keeps both starts, puts them back in layer
    // order, and the sort swaps them again.
    Project swapping = large.project;
    Event& bed = swapping.events[size_t(beds[0])];
    bed.pinnedFiles.push_back(large.library.paths[5]);
    for (int k = 0; k < 2; ++k) {
        RenderResult r;
        r.eventIdx = beds[0];
        r.filepath = bed.pinnedFiles[size_t(k)];
        r.fileId = k < int(bed.pinnedFileIds.size()) ? bed.pinnedFileIds[size_t(k)] : std::string();
        r.startTime = bed.time - bed.syncOffset + (k == 0 ? 0.00005f : 0.0f);
        r.group = EventMixGroup(bed);
        swapping.results.push_back(r);
    }
    ExpectInTurnMatchesPasses(swapping, library, nullptr, -1);
}

TEST(FullRender, StoppingKeepsTheEventsRenderedSoFar) {
    TempDir dir;
    LargeProject large = Generated(90, 90, dir.File("Library"), 2);
    SoundLibrary library;
    library.libraries.push_back(large.library.index);
    const std::vector<int> events = AllEvents(large.project);
    for (int k : {0, 1, 2, 37}) {
        Project reference = large.project;
        ReferenceRenderEvents(reference, library, std::vector<int>(events.begin(), events.begin() + k), SeedsOf);
        Project inTurn = large.project;
        int asked = 0;
        FullRenderHooks hooks;
        hooks.seeds = SeedsOf;
        hooks.stop = [&] { return asked++ == k; };
        EXPECT_EQ(RenderEventsInTurn(inTurn, library, events, hooks), k);
        ExpectSameDocument(inTurn, reference);
    }
}
