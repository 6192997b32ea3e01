// A project saved and opened again: every kind of record comes back as it
// was, also after the project's folder moved to where its original sounds
// do not exist; an old hand-written file loads by the legacy rules; seeded
// damage loads or fails cleanly and quickly; bounces nested as deep as the
// reader follows do not exhaust the stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/relinking.h"
#include "persistence/collect_audio.h"
#include "persistence/event_json.h"
#include "persistence/json_value.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "picture/trace_records.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Curve values with at most four significant digits survive the curve form.
void FillCurve(Curve256& curve, int seed) {
    for (int i = 0; i < 256; ++i) curve[i] = static_cast<float>((i * 13 + seed) % 100) / 100.0f;
}

std::string MakeSound(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    WriteWholeFile(path, WavHolding("sound bytes of " + path + "\n"));
    return fs::canonical(path).string();
}

// Everything a project file holds besides the document.
struct SavedProject {
    Project project;
    OpticalTrace trace;
    ProjectSaveContext ctx;
};

// Sounds 0..6 are used by the document, 7 is banned.
void FillEveryRecord(SavedProject& s, const std::vector<std::string>& sounds, const std::string& video) {
    FileRegistry& registry = FileRegistry::Instance();
    auto idOf = [&](int i) { return registry.FileRefForPath(sounds[static_cast<size_t>(i)]).id; };
    Project& p = s.project;
    p.totalDuration = 120;
    p.fps = 25;
    p.startTC = 3600;
    p.maxEventDuration = 12;
    p.scaleType = 3;
    p.scaleRoot = 7;
    p.pitchShiftProb = 20;
    p.freqShiftIntensity = 15;
    p.reverseProb = 5;
    p.normalizeLUFS = false;
    p.alloyAlgorithm = 1;
    p.alloyTransferDepth = 0.4f;
    p.alloyAttackGraft = 0.1f;
    p.alloyMicroPitch = 0.05f;
    p.alloyFilterBands = 16;
    p.budgetMode = true;
    CopyTextField(p.groups[0].name, "Ambience");
    p.groups[0].trackCount = 40;
    p.groups[1].stereo = false;
    p.groups[2].targetLUFS = -30;

    UserShape shape;
    CopyTextField(shape.name, "Swell");
    CopyTextField(shape.keywords, "wind, gust");
    shape.defaultDuration = 3.5f;
    shape.spread = 0.2f;
    FillCurve(shape.weight, 1);
    FillCurve(shape.intensity, 2);
    p.userShapes.push_back(shape);

    for (int shapeKind = 0; shapeKind < kShapeCount; ++shapeKind) {
        const int idx = AddEvent(p, 2.0f + shapeKind * 3.5f, shapeKind, 0.4f);
        Event& e = p.events[static_cast<size_t>(idx)];
        CopyTextField(e.keywords, "door, -creak \xC3\xA9");
        FillCurve(e.weight, shapeKind);
        FillCurve(e.intensity, shapeKind + 5);
        e.gain = 0.75f;
        e.groupOverride = shapeKind % 3;
    }
    Event& spot = p.events[0];
    spot.userShapeIdx = 0;
    spot.muted = true;
    spot.hero = true;
    spot.pitchVariation = 0.3f;
    spot.scaleTuneOverride = 2;
    spot.reverbSend = 0.35f;
    spot.sceneLink = 1;
    spot.sceneCrossfade = 12;
    spot.sceneFill = true;
    spot.hasTraceGain = true;
    FillCurve(spot.traceGain, 9);
    CopyTextField(spot.folder, "Doors");
    CopyTextField(spot.libFilter, "Foley,~none~");
    CopyTextField(spot.presetName, "Heavy door");
    p.events[3].fillLayers = 4;
    Event& clip = p.events[5];
    CopyTextField(clip.pinnedFile, sounds[0]);
    clip.pinnedFileId = idOf(0);
    clip.hasPinnedFiles = true;
    clip.clipSourceOffset = 0.5f;
    clip.clipSourceDuration = 1.25f;
    clip.clipFadeIn = 0.02f;
    clip.clipFadeOut = 0.3f;
    clip.clipPitchRate = 0.5f;
    clip.clipReverse = true;
    clip.clipWeight = 0.9f;
    Event bounced = p.events[1];
    bounced.time = 0.25f;
    Event nested = p.events[5];
    nested.time = 0.5f;
    nested.bounceSource.push_back(p.events[2]);
    clip.bounceSource = {bounced, nested};
    Event& bed = p.events[6];
    bed.pinnedFiles = {sounds[1], sounds[2]};
    bed.pinnedFileIds = {idOf(1), idOf(2)};
    bed.bedLayerLoop = {1, 0};
    bed.bedLayerWeight = {0.25f, -1.0f};
    bed.hasPinnedFiles = true;

    RenderResult plain;
    plain.name = "Door slam";
    plain.filepath = sounds[3];
    plain.fileId = idOf(3);
    plain.sourceOffset = 0.5f;
    plain.sourceDuration = 1.5f;
    plain.startTime = 2.0f;
    plain.duration = 1.5f;
    plain.weight = 0.6f;
    plain.eventIdx = 0;
    plain.track = 9;
    plain.group = 1;
    plain.groupTrack = 1;
    plain.fadeIn = 0.02f;
    plain.fadeOut = 0.1f;
    plain.audioSyncOffset = 0.01f;
    plain.stereo = true;
    plain.layerGain = 0.8f;
    plain.userVolume = 1.5f;
    plain.normGain = 2.0f;
    plain.pitchShift = -3;
    plain.pitchVarShift = -3;
    plain.deconOffset = 0.004f;
    for (int i = 0; i < 256; ++i) plain.intGain[static_cast<size_t>(i)] = static_cast<float>(i % 10) / 10.0f;
    plain.hasIntGain = true;
    for (float& g : plain.deconGain) g = 0.5f;
    plain.hasDeconGain = true;
    plain.eqGains = {1.0f, 0.5f, 0.25f, 1.0f, 0.75f};
    plain.hasEqGains = true;
    p.results.push_back(plain);

    RenderResult fill = plain;
    fill.name = "Rain";
    fill.filepath = sounds[4];
    fill.fileId = idOf(4);
    fill.eventIdx = 3;
    fill.group = 0;
    fill.procMode = 1;
    fill.fillLoop = true;
    for (int i = 0; i < 128; ++i) fill.fillGain[static_cast<size_t>(i)] = static_cast<float>(i % 28) / 10.0f;
    fill.hasFillGain = true;
    fill.fillChunks = {{0, 4800, 480}, {9600, 4800, 480}};
    p.results.push_back(fill);

    RenderResult alloy = plain;
    alloy.name = "Metal alloy";
    alloy.eventIdx = 1;
    alloy.procMode = 3;
    alloy.alloyMorph = 0.6f;
    alloy.alloyAlgo = 1;
    alloy.alloyMid = AlloySource{sounds[5], idOf(5), 0.5f, 1.0f, "Mid"};
    alloy.alloyHigh = AlloySource{sounds[6], idOf(6), 0.25f, 2.0f, "High"};
    alloy.alloyEnv = AlloySource{sounds[5], idOf(5), 0, 1.0f, "Env"};
    p.results.push_back(alloy);

    RenderResult budget = plain;
    budget.name = "Over budget";
    budget.groupTrack = -1;
    budget.track = -1;
    SetMuteReason(budget, kMuteBudget, true);
    p.results.push_back(budget);
    RenderResult userMuted = plain;
    userMuted.name = "Muted by hand";
    SetUserMuted(userMuted, true);
    p.results.push_back(userMuted);
    p.rendered = true;

    p.bannedFiles = {sounds[7]};
    p.bannedFileIds = {idOf(7)};
    Scene hall;
    CopyTextField(hall.name, "Hall");
    hall.inTime = 1;
    hall.outTime = 20;
    CopyTextField(hall.keywords, "reverb");
    Scene street = hall;
    CopyTextField(street.name, "Street");
    street.inTime = 20;
    street.outTime = 45;
    p.scenes = {hall, street};

    s.trace.present = true;
    s.trace.duration = 12;
    s.trace.fps = 10;
    s.trace.numFrames = 3;
    s.trace.maxCompositeEnergy = 0.75f;
    for (int f = 0; f < 3; ++f) {
        TraceFrame frame;
        frame.time = f * 0.1f;
        frame.luma = 0.25f + f * 0.125f;
        frame.composite = 0.5f;
        frame.threshold = 0.125f;
        s.trace.frames.push_back(frame);
    }
    SuggestedEvent suggestion;
    suggestion.time = 0.1f;
    suggestion.type = 1;
    suggestion.confidence = 0.8f;
    suggestion.suggestedDuration = 2;
    suggestion.suggestedShape = kShapeBloom;
    suggestion.intensity = 0.5f;
    suggestion.accepted = true;
    for (int i = 0; i < 256; ++i) suggestion.intensityCurve[static_cast<size_t>(i)] = static_cast<float>(i) / 256.0f;
    suggestion.hasIntensityCurve = true;
    CopyTextField(suggestion.keywords, "impact");
    s.trace.suggestions = {suggestion, SuggestedEvent{}};

    ProjectSaveContext& c = s.ctx;
    c.project = &s.project;
    c.videoPath = video;
    c.videoStartTime = 1.5f;
    c.libraryPaths = {"/sfx/Foley", "", "Relative Lib"};
    c.projectDescription = "Reel 2, temp mix";
    c.projectSampleRate = 192000;
    c.exportSettings.handleDuration = 2.5f;
    c.exportSettings.handleFullSource = true;
    c.exportSettings.exportWavStems = true;
    c.exportSettings.exportFormatAAF = false;
    c.exportWithHandles = false;
    c.snapToFrames = true;
    c.exportFillVirtual = false;
    c.reverb.size = 0.9f;
    c.reverb.enabled = 0;
    c.reverb.groupSends[1] = 0.5f;
    c.workAreaIn = 4;
    c.workAreaOut = 9.5f;
    c.optical = &s.trace;
    c.opticalDetail = 0.6f;
    c.linkedGroups = {"Cars", "Doors"};
    c.gains = {0.5f, 1.25f, 1, 0.75f, 2};
}

