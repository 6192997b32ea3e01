// The render pass as a whole: what it removes and renders again, the end of
// the pass, sketches, reproducibility and events that cannot be rendered.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "render/render_pass.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

RenderSeeds FixedSeeds(uint32_t seed) { return FixedRenderSeeds(seed, seed * 7919u); }

void Render(Project& project, const SoundLibrary& library, int eventIndex = -1, float t0 = -1,
            float t1 = -1, uint32_t seed = 1) {
    RenderEventsWithSeeds(project, library, eventIndex, t0, t1, false, false, FixedSeeds(seed));
}

std::set<int32_t> IdsOf(const Project& project, int eventIdx) {
    std::set<int32_t> ids;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == eventIdx) ids.insert(r.id);
    return ids;
}

int CountOf(const Project& project, int eventIdx) { return static_cast<int>(IdsOf(project, eventIdx).size()); }

void FillLibrary(SoundLibrary& library, int count, unsigned seed = 3) {
    library.libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(count, seed)));
}

}  // namespace

TEST(RenderPass, RemovesAndRendersWhatItIsAskedFor) {
    SoundLibrary library;
    FillLibrary(library, 200);
    Project project;
    AddEvent(project, 1.0f, kShapeSpot, 0.5f);  // 1 .. 2.5
    AddEvent(project, 4.0f, kShapeSpot, 0.5f);
    AddEvent(project, 6.0f, kShapeSpot, 0.5f);
    int clip = AddEvent(project, 8.0f, kShapeClip, 0.5f);
    CopyTextField(project.events[clip].pinnedFile, "/missing/clip.wav");
    int bed = AddEvent(project, 0.0f, kShapeBed, 0.5f);
    project.events[bed].pinnedFiles = {"/missing/bed.wav"};
    Render(project, library);
    for (int i = 0; i < 3; ++i) EXPECT_GT(CountOf(project, i), 0) << i;
    ASSERT_EQ(CountOf(project, clip), 1);
    EXPECT_EQ(CountOf(project, bed), 1);

    // The designer's volume and mute of a clip survive its own re-render.
    for (RenderResult& r : project.results) {
        if (r.eventIdx != clip) continue;
        r.userVolume = 0.3f;
        SetUserMuted(r, true);
    }

    // One locked event rendered on its own is replaced; nothing else is.
    project.events[1].locked = true;
    auto before0 = IdsOf(project, 0), before1 = IdsOf(project, 1), before2 = IdsOf(project, 2);
    auto clipBefore = IdsOf(project, clip);
    Render(project, library, 1, -1, -1, 2);
    EXPECT_EQ(IdsOf(project, 0), before0);
    EXPECT_EQ(IdsOf(project, 2), before2);
    auto after1 = IdsOf(project, 1);
    EXPECT_FALSE(after1.empty());
    for (int32_t id : after1) EXPECT_EQ(before1.count(id), 0u);
    // Clips are rebuilt on every pass (a fresh record) keeping the designer's settings.
    EXPECT_NE(IdsOf(project, clip), clipBefore);
    Render(project, library, clip, -1, -1, 3);
    for (const RenderResult& r : project.results) {
        if (r.eventIdx != clip) continue;
        EXPECT_FLOAT_EQ(r.userVolume, 0.3f);
        EXPECT_TRUE(r.muted);
        EXPECT_EQ(r.name, "[Missing] clip.wav");
    }
    EXPECT_EQ(CountOf(project, clip), 1);
    EXPECT_EQ(CountOf(project, bed), 1);

    // A range [2, 6): the event reaching into it from before is rendered again,
    // the one starting exactly at its end is not, a locked one never.
    before0 = IdsOf(project, 0);
    before1 = IdsOf(project, 1);
    before2 = IdsOf(project, 2);
    Render(project, library, -1, 2.0f, 6.0f, 4);
    for (int32_t id : IdsOf(project, 0)) EXPECT_EQ(before0.count(id), 0u);
    EXPECT_EQ(IdsOf(project, 1), before1);
    EXPECT_EQ(IdsOf(project, 2), before2);

    // An index past the events renders nothing new but still rebuilds clips and beds.
    size_t count = project.results.size();
    Render(project, library, 99, -1, -1, 5);
    EXPECT_EQ(project.results.size(), count);
    EXPECT_EQ(CountOf(project, clip), 1);
}

