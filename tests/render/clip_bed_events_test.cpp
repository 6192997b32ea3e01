// Clip and Bed events: results built from the pinned files, kept in step with
// the event, and no file access when nothing changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "render/clip_bed_events.h"
#include "render/post_passes.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

std::string WriteSound(const TempDir& dir, const std::string& name, double seconds, int channels = 1) {
    AudioSpec spec;
    spec.seconds = seconds;
    spec.channels = channels;
    EXPECT_TRUE(WriteTestAudio(dir.File(name), spec));
    return dir.File(name);
}

int AddClip(Project& p, float time, const std::string& path) {
    int e = AddEvent(p, time, kShapeClip, 0.5f);
    CopyTextField(p.events[e].pinnedFile, path);
    return e;
}

int AddBed(Project& p, float time, float duration, const std::vector<std::string>& files) {
    int e = AddEvent(p, time, kShapeBed, 0.5f);
    p.events[e].duration = duration;
    p.events[e].pinnedFiles = files;
    return e;
}

std::vector<int> ResultsOf(const Project& p, int e) {
    std::vector<int> out;
    for (size_t i = 0; i < p.results.size(); ++i) {
        if (p.results[i].eventIdx == e) out.push_back(static_cast<int>(i));
    }
    return out;
}

}  // namespace

TEST(RebuildClipEvent, LengthFollowsRegionAndProjectEndWithAutomaticFades) {
    TempDir dir;
    Project p;
    p.totalDuration = 10.0f;
    int e = AddClip(p, 1.0f, WriteSound(dir, "five.wav", 5.0, 2));
    p.events[e].clipSourceOffset = 2.0f;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    ASSERT_EQ(p.results.size(), 1u);
    EXPECT_NEAR(p.results[0].duration, 3.0f, 1e-5);
    EXPECT_NEAR(p.results[0].sourceDuration, 3.0f, 1e-5);
    EXPECT_FLOAT_EQ(p.results[0].sourceOffset, 2.0f);
    EXPECT_TRUE(p.results[0].stereo);
    EXPECT_EQ(p.results[0].name, "five.wav");

    // The event's intensity (times its trace gain) over the clip's own length:
    // a 1 s clip in a 2 s event ends halfway up a rising ramp.
    p.events[e].clipSourceDuration = 1.0f;
    p.events[e].duration = 2.0f;
    for (int i = 0; i < 256; ++i) p.events[e].intensity[i] = i / 255.0f;
    p.events[e].intensityScale = 0.8f;
    p.events[e].hasTraceGain = true;
    p.events[e].traceGain.fill(0.5f);
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_NEAR(p.results[0].duration, 1.0f, 1e-5);
    ASSERT_TRUE(p.results[0].hasIntGain);
    EXPECT_NEAR(p.results[0].intGain[0], 0.0f, 1e-6);
    EXPECT_NEAR(p.results[0].intGain[255], 0.5f * 0.8f * 0.5f, 1e-5);

    p.events[e].clipSourceDuration = 0;
    p.events[e].time = 9.5f;
    p.events[e].syncOffset = 0.5f;  // starts one second before the end
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_FLOAT_EQ(p.results[0].startTime, 9.0f);
    EXPECT_NEAR(p.results[0].sourceDuration, 1.0f, 1e-5);
    EXPECT_EQ(p.results.size(), 1u);

    int shortClip = AddClip(p, 0.0f, WriteSound(dir, "short.wav", 0.3));
    ASSERT_TRUE(RebuildClipEvent(p, shortClip));
    EXPECT_NEAR(p.results[1].fadeIn, 0.006f, 1e-6);
    EXPECT_NEAR(p.results[1].fadeOut, 0.015f, 1e-6);
}