struct Reopened {
    ProjectLoadResult result;
    ProjectFileSettings settings;
    Project project;
    ProjectSaveContext ctx;
};

// Opens the file as opening a project would and rebuilds what a save of it
// would be given, so the two can be written side by side.
void Reopen(const std::string& path, Reopened& r) {
    r.result = LoadProjectFile(path, r.project);
    ASSERT_TRUE(r.result.ok) << r.result.error;
    r.settings = ReadProjectSettingsJson(path);
    r.project.scenes = r.settings.scenes;
    ApplyResolvedPaths(r.project);  // what a save does first
    ProjectSaveContext& c = r.ctx;
    c.project = &r.project;
    c.videoPath = r.result.videoPath;
    c.videoStartTime = r.result.videoStartTime;
    c.libraryPaths = r.result.libraryPaths;
    c.projectDescription = r.result.projectDescription;
    c.projectSampleRate = r.result.projectSampleRate;
    c.exportSettings = r.settings.exportSettings;
    c.exportWithHandles = r.settings.exportWithHandles;
    c.snapToFrames = r.settings.snapToFrames;
    c.exportFillVirtual = r.settings.exportFillVirtual;
    c.reverb = r.settings.reverb;
    c.workAreaIn = r.settings.workAreaIn;
    c.workAreaOut = r.settings.workAreaOut;
    c.optical = &r.result.trace;
    c.opticalDetail = r.result.opticalDetail;
    c.linkedGroups = r.result.linkedGroups;
    c.gains = {r.settings.masterGain, r.settings.refGain, r.settings.groupGains[0], r.settings.groupGains[1],
               r.settings.groupGains[2]};
}