TEST(RenderPass, EndOfPassGainsFadesSortingAndTracks) {
    Project project;
    int spot = AddEvent(project, 2.0f, kShapeSpot, 0.5f);
    int fill = AddEvent(project, 0.0f, kShapeFill, 0.5f);
    int bed = AddEvent(project, 0.0f, kShapeBed, 0.5f);
    auto add = [&](int ev, float start, float dur) {
        RenderResult r;
        r.eventIdx = ev;
        r.startTime = start;
        r.duration = dur;
        r.fadeIn = 3.0f;
        r.fadeOut = 1.0f;
        r.pitchVarShift = 0.5f * ev;
        project.results.push_back(r);
        return r.id;
    };
    int32_t s0 = add(spot, 2.5f, 1.0f), s1 = add(spot, 2.2f, 1.0f), s2 = add(spot, 2.1f, 0.0f);
    int32_t f0 = add(fill, 0.0f, 4.0f), f1 = add(fill, 0.0f, 4.0f), f2 = add(fill, -0.2f, 4.0f);
    int32_t b0 = add(bed, 0.0f, 4.0f), b1 = add(bed, 0.0f, 4.0f);
    project.budgetMode = true;
    project.groups[0].trackCount = 1;
    project.groups[1].trackCount = 1;
    uint32_t revision = project.resultsRevision;

    FinishRenderPass(project);
    auto find = [&](int32_t id) -> const RenderResult& {
        for (const RenderResult& r : project.results)
            if (r.id == id) return r;
        static RenderResult none;
        ADD_FAILURE() << "no result " << id;
        return none;
    };
    // Gains by rank in the order the layers were made.
    EXPECT_FLOAT_EQ(find(s0).layerGain, 1.0f);
    EXPECT_FLOAT_EQ(find(s1).layerGain, 1.0f / 1.3f);
    EXPECT_FLOAT_EQ(find(s2).layerGain, 1.0f / 1.6f);
    EXPECT_FLOAT_EQ(find(f1).layerGain, 1.0f / 1.12f);
    EXPECT_FLOAT_EQ(find(f2).layerGain, 1.0f / 1.24f);
    // Fades: none on an empty layer, else at most 0.45 each and 0.9 together.
    EXPECT_EQ(find(s2).fadeIn, 0.0f);
    EXPECT_EQ(find(s2).fadeOut, 0.0f);
    EXPECT_NEAR(find(s0).fadeIn, 0.45f, 1e-5f);
    EXPECT_NEAR(find(s0).fadeIn + find(s0).fadeOut, 0.9f, 1e-5f);
    // Sorted by start; groups from the events; pitch taken from the variation.
    for (size_t i = 1; i < project.results.size(); ++i)
        EXPECT_LE(project.results[i - 1].startTime, project.results[i].startTime);
    EXPECT_EQ(find(s0).group, 1);
    EXPECT_EQ(find(b0).group, 0);
    EXPECT_FLOAT_EQ(find(f1).pitchShift, 0.5f * fill);

    // One track per group under the budget: a Bed is never muted for lack of
    // a track; the Fill's weaker layers are; the Spot's strongest keeps its
    // track. A layer starting before 0 still finds a free track.
    EXPECT_FALSE(find(b0).muted);
    EXPECT_FALSE(find(b1).muted);
    EXPECT_FALSE(find(f0).muted);
    EXPECT_TRUE(find(f2).muted);
    EXPECT_EQ(find(f2).groupTrack, -1);
    EXPECT_EQ(find(f2).track, -1);  // no global track either
    EXPECT_FALSE(find(s0).muted);
    EXPECT_EQ(find(s0).track, GroupFirstTrack(project.groups, 1) + find(s0).groupTrack);
    EXPECT_GE(find(b1).groupTrack, 1);
    EXPECT_EQ(project.groups[0].usedTracks, 3);

    EXPECT_TRUE(project.rendered);
    EXPECT_EQ(project.resultsRevision, revision + 1);
    EXPECT_EQ(project.publishedResultCount.load(), static_cast<int32_t>(project.results.size()));

    // Under a budget of one track, a lone layer that starts before 0 gets it.
    Project early;
    int e = AddEvent(early, 0.0f, kShapeSpot, 0.5f);
    early.budgetMode = true;
    early.groups[1].trackCount = 1;
    RenderResult r;
    r.eventIdx = e;
    r.startTime = -0.12f;
    r.duration = 1.0f;
    early.results.push_back(r);
    FinishRenderPass(early);
    EXPECT_FALSE(early.results[0].muted);
    EXPECT_EQ(early.results[0].groupTrack, 0);
}

