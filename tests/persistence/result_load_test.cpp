// Rendered layers read back from a project file: ranges and clamps, the gain
// arrays with the stretched intensity gain, fill chunks and alloy settings
// per processing mode, the event rule, the file found again through the
// registry (also after it moved), fresh ids, and why a stored layer is muted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "document/project.h"
#include "library/file_registry.h"
#include "persistence/event_json.h"
#include "persistence/project_load.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A version 5 project with `eventCount` plain events and these results.
std::string ResultsProject(const std::string& results, int eventCount = 1, const std::string& more = "") {
    std::string events;
    for (int i = 0; i < eventCount; ++i) events += std::string(i ? ", " : "") + "{\"time\": " + std::to_string(i) + "}";
    return "{\"format\": \"Tessaloom\", \"version\": 5,\n \"events\": [" + events + "],\n \"results\": [" + results +
           "]" + (more.empty() ? "" : ",\n" + more) + "\n}";
}

struct Loaded {
    ProjectLoadResult result;
    Project project;
};

Loaded Load(const TempDir& dir, const std::string& text) {
    const std::string path = dir.File("layers.tlproj");
    WriteWholeFile(path, text);
    Loaded out;
    out.result = LoadProjectFile(path, out.project);
    EXPECT_TRUE(out.result.ok) << out.result.error;
    return out;
}

RenderResult LoadOne(const TempDir& dir, const std::string& result) {
    Loaded l = Load(dir, ResultsProject(result));
    EXPECT_EQ(l.project.results.size(), 1u);
    return l.project.results.empty() ? RenderResult{} : l.project.results[0];
}

std::string Numbers(int count, const std::string& value) {
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "," : "") + value;
    return "[" + text + "]";
}

std::string MakeSound(const TempDir& dir, const std::string& name) {
    const std::string path = dir.File(name);
    fs::create_directories(fs::path(path).parent_path());
    WriteWholeFile(path, WavHolding("sound bytes of " + path));
    return fs::canonical(path).string();
}

}  // namespace

TEST(ResultLoad, ScalarsTakeDefaultsAndRanges) {
    TempDir dir;
    const RenderResult d = LoadOne(dir, "{}");
    EXPECT_EQ(d.name, "");
    EXPECT_FLOAT_EQ(d.weight, 0.0f);
    EXPECT_FLOAT_EQ(d.fadeIn, 0.01f);
    EXPECT_FLOAT_EQ(d.fadeOut, 0.05f);
    EXPECT_FLOAT_EQ(d.layerGain, 1.0f);
    EXPECT_FLOAT_EQ(d.userVolume, 1.0f);
    EXPECT_FLOAT_EQ(d.normGain, 1.0f);
    EXPECT_EQ(d.procMode, 0);
    EXPECT_EQ(d.alloyAlgo, 2);
    EXPECT_FALSE(d.hasIntGain || d.hasFillGain || d.hasDeconGain || d.hasEqGains);
    EXPECT_EQ(d.variationIndex, -1);

    const RenderResult high = LoadOne(dir, R"({"userVolume": 3.5, "normGain": 0, "pitchShift": 30, "pitchVarShift": -31,
        "group": 3, "groupTrack": 5000, "stereo": 1, "fillLoop": true, "name": "Hit", "sourceOffset": 2.5,
        "startTime": 10, "duration": 1.5, "track": 7, "audioSyncOffset": -0.2, "deconOffset": 0.01})");
    EXPECT_FLOAT_EQ(high.userVolume, 2.0f);
    EXPECT_FLOAT_EQ(high.normGain, 0.001f);
    EXPECT_FLOAT_EQ(high.pitchShift, 24.0f);
    EXPECT_FLOAT_EQ(high.pitchVarShift, -24.0f);
    EXPECT_EQ(high.group, 0);  // the mixer has three groups
    EXPECT_EQ(high.groupTrack, kMaxGroupTrack);
    EXPECT_FALSE(high.stereo);  // a number is no bool
    EXPECT_TRUE(high.fillLoop);
    EXPECT_EQ(high.name, "Hit");
    EXPECT_FLOAT_EQ(high.sourceOffset, 2.5f);
    EXPECT_FLOAT_EQ(high.startTime, 10.0f);
    EXPECT_EQ(high.track, 7);
    EXPECT_FLOAT_EQ(high.audioSyncOffset, -0.2f);
    EXPECT_FLOAT_EQ(high.deconOffset, 0.01f);

    const RenderResult low = LoadOne(dir, R"({"userVolume": -1, "normGain": 20, "group": -1, "groupTrack": -7})");
    EXPECT_FLOAT_EQ(low.userVolume, 0.0f);
    EXPECT_FLOAT_EQ(low.normGain, 8.0f);
    EXPECT_EQ(low.group, 0);
    EXPECT_EQ(low.groupTrack, -1);
    EXPECT_EQ(LoadOne(dir, R"({"group": 2, "groupTrack": 3})").group, 2);
}