TEST(RebuildClipEvent, MissingFileBecomesPlaceholderAndWrongInputIsRefused) {
    TempDir dir;
    Project p;
    int spot = AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    int empty = AddEvent(p, 0.0f, kShapeClip, 0.5f);
    EXPECT_FALSE(RebuildClipEvent(p, spot));
    EXPECT_FALSE(RebuildClipEvent(p, empty));
    EXPECT_FALSE(RebuildClipEvent(p, 99));
    EXPECT_TRUE(p.results.empty());

    int e = AddClip(p, 2.0f, dir.File("gone.wav"));
    p.events[e].duration = 2.5f;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    const RenderResult& r = p.results[0];
    EXPECT_EQ(r.name, "[Missing] gone.wav");
    EXPECT_TRUE(r.placeholder);
    EXPECT_FLOAT_EQ(r.duration, 2.5f);
    EXPECT_FLOAT_EQ(r.fadeIn, 0.01f);
    EXPECT_FLOAT_EQ(r.fadeOut, 0.05f);
}

TEST(RebuildClipEvent, FreshRecordKeepsOnlyVolumeMuteAndGain) {
    TempDir dir;
    Project p;
    int e = AddClip(p, 0.5f, WriteSound(dir, "hit.wav", 1.0));
    RenderResult old;
    old.eventIdx = e;
    old.userVolume = 0.4f;
    old.layerGain = 0.7f;
    old.hasDeconGain = true;
    old.variations.resize(2);
    SetUserMuted(old, true);
    SetMuteReason(old, kMuteBudget, true);
    p.results.push_back(old);

    ASSERT_TRUE(RebuildClipEvent(p, e));
    ASSERT_EQ(p.results.size(), 1u);
    const RenderResult& r = p.results[0];
    EXPECT_NE(r.id, old.id);
    EXPECT_FLOAT_EQ(r.userVolume, 0.4f);
    EXPECT_FLOAT_EQ(r.layerGain, 0.7f);
    EXPECT_EQ(r.muteReasons, kMuteUser);  // the budget's reason went with the new placement
    EXPECT_TRUE(r.muted);
    EXPECT_FALSE(r.hasDeconGain);
    EXPECT_TRUE(r.variations.empty());

    // A bare muted flag (as loaded from a file) counts as the designer's.
    p.results[0].muteReasons = 0;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_EQ(p.results[0].muteReasons, kMuteUser);

    // Probed weights reach the result only once the probe has measured one,
    // and only a weight that moves counts as a change.
    p.results[0].weight = 0.25f;
    EXPECT_FALSE(ApplyProbedWeights(p));
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.25f);
    p.events[e].clipWeight = 0.8f;
    const uint32_t revision = p.resultsRevision;
    EXPECT_TRUE(ApplyProbedWeights(p));
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.8f);
    EXPECT_GT(p.resultsRevision, revision);
    EXPECT_FALSE(ApplyProbedWeights(p));
}

TEST(RebuildBedEvent, LayerLengthAndFadesFollowFrameAndSceneCrossfade) {
    TempDir dir;
    Project p;
    p.fps = 24;
    int e = AddBed(p, 3.0f, 4.0f, {WriteSound(dir, "rain.wav", 2.0, 2), WriteSound(dir, "wind.wav", 2.0)});
    p.events[e].bedLayerWeight = {0.3f};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(p.results.size(), 2u);
    EXPECT_FLOAT_EQ(p.events[e].bedLayerWeight[1], -1.0f);
    for (const RenderResult& r : p.results) {
        EXPECT_NEAR(r.duration, 4.0f + 1.0f / 24, 1e-5);
        EXPECT_NEAR(r.fadeIn, 1.0f / 24, 1e-6);
        EXPECT_NEAR(r.fadeOut, 1.0f / 24, 1e-6);
        EXPECT_FLOAT_EQ(r.startTime, 3.0f);
    }
    EXPECT_TRUE(p.results[0].stereo);
    EXPECT_FALSE(p.results[1].stereo);
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.3f);
    EXPECT_FLOAT_EQ(p.results[1].weight, 0.5f);

    p.events[e].sceneLink = 0;
    p.events[e].sceneCrossfade = 12;
    p.results[0].fillChunks.push_back({1, 2, 3});
    ASSERT_TRUE(RebuildBedEvent(p, e));
    EXPECT_NEAR(p.results[0].duration, 4.5f, 1e-5);
    EXPECT_NEAR(p.results[0].fadeIn, 0.5f, 1e-6);
    EXPECT_TRUE(p.results[0].fillChunks.empty());  // a new length is resynthesised
}