TEST(RenderPass, TrackPackingLiftsOnlyItsOwnMutes) {
    // Six overlapping layers of one FX A event, packed without a budget: every
    // one fits, so only a mute that the budget set earlier is lifted.
    Project project;
    int e = AddEvent(project, 1.0f, kShapeSpot, 0.5f);
    for (int i = 0; i < 6; ++i) {
        RenderResult r;
        r.eventIdx = e;
        r.startTime = 1.0f + 0.01f * i;
        r.duration = 1.0f;
        project.results.push_back(r);
    }
    SetUserMuted(project.results[0], true);
    SetMuteReason(project.results[1], kMuteBan, true);
    SetMuteReason(project.results[2], kMuteSilence, true);
    SetMuteReason(project.results[3], kMuteBudget, true);
    SetMuteReason(project.results[3], kMuteSilence, true);
    SetMuteReason(project.results[4], kMuteBudget, true);
    project.results[5].muted = true;  // a bare flag counts as the designer's
    const int32_t ids[6] = {project.results[0].id, project.results[1].id, project.results[2].id,
                            project.results[3].id, project.results[4].id, project.results[5].id};
    FinishRenderPass(project);
    auto find = [&](int32_t id) -> const RenderResult& {
        for (const RenderResult& r : project.results)
            if (r.id == id) return r;
        static RenderResult none;
        ADD_FAILURE() << "no result " << id;
        return none;
    };
    const uint8_t reasons[6] = {kMuteUser, kMuteBan, kMuteSilence, kMuteSilence, 0, kMuteUser};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(find(ids[i]).muteReasons, reasons[i]) << i;
        EXPECT_EQ(find(ids[i]).muted, reasons[i] != 0) << i;
        EXPECT_GE(find(ids[i]).groupTrack, 0) << i;
    }

    // Under a budget of two tracks the weakest layers lose theirs; with room
    // again the next pass gives them back, and the user's mute still holds.
    project.budgetMode = true;
    project.groups[1].trackCount = 2;
    FinishRenderPass(project);
    int budgetMuted = 0;
    for (const RenderResult& r : project.results) {
        if (r.muteReasons & kMuteBudget) {
            ++budgetMuted;
            EXPECT_EQ(r.groupTrack, -1);
            EXPECT_EQ(r.track, -1);
        }
    }
    EXPECT_EQ(budgetMuted, 4);
    EXPECT_EQ(project.groups[1].usedTracks, 2);
    project.groups[1].trackCount = 8;
    FinishRenderPass(project);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(find(ids[i]).muteReasons, reasons[i]) << i;
        EXPECT_GE(find(ids[i]).groupTrack, 0) << i;
    }

    // A layer without a usable span gets no track and blocks none.
    RenderResult broken;
    broken.eventIdx = e;
    broken.startTime = 0.5f;
    broken.duration = std::numeric_limits<float>::infinity();
    project.results.push_back(broken);
    project.budgetMode = false;
    FinishRenderPass(project);
    for (const RenderResult& r : project.results) {
        if (r.id == broken.id) {
            EXPECT_EQ(r.groupTrack, -1);
            EXPECT_EQ(r.track, -1);
        }
    }
    EXPECT_EQ(project.groups[1].usedTracks, 6);
}

TEST(RenderPass, EmptyLibraryMakesSketchesAndDropsPinnedFilesWithANote) {
    SoundLibrary library;
    Project project;
    AddEvent(project, 1.0f, kShapeSpot, 0.5f);
    int fill = AddEvent(project, 3.0f, kShapeFill, 0.5f);
    AddEvent(project, 12.0f, kShapeScatter, 0.5f);
    project.events[0].pinnedFiles = {"/lib/pinned.wav"};
    project.events[fill].pinnedFiles = {"/lib/pinned2.wav"};
    testing::internal::CaptureStdout();
    Render(project, library);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Render]"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);

    std::set<std::string> names;
    for (const RenderResult& r : project.results) {
        names.insert(r.name);
        EXPECT_TRUE(r.placeholder);
        EXPECT_TRUE(r.filepath.empty());
    }
    EXPECT_EQ(names, (std::set<std::string>{"[Sketch] Spot", "[Sketch] Fill", "[Sketch] Scatter"}));
    for (const RenderResult& r : project.results) {
        if (r.eventIdx == fill) {
            EXPECT_FLOAT_EQ(r.sourceDuration, project.events[fill].duration);
        }
    }
}