TEST(ResultLoad, ProcessingModesDecideWhichKeysAreRead) {
    TempDir dir;
    const std::string alloy = R"("alloyMorph": 0.25, "alloyMid": {"filepath": "/sfx/mid.wav", "fileId": "00000000000a110d",
        "offset": 1.5, "duration": 2, "name": "Mid"}, "alloyHigh": 7, "fillChunks": [{"s": 1, "l": 2, "x": 3}])";
    const RenderResult seven = LoadOne(dir, "{\"procMode\": 7, " + alloy + "}");
    EXPECT_EQ(seven.procMode, 3);
    EXPECT_EQ(seven.alloyAlgo, 3);  // alloy layers saved without it used the fourth algorithm
    EXPECT_FLOAT_EQ(seven.alloyMorph, 0.25f);
    EXPECT_EQ(seven.alloyMid.filepath, "/sfx/mid.wav");
    EXPECT_EQ(seven.alloyMid.fileId, "00000000000a110d");
    EXPECT_FLOAT_EQ(seven.alloyMid.offset, 1.5f);
    EXPECT_FLOAT_EQ(seven.alloyMid.duration, 2.0f);
    EXPECT_EQ(seven.alloyMid.name, "Mid");
    EXPECT_EQ(seven.alloyHigh.filepath, "");  // not an object
    EXPECT_TRUE(seven.fillChunks.empty());

    const RenderResult negative = LoadOne(dir, "{\"procMode\": -2, \"alloyAlgo\": 1, " + alloy + "}");
    EXPECT_EQ(negative.procMode, 0);
    EXPECT_EQ(negative.alloyAlgo, 2);
    EXPECT_FLOAT_EQ(negative.alloyMorph, 1.0f);
    EXPECT_EQ(negative.alloyMid.filepath, "");
    EXPECT_TRUE(negative.fillChunks.empty());

    EXPECT_EQ(LoadOne(dir, R"({"procMode": 3, "alloyAlgo": 9})").alloyAlgo, 3);
    EXPECT_EQ(LoadOne(dir, R"({"procMode": 3, "alloyAlgo": -4})").alloyAlgo, 0);
    EXPECT_EQ(LoadOne(dir, R"({"procMode": 3, "alloyAlgo": 1.7})").alloyAlgo, 1);

    // An alloy source stored without an id gets its content's id; a relative
    // path is found beside the project.
    const std::string env = MakeSound(dir, "Audio/env.wav");
    const RenderResult withFile = LoadOne(dir, R"({"procMode": 3, "alloyEnv": {"filepath": "Audio/env.wav"}})");
    EXPECT_EQ(withFile.alloyEnv.filepath, env);
    EXPECT_EQ(withFile.alloyEnv.fileId, FileRegistry::Instance().FileRefForPath(env).id);
    EXPECT_FALSE(withFile.alloyEnv.fileId.empty());

    const RenderResult fill = LoadOne(dir, R"({"procMode": 1, "fillChunks": [{"s": 10, "l": 2.9, "x": "y"}, 4]})");
    ASSERT_EQ(fill.fillChunks.size(), 2u);
    EXPECT_EQ(fill.fillChunks[0].s, 10);
    EXPECT_EQ(fill.fillChunks[0].l, 2);
    EXPECT_EQ(fill.fillChunks[0].x, 0);
    EXPECT_EQ(fill.fillChunks[1].s, 0);

    // A plan the engine cannot hold, or with a negative field, is made again.
    std::string many;
    for (int i = 0; i <= kMaxFillChunks; ++i) many += std::string(i ? "," : "") + "{\"s\": 1, \"l\": 1, \"x\": 0}";
    EXPECT_TRUE(LoadOne(dir, "{\"procMode\": 1, \"fillChunks\": [" + many + "]}").fillChunks.empty());
    EXPECT_TRUE(LoadOne(dir, R"({"procMode": 1, "fillChunks": [{"s": 1, "l": 5, "x": 0}, {"s": -4, "l": 5, "x": 0}]})")
                    .fillChunks.empty());
}