TEST(RebuildBedEvent, LayersMapOneToOneAndAnUnchangedBedOpensNothing) {
    TempDir dir;
    std::string a = WriteSound(dir, "a.wav", 1.0), b = WriteSound(dir, "b.wav", 1.0);
    std::string c = WriteSound(dir, "c.wav", 1.0), d = WriteSound(dir, "d.wav", 1.0);
    Project p;
    int e = AddBed(p, 0.0f, 5.0f, {a, b, c});
    ASSERT_TRUE(RebuildBedEvent(p, e));
    RenderResult between;  // another event's layer between the Bed's
    between.eventIdx = AddEvent(p, 1.0f, kShapeSpot, 0.5f);
    between.group = 1;
    p.results.push_back(between);
    const int idA = p.results[0].id, idB = p.results[1].id, idC = p.results[2].id;

    p.events[e].pinnedFiles.push_back(d);
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(ResultsOf(p, e).size(), 4u);
    const int idD = p.results[4].id;

    p.events[e].pinnedFiles = {a, c, d};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(ResultsOf(p, e).size(), 3u);
    for (const RenderResult& r : p.results) EXPECT_NE(r.id, idB);

    p.events[e].pinnedFiles = {d, c, a};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    std::vector<int> own = ResultsOf(p, e);
    ASSERT_EQ(own.size(), 3u);
    EXPECT_EQ(p.results[own[0]].id, idD);
    EXPECT_EQ(p.results[own[1]].id, idC);
    EXPECT_EQ(p.results[own[2]].id, idA);
    EXPECT_EQ(p.results[2].id, between.id);  // other events' results keep their slots

    // A gap after the Bed: the silence pass must leave its crossfade tail as
    // the Bed rebuild wants it, or every render would be followed by a change.
    AddEvent(p, 20.0f, kShapeSpot, 0.5f);
    ProtectSilencePass(p);
    const int64_t opens = ClipBedFileOpenCount();
    const uint32_t revision = p.resultsRevision;
    EXPECT_FALSE(RebuildBedEvent(p, e));
    EXPECT_EQ(ClipBedFileOpenCount(), opens);
    EXPECT_EQ(p.resultsRevision, revision);
}

// Every Bed at once, as the frame checks them: the same results as one call
// per Bed, also when an earlier Bed's change moves the later Beds' layers.
TEST(RebuildBedEvent, AllBedsAtOnceMatchOneCallPerBed) {
    TempDir dir;
    std::string a = WriteSound(dir, "a.wav", 1.0), b = WriteSound(dir, "b.wav", 1.0);
    std::string c = WriteSound(dir, "c.wav", 1.0);
    auto build = [&](Project& p) {
        AddBed(p, 0.0f, 4.0f, {a, b});
        AddEvent(p, 1.0f, kShapeSpot, 0.5f);
        AddBed(p, 5.0f, 3.0f, {c, a});
        AddBed(p, 9.0f, 2.0f, {b});
    };
    auto edit = [&](Project& p) {
        p.events[0].pinnedFiles = {b};      // erases a layer before the others' results
        p.events[2].pinnedFiles = {a, c};   // reorders
        p.events[3].duration = 2.5f;        // lengthens
    };
    auto layers = [](const Project& p) {
        std::vector<std::string> out;
        for (const RenderResult& r : p.results)
            out.push_back(std::to_string(r.eventIdx) + ":" + r.name + ":" + std::to_string(r.duration));
        return out;
    };

    Project once, each;
    build(once);
    build(each);
    EXPECT_TRUE(RebuildBedEvents(once));
    for (int e : {0, 2, 3}) RebuildBedEvent(each, e);
    EXPECT_EQ(layers(once), layers(each));
    edit(once);
    edit(each);
    EXPECT_TRUE(RebuildBedEvents(once));
    for (int e : {0, 2, 3}) RebuildBedEvent(each, e);
    EXPECT_EQ(layers(once), layers(each));
    EXPECT_EQ(ResultsOf(once, 0).size(), 1u);

    const int64_t opens = ClipBedFileOpenCount();
    EXPECT_FALSE(RebuildBedEvents(once));
    EXPECT_EQ(ClipBedFileOpenCount(), opens);
}