void ExpectSameMutesAndFreshIds(const Project& original, const Project& loaded) {
    ASSERT_EQ(original.results.size(), loaded.results.size());
    for (size_t i = 0; i < loaded.results.size(); ++i) {
        EXPECT_EQ(loaded.results[i].muteReasons, original.results[i].muteReasons) << i;
        for (const RenderResult& o : original.results) EXPECT_NE(loaded.results[i].id, o.id);
    }
}

std::vector<std::string> MakeSounds(const std::string& folder, const std::string& tag) {
    std::vector<std::string> sounds;
    for (int i = 0; i < 7; ++i) sounds.push_back(MakeSound(folder + "/" + tag + " sound " + std::to_string(i) + ".wav"));
    return sounds;
}

}  // namespace

TEST(ProjectReopen, EveryRecordComesBackInPlaceAndAfterTheFolderMoved) {
    TempDir tmp;
    const std::string root = fs::canonical(tmp.path()).string();
    const std::string folder = root + "/Reel";
    // The sounds already lie in the project's Audio folder, so the saved
    // file refers to them where they are.
    std::vector<std::string> sounds = MakeSounds(folder + "/Audio", "in place");
    sounds.push_back(MakeSound(root + "/Elsewhere/banned.wav"));
    const std::string video = MakeSound(folder + "/picture.mov");
    SavedProject saved;
    FillEveryRecord(saved, sounds, video);
    const std::string path = folder + "/Reel.tlproj";
    ASSERT_TRUE(WriteProjectFile(path, saved.ctx));
    const std::string expected = BuildProjectJson(saved.ctx, CollectedAudioMap{}, folder);

    Reopened here;
    Reopen(path, here);
    EXPECT_EQ(BuildProjectJson(here.ctx, CollectedAudioMap{}, folder), expected);
    EXPECT_TRUE(here.result.missingFiles.empty());
    EXPECT_EQ(here.result.warning, "");
    ExpectSameMutesAndFreshIds(saved.project, here.project);

    const std::string moved = root + "/Moved Reel";
    fs::rename(folder, moved);
    Reopened there;
    Reopen(moved + "/Reel.tlproj", there);
    EXPECT_EQ(BuildProjectJson(there.ctx, CollectedAudioMap{}, moved), ReplaceAll(expected, folder + "/", moved + "/"));
    EXPECT_TRUE(there.result.missingFiles.empty());
    ExpectSameMutesAndFreshIds(saved.project, there.project);
}