TEST(ResultLoad, GainArraysAndTheStretchedIntensityGain) {
    TempDir dir;
    const RenderResult ramp = LoadOne(dir, R"({"intGain": [0.2, 0.8]})");
    ASSERT_TRUE(ramp.hasIntGain);
    EXPECT_FLOAT_EQ(ramp.intGain[0], 0.2f);
    EXPECT_NEAR(ramp.intGain[255], 0.8f, 1e-6);
    EXPECT_NEAR(ramp.intGain[51], 0.2f + 0.6f * 51.0f / 255.0f, 1e-6);
    for (int i = 1; i < 256; ++i) EXPECT_GT(ramp.intGain[i], ramp.intGain[i - 1]);

    const RenderResult single = LoadOne(dir, R"({"intGain": [0.5]})");
    ASSERT_TRUE(single.hasIntGain);
    for (float v : single.intGain) EXPECT_FLOAT_EQ(v, 0.5f);

    // Three points: the middle one is met at point 127.5, values clamped.
    const RenderResult bent = LoadOne(dir, R"({"intGain": [0, 2, "x"]})");
    EXPECT_FLOAT_EQ(bent.intGain[0], 0.0f);
    EXPECT_FLOAT_EQ(bent.intGain[255], 1.0f);
    EXPECT_NEAR(bent.intGain[64], std::min(1.0f, 2.0f * 64.0f * 2.0f / 255.0f), 1e-5);

    const RenderResult full = LoadOne(dir, "{\"intGain\": " + Numbers(300, "1.5") + "}");
    for (float v : full.intGain) EXPECT_FLOAT_EQ(v, 1.0f);

    EXPECT_FALSE(LoadOne(dir, R"({"intGain": []})").hasIntGain);
    EXPECT_FALSE(LoadOne(dir, "{\"fillGain\": " + Numbers(127, "0.5") + "}").hasFillGain);

    std::string fill = Numbers(200, "0.5");
    fill.replace(1, 3, "3.0");  // the first value
    const RenderResult wide = LoadOne(dir, "{\"fillGain\": " + fill + "}");
    ASSERT_TRUE(wide.hasFillGain);
    EXPECT_FLOAT_EQ(wide.fillGain[0], 2.8f);
    EXPECT_FLOAT_EQ(wide.fillGain[127], 0.5f);

    EXPECT_FALSE(LoadOne(dir, "{\"deconGain\": " + Numbers(31, "0.5") + "}").hasDeconGain);
    const RenderResult decon = LoadOne(dir, "{\"deconGain\": " + Numbers(32, "-1") + "}");
    ASSERT_TRUE(decon.hasDeconGain);
    EXPECT_FLOAT_EQ(decon.deconGain[31], 0.0f);

    const RenderResult eq = LoadOne(dir, R"({"eqGains": [0, 2, 0.5, "loud", 1]})");
    ASSERT_TRUE(eq.hasEqGains);
    const float expected[5] = {0.1f, 1.0f, 0.5f, 1.0f, 1.0f};
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(eq.eqGains[i], expected[i]) << i;
    EXPECT_FALSE(LoadOne(dir, R"({"eqGains": [0.5, 0.5, 0.5, 0.5]})").hasEqGains);
}

TEST(ResultLoad, EveryLayerBelongsToAnEventOrIsDropped) {
    TempDir dir;
    const std::string missing = dir.File("not there.wav");
    Loaded three = Load(dir, ResultsProject(R"({"eventIdx": 7}, {"eventIdx": -1}, {"eventIdx": 2}, {"eventIdx": 1.9})", 3));
    ASSERT_EQ(three.project.results.size(), 4u);
    EXPECT_EQ(three.project.results[0].eventIdx, 0);
    EXPECT_EQ(three.project.results[1].eventIdx, 0);
    EXPECT_EQ(three.project.results[2].eventIdx, 2);
    EXPECT_EQ(three.project.results[3].eventIdx, 1);
    EXPECT_TRUE(three.project.rendered);

    Loaded none = Load(dir, ResultsProject("{\"filepath\": \"" + missing + "\"}, {\"eventIdx\": 0}", 0));
    EXPECT_TRUE(none.project.results.empty());
    EXPECT_FALSE(none.project.rendered);
    EXPECT_TRUE(none.result.missingFiles.empty());  // dropped layers are not reported
}

