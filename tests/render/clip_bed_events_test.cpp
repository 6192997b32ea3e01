// Clip and Bed events: results built from the pinned files, kept in step with
// the event, and no file access when nothing changed.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "render/clip_bed_events.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

std::string WriteSound(const TempDir& dir, const std::string& name, double seconds, int channels = 1) {
    AudioSpec spec;
    spec.seconds = seconds;
    spec.channels = channels;
    std::string path = dir.File(name);
    EXPECT_TRUE(WriteTestAudio(path, spec));
    return path;
}

int AddClip(Project& p, float time, const std::string& path) {
    int e = AddEvent(p, time, kShapeClip, 0.5f);
    p.events[e].syncOffset = 0;
    CopyTextField(p.events[e].pinnedFile, path);
    return e;
}

int AddBed(Project& p, float time, float duration, const std::vector<std::string>& files) {
    int e = AddEvent(p, time, kShapeBed, 0.5f);
    p.events[e].duration = duration;
    p.events[e].syncOffset = 0;
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

TEST(RebuildClipEvent, LengthFollowsFileRegionAndProjectEnd) {
    TempDir dir;
    std::string five = WriteSound(dir, "five.wav", 5.0, 2);
    Project p;
    p.totalDuration = 10.0f;
    int e = AddClip(p, 1.0f, five);
    p.events[e].clipSourceOffset = 2.0f;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    ASSERT_EQ(p.results.size(), 1u);
    const RenderResult& r = p.results[0];
    EXPECT_NEAR(r.duration, 3.0f, 1e-5);
    EXPECT_NEAR(r.sourceDuration, 3.0f, 1e-5);
    EXPECT_FLOAT_EQ(r.sourceOffset, 2.0f);
    EXPECT_FLOAT_EQ(r.startTime, 1.0f);
    EXPECT_EQ(r.procMode, 2);
    EXPECT_TRUE(r.stereo);
    EXPECT_EQ(r.name, "five.wav");
    EXPECT_FALSE(r.placeholder);

    p.events[e].clipSourceDuration = 1.0f;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_NEAR(p.results[0].duration, 1.0f, 1e-5);

    p.events[e].clipSourceDuration = 0;
    p.events[e].time = 9.5f;
    p.events[e].syncOffset = 0.5f;  // starts at 9 s, one second before the end
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_FLOAT_EQ(p.results[0].startTime, 9.0f);
    EXPECT_NEAR(p.results[0].duration, 1.0f, 1e-5);
    EXPECT_NEAR(p.results[0].sourceDuration, 1.0f, 1e-5);
    EXPECT_EQ(p.results.size(), 1u);
}

TEST(RebuildClipEvent, AutomaticAndExplicitFadesAndIntensity) {
    TempDir dir;
    std::string shortFile = WriteSound(dir, "short.wav", 0.3);
    Project p;
    int e = AddClip(p, 0.0f, shortFile);
    p.events[e].duration = 0.6f;
    p.events[e].stereo = false;
    for (int i = 0; i < 256; ++i) p.events[e].intensity[i] = i / 255.0f;
    p.events[e].intensityScale = 0.8f;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_NEAR(p.results[0].fadeIn, 0.006f, 1e-6);
    EXPECT_NEAR(p.results[0].fadeOut, 0.015f, 1e-6);
    EXPECT_FALSE(p.results[0].stereo);
    // The clip covers half the event: its last gain point reads the curve at 0.5.
    ASSERT_TRUE(p.results[0].hasIntGain);
    EXPECT_NEAR(p.results[0].intGain[0], 0.0f, 1e-6);
    EXPECT_NEAR(p.results[0].intGain[255], 0.5f * 0.8f, 1e-3);

    p.events[e].clipFadeIn = 0.1f;
    p.events[e].clipFadeOut = 0.0f;
    p.events[e].stereo = true;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_FLOAT_EQ(p.results[0].fadeIn, 0.1f);
    EXPECT_FLOAT_EQ(p.results[0].fadeOut, 0.0f);
    EXPECT_TRUE(p.results[0].stereo);
}

TEST(RebuildClipEvent, MissingFileBecomesPlaceholderOfEventLength) {
    TempDir dir;
    Project p;
    int e = AddClip(p, 2.0f, dir.File("gone.wav"));
    p.events[e].duration = 2.5f;
    p.events[e].clipWeight = 0.8f;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    const RenderResult& r = p.results[0];
    EXPECT_EQ(r.name, "[Missing] gone.wav");
    EXPECT_TRUE(r.placeholder);
    EXPECT_FLOAT_EQ(r.duration, 2.5f);
    EXPECT_FLOAT_EQ(r.sourceOffset, 0.0f);
    EXPECT_FLOAT_EQ(r.fadeIn, 0.01f);
    EXPECT_FLOAT_EQ(r.fadeOut, 0.05f);
    EXPECT_FLOAT_EQ(r.weight, 0.8f);
    EXPECT_TRUE(p.rendered);
}

TEST(RebuildClipEvent, FreshRecordKeepsOnlyVolumeMuteAndGain) {
    TempDir dir;
    std::string file = WriteSound(dir, "hit.wav", 1.0);
    Project p;
    int spot = AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    RenderResult other;
    other.eventIdx = spot;
    other.group = 1;
    other.duration = 1.0f;
    p.results.push_back(other);
    int e = AddClip(p, 0.5f, file);
    RenderResult old;
    old.eventIdx = e;
    old.userVolume = 0.4f;
    old.layerGain = 0.7f;
    old.hasDeconGain = true;
    old.deconOffset = 0.02f;
    old.variations.resize(2);
    SetUserMuted(old, true);
    p.results.push_back(old);
    const uint32_t revision = p.resultsRevision;

    ASSERT_TRUE(RebuildClipEvent(p, e));
    ASSERT_EQ(p.results.size(), 2u);
    const RenderResult& r = p.results[1];
    EXPECT_NE(r.id, old.id);
    EXPECT_FLOAT_EQ(r.userVolume, 0.4f);
    EXPECT_FLOAT_EQ(r.layerGain, 0.7f);
    EXPECT_TRUE(r.muted);
    EXPECT_EQ(r.muteReasons, kMuteUser);
    EXPECT_FALSE(r.hasDeconGain);
    EXPECT_FLOAT_EQ(r.deconOffset, 0.0f);
    EXPECT_TRUE(r.variations.empty());
    EXPECT_EQ(p.resultsRevision, revision + 1);
    EXPECT_EQ(r.track, 1);  // the track assignment ran ("FX A" starts the layout)
    EXPECT_EQ(p.results[0].groupTrack, 0);
    EXPECT_EQ(r.groupTrack, 1);

    // A bare muted flag (as loaded from a file) counts as the designer's.
    p.results[1].muteReasons = 0;
    p.results[1].muted = true;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_EQ(p.results[1].muteReasons, kMuteUser);
}

TEST(RebuildClipEvent, RejectsWrongInputAndFollowsMovedFiles) {
    TempDir dir;
    std::string moved = WriteSound(dir, "moved.wav", 1.0);
    Project p;
    int spot = AddEvent(p, 0.0f, kShapeSpot, 0.5f);
    int empty = AddEvent(p, 0.0f, kShapeClip, 0.5f);
    EXPECT_FALSE(RebuildClipEvent(p, spot));
    EXPECT_FALSE(RebuildClipEvent(p, empty));
    EXPECT_FALSE(RebuildClipEvent(p, -1));
    EXPECT_FALSE(RebuildClipEvent(p, 99));
    EXPECT_TRUE(p.results.empty());

    FileRef ref;
    ref.id = "c11b0e0000000001";
    ref.path = moved;
    FileRegistry::Instance().RegisterFileRef(ref);
    int e = AddClip(p, 0.0f, dir.File("old_place.wav"));
    p.events[e].pinnedFileId = ref.id;
    ASSERT_TRUE(RebuildClipEvent(p, e));
    EXPECT_EQ(std::string(p.events[e].pinnedFile), moved);
    EXPECT_FALSE(p.results[0].placeholder);
    EXPECT_EQ(p.results[0].fileId, ref.id);
}

TEST(RebuildBedEvent, LayerLengthAndFadesFollowFrameAndSceneCrossfade) {
    TempDir dir;
    std::string a = WriteSound(dir, "rain.wav", 2.0, 2);
    std::string b = WriteSound(dir, "wind.wav", 2.0);
    Project p;
    p.fps = 24;
    int e = AddBed(p, 3.0f, 4.0f, {a, b});
    p.events[e].bedLayerWeight = {0.3f};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    EXPECT_EQ(p.events[e].bedLayerWeight.size(), 2u);
    EXPECT_FLOAT_EQ(p.events[e].bedLayerWeight[1], -1.0f);
    EXPECT_TRUE(p.events[e].hasPinnedFiles);
    ASSERT_EQ(p.results.size(), 2u);
    for (const RenderResult& r : p.results) {
        EXPECT_NEAR(r.duration, 4.0f + 1.0f / 24, 1e-5);
        EXPECT_NEAR(r.fadeIn, 1.0f / 24, 1e-6);
        EXPECT_NEAR(r.fadeOut, 1.0f / 24, 1e-6);
        EXPECT_FLOAT_EQ(r.startTime, 3.0f);
        EXPECT_EQ(r.procMode, 1);
    }
    EXPECT_TRUE(p.results[0].stereo);
    EXPECT_FALSE(p.results[1].stereo);
    EXPECT_FLOAT_EQ(p.results[0].weight, 0.3f);
    EXPECT_FLOAT_EQ(p.results[1].weight, 0.5f);
    EXPECT_EQ(p.results[1].name, "wind.wav");

    p.events[e].sceneLink = 0;
    p.events[e].sceneCrossfade = 12;
    p.results[0].fillChunks.push_back({1, 2, 3});
    ASSERT_TRUE(RebuildBedEvent(p, e));
    EXPECT_NEAR(p.results[0].duration, 4.5f, 1e-5);
    EXPECT_NEAR(p.results[0].fadeIn, 0.5f, 1e-6);
    EXPECT_TRUE(p.results[0].fillChunks.empty());  // a new length is resynthesised
}

TEST(RebuildBedEvent, LayersMapOneToOneOntoResults) {
    TempDir dir;
    std::string a = WriteSound(dir, "a.wav", 1.0), b = WriteSound(dir, "b.wav", 1.0);
    std::string c = WriteSound(dir, "c.wav", 1.0), d = WriteSound(dir, "d.wav", 1.0);
    Project p;
    int e = AddBed(p, 0.0f, 5.0f, {a, b, c});
    ASSERT_TRUE(RebuildBedEvent(p, e));
    int spot = AddEvent(p, 1.0f, kShapeSpot, 0.5f);
    RenderResult between;
    between.eventIdx = spot;
    between.group = 1;
    between.duration = 1.0f;
    p.results.push_back(between);
    const int idA = p.results[0].id, idB = p.results[1].id, idC = p.results[2].id;

    p.events[e].pinnedFiles.push_back(d);
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(ResultsOf(p, e).size(), 4u);
    EXPECT_EQ(p.results[4].filepath, d);
    const int idD = p.results[4].id;

    p.events[e].pinnedFiles = {a, c, d};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    std::vector<int> own = ResultsOf(p, e);
    ASSERT_EQ(own.size(), 3u);
    for (const RenderResult& r : p.results) EXPECT_NE(r.id, idB);

    p.events[e].pinnedFiles = {d, c, a};
    ASSERT_TRUE(RebuildBedEvent(p, e));
    own = ResultsOf(p, e);
    ASSERT_EQ(own.size(), 3u);
    EXPECT_EQ(p.results[own[0]].id, idD);
    EXPECT_EQ(p.results[own[1]].id, idC);
    EXPECT_EQ(p.results[own[2]].id, idA);
    EXPECT_EQ(p.results[2].id, between.id);  // other events' results keep their slots

    const int64_t opens = ClipBedFileOpenCount();
    const uint32_t revision = p.resultsRevision;
    EXPECT_FALSE(RebuildBedEvent(p, e));
    EXPECT_EQ(ClipBedFileOpenCount(), opens);
    EXPECT_EQ(p.resultsRevision, revision);
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
    const int64_t opens = ClipBedFileOpenCount();
    EXPECT_FALSE(RebuildBedEvent(p, e));
    EXPECT_FALSE(RebuildBedEvent(p, e));
    EXPECT_EQ(ClipBedFileOpenCount(), opens);

    p.events[e].bedLayerLoop[0] = 0;  // the owner's flag does count
    p.results[0].fillChunks.push_back({0, 10, 0});
    EXPECT_TRUE(RebuildBedEvent(p, e));
    EXPECT_FALSE(p.results[0].fillLoop);
    EXPECT_TRUE(p.results[0].fillChunks.empty());
}

TEST(RebuildBedEvent, MissingLayerFileStillGetsAResultAndWrongInputIsRefused) {
    TempDir dir;
    Project p;
    int clip = AddClip(p, 0.0f, dir.File("x.wav"));
    EXPECT_FALSE(RebuildBedEvent(p, clip));
    EXPECT_FALSE(RebuildBedEvent(p, 5));
    int e = AddBed(p, 1.0f, 2.0f, {dir.File("nowhere.wav")});
    ASSERT_TRUE(RebuildBedEvent(p, e));
    ASSERT_EQ(p.results.size(), 1u);
    EXPECT_FALSE(p.results[0].stereo);
    EXPECT_EQ(p.results[0].name, "nowhere.wav");

    p.events[e].pinnedFiles.clear();
    ASSERT_TRUE(RebuildBedEvent(p, e));
    EXPECT_TRUE(p.results.empty());
    EXPECT_FALSE(p.rendered);
    EXPECT_FALSE(p.events[e].hasPinnedFiles);
}

TEST(ApplyProbedWeights, CopiesKnownWeightsOnly) {
    TempDir dir;
    std::string file = WriteSound(dir, "tone.wav", 1.0);
    Project p;
    int clip = AddClip(p, 0.0f, file);
    int bed = AddBed(p, 0.0f, 2.0f, {file});
    ASSERT_TRUE(RebuildClipEvent(p, clip));
    ASSERT_TRUE(RebuildBedEvent(p, bed));
    p.results[ResultsOf(p, clip)[0]].weight = 0.33f;

    ApplyProbedWeights(p);
    EXPECT_FLOAT_EQ(p.results[ResultsOf(p, clip)[0]].weight, 0.33f);  // clipWeight still -1

    p.events[clip].clipWeight = 0.7f;
    p.events[bed].bedLayerWeight[0] = 0.1f;
    ApplyProbedWeights(p);
    EXPECT_FLOAT_EQ(p.results[ResultsOf(p, clip)[0]].weight, 0.7f);
    EXPECT_FLOAT_EQ(p.results[ResultsOf(p, bed)[0]].weight, 0.1f);
}