TEST(ProjectReopen, CollectedAudioIsFoundOnAnotherMachine) {
    TempDir tmp;
    const std::string root = fs::canonical(tmp.path()).string();
    const std::string sources = root + "/Library";
    std::vector<std::string> sounds = MakeSounds(sources, "collected");
    sounds.push_back(MakeSound(root + "/Elsewhere/banned.wav"));
    const std::string folder = root + "/Reel";
    const std::string video = MakeSound(folder + "/picture.mov");
    SavedProject saved;
    FillEveryRecord(saved, sounds, video);
    ASSERT_TRUE(WriteProjectFile(folder + "/Reel.tlproj", saved.ctx));
    const std::string expected = BuildProjectJson(saved.ctx, CollectedAudioMap{}, folder);

    // Another machine: the libraries are not there, the project is elsewhere.
    fs::remove_all(sources);
    const std::string moved = root + "/Delivered/Reel";
    fs::create_directories(root + "/Delivered");
    fs::rename(folder, moved);
    Reopened there;
    Reopen(moved + "/Reel.tlproj", there);
    EXPECT_TRUE(there.result.missingFiles.empty());
    EXPECT_EQ(BuildProjectJson(there.ctx, CollectedAudioMap{}, moved),
              ReplaceAll(expected, sources + "/", moved + "/Audio/"));
    ExpectSameMutesAndFreshIds(saved.project, there.project);
}