TEST(RebuildBedEvent, DuplicateFilesShareOneResultOwnedByTheFirstLayer) {
    TempDir dir;
    std::string a = WriteSound(dir, "a.wav", 1.0), b = WriteSound(dir, "b.wav", 1.0);
    Project p;
    int e = AddBed(p, 0.0f, 3.0f, {a, b, a});
    p.events[e].bedLayerLoop = {1, 0, 0};
    p.events[e].bedLayerWeight = {0.2f, 0.4f, 0.9f};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(p.results.size(), 2u);
    EXPECT_TRUE(p.results[0].fillLoop);
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.2f);
    EXPECT_FALSE(RebuildBedEvent(p, e));
    // A newly probed weight is a change of the Bed (its layer's gain and pan
    // move), once; the second layer of the same file does not own the result.
    p.events[e].bedLayerWeight[0] = 0.6f;
    EXPECT_TRUE(ApplyProbedWeights(p));
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.6f);
    EXPECT_FALSE(ApplyProbedWeights(p));
    p.events[e].bedLayerWeight[2] = 0.1f;
    EXPECT_FALSE(RebuildBedEvent(p, e));
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.6f);

    p.events[e].bedLayerLoop[0] = 0;  // the owner's flag does count
    p.results[0].fillChunks.push_back({0, 10, 0});
    EXPECT_TRUE(RebuildBedEvent(p, e));
    EXPECT_FALSE(p.results[0].fillLoop);
    EXPECT_TRUE(p.results[0].fillChunks.empty());
}

TEST(RebuildBedEvent, ASecondUseOfAFileKeepsTheResultOrder) {
    TempDir dir;
    std::string a = WriteSound(dir, "a.wav", 1.0), b = WriteSound(dir, "b.wav", 1.0);
    Project p;
    int e = AddBed(p, 0.0f, 3.0f, {b, a});
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(p.results.size(), 2u);
    const int32_t idB = p.results[0].id, idA = p.results[1].id;

    // Two layers name a: there is no one layer order for its result, so the
    // results stay where they are and nothing is reported.
    p.events[e].pinnedFiles = {a, b, a};
    EXPECT_FALSE(RebuildBedEvent(p, e));
    EXPECT_EQ(p.results[0].id, idB);
    EXPECT_EQ(p.results[1].id, idA);

    // A list of distinct files still puts the results in its order.
    p.events[e].pinnedFiles = {a, b};
    EXPECT_TRUE(RebuildBedEvent(p, e));
    EXPECT_EQ(p.results[0].filepath, a);
    EXPECT_EQ(p.results[1].filepath, b);
    EXPECT_FALSE(RebuildBedEvent(p, e));
}