TEST(RenderPass, SameSeedsGiveTheSameRender) {
    SoundLibrary library;
    FillLibrary(library, 400);
    auto build = [](Project& p) {
        AddEvent(p, 1.0f, kShapeSpot, 0.3f);
        AddEvent(p, 2.0f, kShapeFill, 0.5f);
        AddEvent(p, 3.0f, kShapeScatter, 0.6f);
        AddEvent(p, 5.0f, kShapeSpot, 0.8f);
        for (Event& e : p.events) {
            e.pitchVariation = 0.4f;
            e.spread = 0.7f;
        }
        CopyTextField(p.events[3].keywords, "metal +hit");
        p.events[3].hero = true;
    };
    Project a, b, c;
    build(a);
    build(b);
    build(c);
    Render(a, library, -1, -1, -1, 77);
    Render(b, library, -1, -1, -1, 77);
    Render(c, library, -1, -1, -1, 78);
    ASSERT_EQ(a.results.size(), b.results.size());
    ASSERT_GT(a.results.size(), 10u);
    bool differs = c.results.size() != a.results.size();
    for (size_t i = 0; i < a.results.size(); ++i) {
        const RenderResult& x = a.results[i];
        const RenderResult& y = b.results[i];
        EXPECT_EQ(x.filepath, y.filepath) << i;
        EXPECT_EQ(x.startTime, y.startTime) << i;
        EXPECT_EQ(x.duration, y.duration) << i;
        EXPECT_EQ(x.sourceOffset, y.sourceOffset) << i;
        EXPECT_EQ(x.pitchShift, y.pitchShift) << i;
        EXPECT_EQ(x.weight, y.weight) << i;
        EXPECT_EQ(x.track, y.track) << i;
        EXPECT_EQ(x.intGain, y.intGain) << i;
        if (!differs && (x.filepath != c.results[i].filepath || x.startTime != c.results[i].startTime))
            differs = true;
    }
    EXPECT_TRUE(differs);
}

TEST(RenderPass, UnrenderableEventsGetNoLayersAndDisturbNobody) {
    SoundLibrary library;
    FillLibrary(library, 150);
    Project clean, messy;
    AddEvent(clean, 2.0f, kShapeSpot, 0.5f);
    AddEvent(messy, 2.0f, kShapeSpot, 0.5f);
    for (float d : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity(), 200000.0f}) {
        for (int shape : {kShapeSpot, kShapeFill, kShapeScatter}) {
            int i = AddEvent(messy, 1.5f, shape, 0.9f);
            messy.events[i].duration = d;
            messy.events[i].hero = true;  // heroes reserve bands in their neighbours
        }
    }
    Render(clean, library, -1, -1, -1, 9);
    Render(messy, library, -1, -1, -1, 9);
    ASSERT_EQ(messy.results.size(), clean.results.size());
    for (size_t i = 0; i < clean.results.size(); ++i) {
        EXPECT_EQ(messy.results[i].eventIdx, 0);
        EXPECT_EQ(messy.results[i].filepath, clean.results[i].filepath);
        EXPECT_EQ(messy.results[i].startTime, clean.results[i].startTime);
    }
}

TEST(RenderPass, PinnedLayersMeetTheEventTimeAfterPitchVariation) {
    TempDir dir;
    BurstSound sound;
    sound.name = "tick";
    sound.seconds = 0.6;
    sound.bursts = {Burst{0.06, 0.3, 0.8, 1500, 0.002, 0.1}};
    SoundLibrary library;
    library.libraries.push_back(MakeBurstLibrary(dir.path(), "Ticks", {sound}));
    ASSERT_EQ(library.libraries[0].entries.size(), 1u);
    const std::string path = library.libraries[0].entries[0].path;

    int reanchored = 0;
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        Project project;
        int e = AddEvent(project, 4.0f, kShapeSpot, 0.5f);
        project.events[e].pinnedFiles = {path};
        project.events[e].pitchVariation = 0.5f;
        Render(project, library, -1, -1, -1, seed);
        const RenderResult* pinned = nullptr;
        for (const RenderResult& r : project.results)
            if (r.filepath == path && r.procMode == 2 && r.eventIdx == e && !pinned) pinned = &r;
        ASSERT_NE(pinned, nullptr);
        EXPECT_TRUE(ContainsString(project.events[e].pinnedFiles, path));
        if (pinned->audioSyncOffset > 0.12f) continue;  // window clipped at the event's start
        EXPECT_NEAR(pinned->startTime + pinned->audioSyncOffset, 4.0f, 1e-4f) << seed;
        if (pinned->pitchVarShift > 0.1f && pinned->sourceOffset == 0.0f) {
            EXPECT_GT(pinned->audioSyncOffset, 0.01f);  // the onset lies inside the sound
            ++reanchored;
        }
    }
    EXPECT_GT(reanchored, 0);
}