TEST(ResultLoad, FilesAreFoundThroughTheRegistryOrListedAsMissing) {
    TempDir dir;
    FileRegistry& registry = FileRegistry::Instance();

    // Moved since the save: the registry knows it under its new path.
    const std::string moved = MakeSound(dir, "now/here.wav");
    const FileRef known = registry.FileRefForPath(moved);
    ASSERT_FALSE(known.id.empty());
    const std::string oldPath = dir.File("then/here.wav");

    // No id stored: the file's content gives one, the same for both layers.
    const std::string plain = MakeSound(dir, "plain.wav");
    const std::string gone = dir.File("gone.wav");
    const std::string unknownId = "0000000000dead01";
    // A pipe at a stored path must not make the reader wait for a writer.
    const std::string fifo = dir.File("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    Loaded l = Load(dir, ResultsProject(
        "{\"filepath\": \"" + oldPath + "\", \"fileId\": \"" + known.id + "\"},\n"
        "{\"filepath\": \"" + plain + "\"}, {\"filepath\": \"plain.wav\"},\n"
        "{\"filepath\": \"" + gone + "\"},\n"
        "{\"filepath\": \"" + gone + "\", \"fileId\": \"" + unknownId + "\"},\n"
        "{\"filepath\": \"\"}, {\"filepath\": \"" + fifo + "\"}"));
    const std::vector<RenderResult>& r = l.project.results;
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[0].filepath, moved);
    EXPECT_EQ(r[0].fileId, known.id);
    EXPECT_FALSE(r[1].fileId.empty());
    EXPECT_EQ(r[1].fileId, r[2].fileId);
    EXPECT_EQ(r[2].filepath, plain);  // relative, found beside the project
    EXPECT_EQ(r[3].fileId, "");
    EXPECT_EQ(r[3].filepath, gone);
    EXPECT_EQ(r[4].filepath, gone);  // kept as stored when nothing is found
    // A pipe is no sound file: it is listed with the missing ones.
    EXPECT_EQ(l.result.missingFiles, (std::vector<std::string>{gone, gone, fifo}));
    EXPECT_EQ(r[5].filepath, "");
    EXPECT_EQ(r[6].fileId, "");
}

TEST(ResultLoad, LoadedLayersGetFreshIds) {
    TempDir dir;
    Project doc;
    AddEvent(doc, 0, kShapeSpot, 0.5f);
    std::set<int32_t> before;
    for (int i = 0; i < 4; ++i) {
        doc.results.emplace_back();
        before.insert(doc.results.back().id);
    }
    const std::string path = dir.File("ids.tlproj");
    WriteWholeFile(path, ResultsProject("{}, {}, {}"));
    ASSERT_TRUE(LoadProjectFile(path, doc).ok);
    std::set<int32_t> after;
    for (const RenderResult& r : doc.results) {
        EXPECT_EQ(before.count(r.id), 0u);
        after.insert(r.id);
    }
    EXPECT_EQ(after.size(), 3u);
    EXPECT_EQ(doc.publishedResultCount.load(), 3);
}

TEST(ResultLoad, StoredMutesGetTheReasonTheirStateShows) {
    TempDir dir;
    const std::string banned = MakeSound(dir, "banned.wav");
    const std::string bannedById = MakeSound(dir, "banned by id.wav");
    const std::string bannedId = FileRegistry::Instance().FileRefForPath(bannedById).id;
    Loaded l = Load(dir, ResultsProject(
        R"({"muted": true, "group": 1, "groupTrack": -1, "startTime": 0, "duration": 1},)"
        "{\"muted\": true, \"groupTrack\": 2, \"filepath\": \"" + banned + "\"},\n"
        "{\"muted\": true, \"groupTrack\": 0, \"filepath\": \"" + bannedById + "\"},\n"
        R"({"muted": true, "groupTrack": 0}, {"muted": false, "groupTrack": -1})",
        1, "\"bannedFiles\": [\"" + banned + "\", \"/elsewhere/copy.wav\"], \"bannedFileIds\": [\"\", \"" + bannedId + "\"]"));
    std::vector<RenderResult>& r = l.project.results;
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].muteReasons, kMuteBudget);
    EXPECT_EQ(r[1].muteReasons, kMuteBan);
    EXPECT_EQ(r[2].muteReasons, kMuteBan);
    EXPECT_EQ(r[3].muteReasons, kMuteUser);
    EXPECT_EQ(r[4].muteReasons, 0);
    EXPECT_FALSE(r[4].muted);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(r[static_cast<size_t>(i)].muted) << i;

    // The budget's mute is not for good: with tracks to spare it is lifted.
    AssignTracks(l.project);
    EXPECT_FALSE(l.project.results[0].muted);
    EXPECT_GE(l.project.results[0].groupTrack, 0);
    EXPECT_TRUE(l.project.results[1].muted);
    EXPECT_TRUE(l.project.results[3].muted);
}