// A Bed whose results hold a second result of one file (a stored project
// where two layers name one sound, or a byte copy of it in another folder
// that the registry knows as that sound): the first result plays it, the
// second goes as a stale one would, and the rest are put in layer order in
// the slots that remain.
TEST(RebuildBedEvent, SecondResultsOfOneFileGoAndTheRestFollowTheLayers) {
    TempDir dir;
    // A content of its own: the registry lives as long as the process.
    AudioSpec noise;
    noise.kind = SignalKind::Noise;
    noise.seed = 4177;
    noise.seconds = 1.3;
    noise.sampleRate = 22050;
    ASSERT_TRUE(WriteTestAudio(dir.File("a.wav"), noise));
    const std::string a = dir.File("a.wav"), c = WriteSound(dir, "c.wav", 0.7);
    std::filesystem::create_directories(dir.File("copy"));
    std::filesystem::copy_file(a, dir.File("copy/a.wav"));
    const std::string copy = dir.File("copy/a.wav");
    const std::string id = FileRegistry::Instance().FileRefForPath(a).id;
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(FileRegistry::Instance().FileRefForPath(copy).id, id) << "a byte copy is the same sound";

    auto layer = [](int event, const std::string& path, const std::string& fileId, float start) {
        RenderResult r;
        r.eventIdx = event;
        r.procMode = 1;
        r.filepath = path;
        r.fileId = fileId;
        r.startTime = start;
        return r;
    };
    struct Case {
        const char* what;
        std::vector<std::string> files, ids;
        std::vector<std::string> stored;  // the results' files, in results order
    };
    const std::vector<Case> cases = {
        {"one path twice", {a, a}, {"", ""}, {a, a}},
        {"a byte copy, one layer each", {a, copy}, {id, id}, {a, copy}},
        {"a second result among others, out of layer order", {a, c}, {id, ""}, {c, a, copy}},
        {"a file named twice, three results", {c, a, a}, {"", id, id}, {a, copy, c}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Project p;
        p.fps = 25;
        const int e = AddBed(p, 2.0f, 4.0f, k.files);
        p.events[size_t(e)].pinnedFileIds = k.ids;
        const int spot = AddEvent(p, 1.0f, kShapeSpot, 0.5f);
        p.results.push_back(layer(spot, "", "", 1.0f));  // another event's layer among the Bed's
        for (const std::string& f : k.stored) p.results.push_back(layer(e, f, f == c ? "" : id, 2.0f));
        const int32_t firstId = p.results[1].id;
        EXPECT_FALSE(BedsHoldTheirLayers(p));
        ASSERT_TRUE(RebuildBedEvent(p, e));

        // One result per distinct file, in layer order, after the other event's.
        std::vector<std::string> distinct;
        for (const std::string& f : k.files)
            if (std::find(distinct.begin(), distinct.end(), f) == distinct.end() &&
                !(f == copy && std::find(distinct.begin(), distinct.end(), a) != distinct.end()))
                distinct.push_back(f);
        const std::vector<int> own = ResultsOf(p, e);
        ASSERT_EQ(own.size(), distinct.size());
        EXPECT_EQ(p.results[0].eventIdx, spot);
        if (k.stored.front() == distinct.front()) {
            EXPECT_EQ(p.results[size_t(own[0])].id, firstId);
        }
        if (k.files.size() == distinct.size()) {
            for (size_t j = 0; j < own.size(); ++j) {
                EXPECT_EQ(p.results[size_t(own[j])].filepath, distinct[j]);
            }
        }
        // Settled: the frame's question agrees, and nothing changes again.
        EXPECT_TRUE(BedsHoldTheirLayers(p));
        EXPECT_FALSE(RebuildBedEvent(p, e));
        EXPECT_FALSE(RebuildBedEvents(p));
    }
}

TEST(RebuildBedEvent, SilenceProtectionLeavesTheTailTheRebuildWouldRestore) {
    TempDir dir;
    std::string bedFile = WriteSound(dir, "bed.wav", 1.0);
    Project p;
    p.fps = 24;
    int bed = AddBed(p, 0.0f, 3.0f, {bedFile});
    p.events[bed].syncOffset = 0;
    int spot = AddEvent(p, 1.0f, kShapeSpot, 0.5f);
    int later = AddEvent(p, 6.0f, kShapeSpot, 0.5f);
    for (int e : {spot, later}) {
        p.events[e].syncOffset = 0;
        p.events[e].duration = 1.0f;
    }
    ASSERT_TRUE(RebuildBedEvent(p, bed));
    ASSERT_EQ(p.results.size(), 1u);
    const float layerDur = 3.0f + 1.0f / 24.0f;  // one crossfade past the event
    RenderResult ringing;
    ringing.eventIdx = spot;
    ringing.startTime = 1.0f;
    ringing.duration = 3.0f;  // rings on into the gap that starts at 3 s
    ringing.fadeOut = 0.5f;
    p.results.push_back(ringing);
    p.results[0].fillChunks.push_back({0, 10, 0});  // a resynthesis already made

    ProtectSilencePass(p);
    const RenderResult* bedLayer = nullptr;
    const RenderResult* cut = nullptr;
    for (const RenderResult& r : p.results) (r.eventIdx == bed ? bedLayer : cut) = &r;
    ASSERT_TRUE(bedLayer && cut);
    EXPECT_FLOAT_EQ(cut->duration, 2.0f);  // other layers stop at the gap
    EXPECT_NEAR(bedLayer->duration, layerDur, 1e-5f);
    EXPECT_EQ(bedLayer->fillChunks.size(), 1u);
    EXPECT_FALSE(RebuildBedEvent(p, bed));

    // Were the Bed layer cut at the gap like the others, its next rebuild
    // (every render pass and every edit of the Bed) would restore the length
    // at once, throw away the resynthesis and report a change.
    for (RenderResult& r : p.results)
        if (r.eventIdx == bed) r.duration = 3.0f;
    EXPECT_TRUE(RebuildBedEvent(p, bed));
    for (const RenderResult& r : p.results) {
        if (r.eventIdx != bed) continue;
        EXPECT_NEAR(r.duration, layerDur, 1e-5f);
        EXPECT_TRUE(r.fillChunks.empty());
    }
}

// The frame's question asks what the rebuild would do, and changes nothing:
// every kind of change a Bed can have is seen, a Bed in line with its layers
// (or without any) is not, and neither is a Clip whose results carry its
// weight.
TEST(RebuildBedEvent, TheFramesQuestionSeesWhatTheRebuildWouldChange) {
    TempDir dir;
    Project p;
    p.fps = 25;
    const std::string a = WriteSound(dir, "a.wav", 1.0), b = WriteSound(dir, "b.wav", 1.0);
    AddBed(p, 0.0f, 2.0f, {});  // no layers: nothing to hold
    const int bed = AddBed(p, 3.0f, 4.0f, {a, b});
    const int clip = AddClip(p, 1.0f, a);
    ASSERT_TRUE(RebuildClipEvent(p, clip));
    const size_t before = p.results.size();
    EXPECT_FALSE(BedsHoldTheirLayers(p)) << "the layers have no results yet";
    EXPECT_EQ(p.results.size(), before) << "the question changed nothing";
    ASSERT_TRUE(RebuildBedEvents(p));
    EXPECT_TRUE(BedsHoldTheirLayers(p));
    EXPECT_TRUE(ProbedWeightsApplied(p));

    const Project kept = p;
    auto changed = [&](const char* what, auto&& change) {
        p = kept;
        change(p.events[size_t(bed)]);
        EXPECT_FALSE(BedsHoldTheirLayers(p)) << what;
        EXPECT_FALSE(ProbedWeightsApplied(p)) << what;
        EXPECT_TRUE(RebuildBedEvents(p)) << what;
        EXPECT_TRUE(BedsHoldTheirLayers(p)) << what << ": held once rebuilt";
    };
    changed("moved", [](Event& e) { e.time += 0.5f; });
    changed("lengthened", [](Event& e) { e.duration += 1.0f; });
    changed("a weight", [](Event& e) { e.bedLayerWeight[1] = 0.8f; });
    changed("a loop", [](Event& e) { e.bedLayerLoop[0] = 1; });
    changed("a layer gone", [](Event& e) {
        e.pinnedFiles.pop_back();
        e.pinnedFileIds.pop_back();
        e.bedLayerLoop.pop_back();
        e.bedLayerWeight.pop_back();
    });
    changed("the layers swapped", [](Event& e) {
        std::swap(e.pinnedFiles[0], e.pinnedFiles[1]);
        std::swap(e.pinnedFileIds[0], e.pinnedFileIds[1]);
    });
    changed("a scene crossfade", [](Event& e) {
        e.sceneLink = 0;
        e.sceneCrossfade = 3;
    });

    // A Clip's probed weight not yet in its result.
    p = kept;
    p.events[size_t(clip)].clipWeight = 0.7f;
    EXPECT_TRUE(BedsHoldTheirLayers(p));
    EXPECT_FALSE(ProbedWeightsApplied(p));
    EXPECT_TRUE(ApplyProbedWeights(p));
    EXPECT_TRUE(ProbedWeightsApplied(p));
}

// Beds rebuilt from their noted results alone, through random edits of one or
// two Beds (lengths, moves, layers reordered, added, dropped or swapped) among
// Spot layers, give what reading every Bed gives a copy: results field for
// field, revision, `rendered`, reported changes; the noted results follow.
TEST(RebuildBedEvent, ListedBedsFromTheirNotedResultsMatchEveryBedRead) {
    TempDir dir;
    const std::vector<std::string> files = {WriteSound(dir, "rain.wav", 2.37, 2), WriteSound(dir, "wind.wav", 1.13),
                                            WriteSound(dir, "hum.wav", 0.71), WriteSound(dir, "room.wav", 3.05, 2)};
    std::mt19937 random(7);
    Project narrow;
    narrow.totalDuration = 120;
    for (int b = 0; b < 12; ++b) {
        AddBed(narrow, 8.0f * float(b), 6.0f + float(b % 3), {files[random() % 4], files[random() % 4]});
        RenderResult spot;
        spot.eventIdx = AddEvent(narrow, 8.0f * float(b) + 1.0f, kShapeSpot, 0.5f);
        spot.startTime = 8.0f * float(b) + 1.0f;
        spot.duration = 1.5f;
        narrow.results.push_back(spot);
        RebuildBedEvents(narrow);
    }
    AssignTracks(narrow);
    std::vector<std::vector<int>> own = BedResults(narrow);
    Project whole = narrow;
    int moving = 0, repacked = 0;  // steps that made or erased layers; that repacked from the Beds
    for (int step = 0; step < 40; ++step) {
        std::vector<int> listed = {2 * int(random() % 12), 2 * int(random() % 12)};
        listed.resize(size_t(1 + step % 2));
        const unsigned action = random() % 5;
        for (Project* p : {&narrow, &whole}) {
            for (int bed : listed) {
                Event& ev = p->events[size_t(bed)];
                if (action == 0) ev.duration = std::max(1.0f, ev.duration + (step % 3 ? 0.5f : -0.75f));
                if (action == 1) ev.time += step % 2 ? 1.25f : -0.5f;
                if (action == 2) std::reverse(ev.pinnedFiles.begin(), ev.pinnedFiles.end());
                if (action == 3 && step % 4) ev.pinnedFiles.push_back(files[size_t(step) % 4]);
                if (action == 3 && step % 4 == 0 && ev.pinnedFiles.size() > 1) ev.pinnedFiles.pop_back();
                if (action == 4) ev.pinnedFiles.front() = files[size_t(step + 1) % 4];
            }
        }
        std::sort(listed.begin(), listed.end());
        listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
        const int32_t mark = NextRenderResultId();
        const size_t countBefore = narrow.results.size();
        KeepTrackMemo(narrow);
        KeepTrackMemo(whole);
        BedChanges fromNoted, fromAll;
        ASSERT_EQ(RebuildListedBedEvents(narrow, listed, own, nullptr, &fromNoted),
                  RebuildBedEvents(whole, nullptr, &fromAll));
        moving += narrow.results.size() != countBefore ? 1 : 0;
        repacked += !fromNoted.events.empty() && !fromNoted.tracks.whole ? 1 : 0;
        EXPECT_EQ(fromNoted.events, fromAll.events);
        EXPECT_EQ(fromNoted.results, fromAll.results);
        EXPECT_EQ(fromNoted.tracks.placed, fromAll.tracks.placed);
        EXPECT_EQ(fromNoted.tracks.whole, fromAll.tracks.whole);
        EXPECT_TRUE(narrow.resultsRevision == whole.resultsRevision && narrow.rendered.load() == whole.rendered.load());
        EXPECT_EQ(own, BedResults(narrow)) << "step " << step;
        EXPECT_EQ(DifferingResults(narrow, whole, mark), 0) << "step " << step;
    }
    EXPECT_GT(moving, 0) << "no step made or erased a layer: the scan after it is not shown";
    EXPECT_GT(repacked, 0) << "no step repacked from the Beds alone";
}