TEST(RenderPass, PrivateProjectsRenderSideBySide) {
    // A recipe preview renders a private project while the busy task renders
    // the document; both read the same libraries (of files that exist).
    TempDir dir;
    std::vector<BurstSound> sounds;
    for (int i = 0; i < 24; ++i) {
        BurstSound s;
        s.name = "snd" + std::to_string(i);
        s.seconds = 0.4 + 0.1 * (i % 5);
        s.bursts = {Burst{0.02 * (i % 4), 0.2, 0.7, i % 3 ? 300.0 * (i + 1) : 0.0, 0.005, 0.05}};
        sounds.push_back(s);
    }
    SoundLibrary library;
    library.libraries.push_back(MakeBurstLibrary(dir.path(), "Bursts", sounds));
    auto build = [](Project& p) {
        for (int i = 0; i < 6; ++i) AddEvent(p, 1.0f + i, i % 2 ? kShapeFill : kShapeSpot, 0.2f + 0.1f * i);
        AddEvent(p, 9.0f, kShapeScatter, 0.5f);
    };
    Project expected, a, b;
    build(expected);
    build(a);
    build(b);
    Render(expected, library, -1, -1, -1, 5);
    std::thread other([&] { Render(b, library, -1, -1, -1, 5); });
    Render(a, library, -1, -1, -1, 5);
    other.join();
    ASSERT_EQ(a.results.size(), expected.results.size());
    ASSERT_EQ(b.results.size(), expected.results.size());
    for (size_t i = 0; i < expected.results.size(); ++i) {
        EXPECT_EQ(a.results[i].filepath, expected.results[i].filepath);
        EXPECT_EQ(b.results[i].filepath, expected.results[i].filepath);
        EXPECT_EQ(b.results[i].startTime, expected.results[i].startTime);
    }
}

TEST(RenderPass, OldSinglePinPlaysItsPathAndGainsNoId) {
    TempDir dir;
    BurstSound pinnedSound, otherSound;
    pinnedSound.name = "pinned";
    pinnedSound.bursts = {Burst{0.1, 0.4, 0.8, 800, 0.002, 0.1}};
    otherSound.name = "other";
    otherSound.bursts = {Burst{0.1, 0.4, 0.8, 3000, 0.002, 0.1}};
    SoundLibrary library;
    library.libraries.push_back(MakeBurstLibrary(dir.path(), "Pins", {pinnedSound, otherSound}));
    ASSERT_EQ(library.libraries[0].entries.size(), 2u);
    LibraryEntry& other = library.libraries[0].entries[1];
    const std::string pinnedPath = library.libraries[0].entries[0].path;
    // The old pin's stored id names a different file than its path: were the
    // id carried over, it would pick that other file.
    other.fileId = FileRegistry::Instance().FileRefForPath(other.path).id;
    ASSERT_FALSE(other.fileId.empty());

    Project project;
    int e = AddEvent(project, 2.0f, kShapeSpot, 0.5f);
    Event& event = project.events[e];
    event.hasPinnedFiles = true;
    CopyTextField(event.pinnedFile, pinnedPath);
    event.pinnedFileId = other.fileId;
    Render(project, library);

    EXPECT_EQ(project.events[e].pinnedFiles, std::vector<std::string>{pinnedPath});
    EXPECT_TRUE(project.events[e].pinnedFileIds.empty());
    int pinnedLayers = 0;
    for (const RenderResult& r : project.results) {
        if (r.eventIdx != e || r.procMode != 2 || r.track != 0) continue;
        EXPECT_EQ(r.filepath, pinnedPath);
        ++pinnedLayers;
    }
    EXPECT_EQ(pinnedLayers, 1);
}