TEST(ProjectReopen, HandWrittenVersionOneFileLoadsByTheLegacyRules) {
    TempDir tmp;
    const std::string folder = fs::canonical(tmp.path()).string();
    const std::string wind = MakeSound(folder + "/Audio/wind.wav");
    const std::string clip = MakeSound(folder + "/Audio/clip.wav");
    const std::string bed = MakeSound(folder + "/Audio/bed.wav");
    const std::string banned = MakeSound(folder + "/Banned/hiss.wav");
    const std::string path = folder + "/Old.tlproj";
    // As an early version wrote it: CR LF lines, no ids, clip keys under their
    // first names, the alloyed Bloom as shape 2.
    std::string text = R"({
  "format": "Tessaloom",
  "version": 1,
  "videoPath": "",
  "totalDuration": 60,
  "fps": 25,
  "bannedFiles": [
  ")" + banned + R"("
],
  "events": [
    {"time": 1, "duration": 2, "shape": 2, "keywords": "wind"},
    {"time": 5, "shape": 5, "pinnedFile": "Audio/clip.wav", "placeSourceOffset": 0.5,
     "placeSourceDuration": 1.25, "placeFadeIn": 0.1, "placeFadeOut": 0.2},
    {"time": 8, "shape": 5, "pinnedFile": "Audio/clip.wav", "placeSourceOffset": 0.5, "clipSourceOffset": 0.75},
    {"time": 9, "shape": 6, "pinnedFile": "Audio/bed.wav"}
  ],
  "results": [
    {"name": "Wind", "filepath": "Audio/wind.wav", "eventIdx": 0, "muted": true, "groupTrack": 1},
    {"name": "Clip", "filepath": ")" + clip + R"(", "eventIdx": 1, "intGain": [0.5]},
    {"name": "Lost", "filepath": "Audio/lost.wav", "eventIdx": 4}
  ]
})";
    WriteWholeFile(path, ReplaceAll(text, "\n", "\r\n"));
    Project doc;
    const ProjectLoadResult r = LoadProjectFile(path, doc);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.warning, "");
    EXPECT_FLOAT_EQ(doc.fps, 25.0f);
    EXPECT_EQ(r.projectSampleRate, 48000);

    FileRegistry& registry = FileRegistry::Instance();
    ASSERT_EQ(doc.events.size(), 4u);
    EXPECT_EQ(doc.events[0].shape, kShapeBloom);
    EXPECT_TRUE(doc.events[0].alloy);
    const Event& placed = doc.events[1];
    EXPECT_EQ(std::string(placed.pinnedFile), clip);
    EXPECT_EQ(placed.pinnedFileId, registry.FileRefForPath(clip).id);
    EXPECT_FLOAT_EQ(placed.clipSourceOffset, 0.5f);
    EXPECT_FLOAT_EQ(placed.clipSourceDuration, 1.25f);
    EXPECT_FLOAT_EQ(placed.clipFadeIn, 0.1f);
    EXPECT_FLOAT_EQ(placed.clipFadeOut, 0.2f);
    EXPECT_TRUE(placed.pinnedFiles.empty());
    EXPECT_FLOAT_EQ(doc.events[2].clipSourceOffset, 0.75f);  // the newer key wins
    EXPECT_EQ(doc.events[3].pinnedFiles, (std::vector<std::string>{bed}));
    EXPECT_EQ(doc.events[3].pinnedFileIds, (std::vector<std::string>{registry.FileRefForPath(bed).id}));

    ASSERT_EQ(doc.results.size(), 3u);
    EXPECT_EQ(doc.results[0].filepath, wind);
    EXPECT_EQ(doc.results[0].fileId, registry.FileRefForPath(wind).id);
    EXPECT_EQ(doc.results[0].muteReasons, kMuteUser);
    EXPECT_EQ(doc.results[1].fileId, registry.FileRefForPath(clip).id);
    EXPECT_FLOAT_EQ(doc.results[1].intGain[200], 0.5f);
    EXPECT_EQ(doc.results[2].eventIdx, 0);
    EXPECT_EQ(doc.results[2].fileId, "");
    EXPECT_EQ(r.missingFiles, (std::vector<std::string>{folder + "/Audio/lost.wav"}));
    EXPECT_EQ(doc.bannedFiles, (std::vector<std::string>{banned}));
    EXPECT_EQ(doc.bannedFileIds, (std::vector<std::string>{registry.FileRefForPath(banned).id}));
    EXPECT_TRUE(doc.rendered);
}

TEST(ProjectReopen, BouncesNestedToTheReadersDepthLimitLoadAndSaveAgain) {
    TempDir tmp;
    // Levels: root 1, "events" 2, the first event 3, each bounce two more.
    const int deepest = (kJsonMaxLenientDepth - 3) / 2;
    auto chain = [](int levels) {
        std::string text = "{\"format\": \"Tessaloom\", \"version\": 5, \"events\": [";
        for (int k = 0; k <= levels; ++k) {
            text += "{\"shape\": 5, \"time\": " + std::to_string(k);
            if (k < levels) text += ", \"bounceSource\": [";
        }
        for (int k = 0; k <= levels; ++k) text += k < levels ? "}]" : "}";
        return text + "]}";
    };
    const std::string path = tmp.File("deep.tlproj");
    WriteWholeFile(path, chain(deepest));
    Project doc;
    const ProjectLoadResult r = LoadProjectFile(path, doc);
    ASSERT_TRUE(r.ok) << r.error;
    int depth = 0;
    for (const Event* e = &doc.events[0]; !e->bounceSource.empty(); e = &e->bounceSource[0]) ++depth;
    EXPECT_EQ(depth, deepest);

    const std::string again = tmp.File("again.tlproj");
    ProjectSaveContext ctx;
    ctx.project = &doc;
    ASSERT_TRUE(WriteProjectFile(again, ctx));
    Project reread;
    ASSERT_TRUE(LoadProjectFile(again, reread).ok);
    EXPECT_EQ(BuildProjectJson(ctx, CollectedAudioMap{}, tmp.path()),
              [&] { ProjectSaveContext c; c.project = &reread; return BuildProjectJson(c, CollectedAudioMap{}, tmp.path()); }());

    // One level more would be skipped by the reader: the file is refused.
    WriteWholeFile(path, chain(deepest + 1));
    Project untouched;
    const ProjectLoadResult deeper = LoadProjectFile(path, untouched);
    EXPECT_FALSE(deeper.ok);
    EXPECT_EQ(deeper.error, "Damaged file (incomplete JSON)");
    EXPECT_TRUE(untouched.events.empty());
}

// ---------------------------------------------------------------------------
// Seeded damage
// ---------------------------------------------------------------------------

namespace {

// What a loaded document must satisfy whatever the file held.
void ExpectConsistent(const Project& p, const ProjectLoadResult& r, const std::string& where) {
    EXPECT_GT(p.fps, 0) << where;
    EXPECT_GT(p.totalDuration, 0) << where;
    EXPECT_TRUE(r.projectSampleRate == 44100 || r.projectSampleRate == 48000 || r.projectSampleRate == 88200 ||
                r.projectSampleRate == 96000 || r.projectSampleRate == 192000)
        << where;
    for (const MixGroup& g : p.groups) EXPECT_TRUE(g.trackCount >= 1 && g.trackCount <= 48) << where;
    EXPECT_EQ(p.bannedFiles.size(), p.bannedFileIds.size()) << where;
    const int shapes = static_cast<int>(p.userShapes.size());
    for (const Event& e : p.events) {
        EXPECT_TRUE(e.shape >= 0 && e.shape < kShapeCount) << where;
        EXPECT_TRUE(e.userShapeIdx >= -1 && e.userShapeIdx < shapes) << where;
        EXPECT_EQ(e.pinnedFileIds.size(), e.pinnedFiles.size()) << where;
        EXPECT_LE(e.bedLayerLoop.size(), e.pinnedFiles.size()) << where;
        EXPECT_LE(e.bedLayerWeight.size(), e.pinnedFiles.size()) << where;
    }
    EXPECT_EQ(p.rendered, !p.results.empty()) << where;
    for (const RenderResult& x : p.results) {
        EXPECT_TRUE(x.eventIdx >= 0 && x.eventIdx < static_cast<int>(p.events.size())) << where;
        EXPECT_TRUE(x.group >= 0 && x.group <= 2) << where;
        EXPECT_TRUE(x.groupTrack >= -1 && x.groupTrack <= kMaxGroupTrack) << where;
        EXPECT_TRUE(x.procMode >= 0 && x.procMode <= 3) << where;
        EXPECT_LE(x.fillChunks.size(), static_cast<size_t>(kMaxFillChunks)) << where;
        EXPECT_EQ(x.muted, x.muteReasons != 0) << where;
        for (float g : x.eqGains) EXPECT_TRUE(g >= 0.1f && g <= 1.0f) << where;
    }
}

std::string Mutate(std::string text, std::mt19937& rng) {
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const size_t at = rng() % text.size();
        const size_t run = 1 + rng() % 8;
        switch (rng() % 3) {
            case 0: text[at] = static_cast<char>(text[at] ^ (1u << (rng() % 8))); break;
            case 1: text.erase(at, run); break;
            default: text.insert(at, text.substr(at, run)); break;
        }
    }
    return text;
}

}  // namespace

TEST(ProjectReopen, SeededDamageLoadsOrFailsCleanlyAndQuickly) {
    TempDir tmp;
    const std::string folder = fs::canonical(tmp.path()).string();
    std::vector<std::string> sounds = MakeSounds(folder + "/Audio", "mutated");
    sounds.push_back(MakeSound(folder + "/banned.wav"));
    SavedProject saved;
    FillEveryRecord(saved, sounds, MakeSound(folder + "/picture.mov"));
    // Short enough to load 10,000 times in seconds, with every kind of record
    // still there: fewer events, flat curves, one layer of each mode.
    Project& p = saved.project;
    p.events.erase(p.events.begin() + 1, p.events.begin() + 5);
    p.events[1].bounceSource.resize(1);
    std::vector<Event*> events = {&p.events[0], &p.events[1], &p.events[2], &p.events[1].bounceSource[0]};
    for (Event* e : events) {
        e->weight.fill(1);
        e->intensity.fill(0);
    }
    p.events[0].hasTraceGain = false;
    p.userShapes[0].weight.fill(1);
    p.userShapes[0].intensity.fill(1);
    p.results.resize(4);  // plain, fill, alloy, over budget
    for (size_t i = 0; i < p.results.size(); ++i) {
        RenderResult& r = p.results[i];
        r.eventIdx = static_cast<int32_t>(i % 3);
        // The gain arrays are one number per line; their reading is tested
        // on its own.
        r.hasIntGain = false;
        r.hasFillGain = false;
        r.hasDeconGain = false;
    }
    saved.trace.suggestions.resize(1);
    saved.trace.suggestions[0].hasIntensityCurve = false;
    const std::string path = folder + "/Base.tlproj";
    const std::string text = BuildProjectJson(saved.ctx, CollectedAudioMap{}, folder);

    Project open;
    AddEvent(open, 1, kShapeSpot, 0.5f);
    open.results.emplace_back();
    ProjectSaveContext openCtx;
    openCtx.project = &open;
    const std::string openText = BuildProjectJson(openCtx, CollectedAudioMap{}, folder);

    std::mt19937 rng(20240611);
    int loaded = 0, refused = 0;
    std::chrono::duration<double> slowest{0}, total{0};
    constexpr int kMutations = 10000;
    for (int i = 0; i < kMutations; ++i) {
        const std::string mutated = Mutate(text, rng);
        const std::string where = "mutation " + std::to_string(i);
        Project doc = open;
        const auto start = std::chrono::steady_clock::now();
        const ProjectLoadResult r = LoadProjectText(mutated, path, doc);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        slowest = std::max(slowest, took);
        total += took;
        ProjectSaveContext docCtx;
        docCtx.project = &doc;
        if (r.ok) {
            ++loaded;
            ExpectConsistent(doc, r, where);
            if (loaded % 8 != 1) continue;
            // What was read is saved and read back unchanged.
            const std::string resaved = BuildProjectJson(docCtx, CollectedAudioMap{}, folder);
            Project again;
            ASSERT_TRUE(LoadProjectText(resaved, path, again).ok) << where;
            ProjectSaveContext againCtx;
            againCtx.project = &again;
            EXPECT_EQ(BuildProjectJson(againCtx, CollectedAudioMap{}, folder), resaved) << where;
        } else {
            ++refused;
            EXPECT_FALSE(r.error.empty()) << where;
            ASSERT_EQ(doc.results.size(), 1u) << where;
            EXPECT_EQ(doc.results[0].id, open.results[0].id) << where;
            EXPECT_EQ(BuildProjectJson(docCtx, CollectedAudioMap{}, folder), openText) << where;
        }
        if (::testing::Test::HasFailure()) break;
    }
    std::printf("[Test] base text %zu bytes\n", text.size());
    std::printf("[Test] %d mutations: %d loaded, %d refused; %.3f s in all, slowest %.1f ms\n", kMutations, loaded,
                refused, total.count(), slowest.count() * 1000);
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}
