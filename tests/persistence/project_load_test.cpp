// Opening project files: what is refused (and that the open document then
// keeps everything), the newer-version warning, the settings table with its
// clamps, the track layout, banned files, the picture trace, the settings
// read on their own, and library names renamed since the project was saved.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/library_folders.h"
#include "library/sound_library.h"
#include "persistence/collect_audio.h"
#include "persistence/json_writer.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A project file holding `members` after "format" (and "version" 5 unless
// the members bring their own).
std::string ProjectText(const std::string& members, bool withVersion = true) {
    std::string text = "{\n  \"format\": \"Tessaloom\"";
    if (withVersion) text += ",\n  \"version\": 5";
    if (!members.empty()) text += ",\n" + members;
    return text + "\n}";
}

// The document as the file would hold it, plus the layers' ids: equal texts
// and ids mean nothing of it changed.
std::string DocumentState(const Project& p) {
    ProjectSaveContext ctx;
    ctx.project = &p;
    std::string state = BuildProjectJson(ctx, CollectedAudioMap{}, "/");
    for (const RenderResult& r : p.results) state += " " + std::to_string(r.id);
    return state + (p.rendered ? " rendered" : "");
}

// An open document with events, layers, banned files and a custom setting.
Project OpenDocument() {
    Project p;
    p.fps = 25;
    p.totalDuration = 90;
    for (int i = 0; i < 2; ++i) AddEvent(p, 1.0f + i, kShapeSpot, 0.5f);
    for (int i = 0; i < 3; ++i) {
        RenderResult r;
        r.name = "layer " + std::to_string(i);
        r.eventIdx = i % 2;
        p.results.push_back(r);
    }
    p.rendered = true;
    p.bannedFiles = {"/sfx/old.wav"};
    p.bannedFileIds = {"00000000000000aa"};
    return p;
}

struct Loaded {
    ProjectLoadResult result;
    Project project;
};

Loaded LoadText(const TempDir& dir, const std::string& text, const Project& start = Project()) {
    const std::string path = dir.File("load.tlproj");
    WriteWholeFile(path, text);
    Loaded out{ProjectLoadResult{}, start};
    out.result = LoadProjectFile(path, out.project);
    return out;
}

std::string UniqueContent(const std::string& path) { return "content of " + path + "\n"; }

}  // namespace

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

TEST(ProjectLoad, RefusesWhatIsNoProjectAndKeepsTheOpenDocument) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.tlproj");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir.File("big.tlproj");
    {
        // Sparse: takes no disk space.
        FILE* f = std::fopen(big.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        fs::resize_file(big, kMaxProjectFileBytes + 1);
    }
    struct Case {
        std::string path;
        std::string text;  // written to `path` when not empty
        std::string error;
    };
    const std::string missing = dir.File("nothing here.tlproj");
    const std::vector<Case> cases = {
        {missing, "", "Could not open file: " + missing},
        {dir.path(), "", "Could not open file: " + dir.path()},
        {fifo, "", "Could not open file: " + fifo},
        {big, "", "File too large"},
        {dir.File("empty.tlproj"), "", "Empty file"},
        {dir.File("array.tlproj"), "[{\"format\": \"Tessaloom\"}]", "Invalid JSON"},
        {dir.File("number.tlproj"), "42", "Invalid JSON"},
        {dir.File("text.tlproj"), "RIFF....WAVEfmt ", "Invalid JSON"},
        {dir.File("noformat.tlproj"), "{\"version\": 5, \"events\": []}", "Not a Tessaloom project file"},
        {dir.File("other.tlproj"), "{\"format\": \"TessaloomRecipe\", \"events\": []}",
         "Not a Tessaloom project file"},
        {dir.File("format type.tlproj"), "{\"format\": [\"Tessaloom\"]}", "Not a Tessaloom project file"},
    };
    WriteWholeFile(dir.File("empty.tlproj"), "");
    const Project open = OpenDocument();
    const std::string before = DocumentState(open);
    for (const Case& c : cases) {
        if (!c.text.empty()) WriteWholeFile(c.path, c.text);
        Project doc = open;
        // Refused without waiting for anything: a load that waited for a
        // writer on the pipe would not come back at all, so a minute only
        // turns that hang into a failure (then a writer comes and goes, and
        // the load ends).
        std::future<ProjectLoadResult> load =
            std::async(std::launch::async, [&c, &doc] { return LoadProjectFile(c.path, doc); });
        if (load.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << c.path << ": the load waited instead of refusing";
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
        }
        const ProjectLoadResult r = load.get();
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_EQ(r.error, c.error) << c.path;
        EXPECT_EQ(DocumentState(doc), before) << c.path;
    }
}

TEST(ProjectLoad, RefusesDamagedTextWholeAndIgnoresTextAfterTheRoot) {
    TempDir dir;
    // A saved project with events, layers and a trace-free tail of settings.
    Project saved;
    for (int i = 0; i < 3; ++i) AddEvent(saved, 2.0f * i, i, 0.4f);
    RenderResult r;
    r.name = "hit";
    saved.results.push_back(r);
    ProjectSaveContext ctx;
    ctx.project = &saved;
    const std::string text = BuildProjectJson(ctx, CollectedAudioMap{}, dir.path());
    const Project open = OpenDocument();
    const std::string before = DocumentState(open);

    // Cut at many points: never a partial load.
    int refused = 0;
    for (size_t cut = 1; cut < text.size(); cut += 97) {
        Loaded l = LoadText(dir, text.substr(0, cut), open);
        EXPECT_FALSE(l.result.ok) << cut;
        EXPECT_EQ(l.result.error, "Damaged file (incomplete JSON)") << cut;
        EXPECT_EQ(DocumentState(l.project), before) << cut;
        ++refused;
    }
    EXPECT_GT(refused, 100);

    const size_t middle = text.find("\"events\"");
    ASSERT_NE(middle, std::string::npos);
    std::string withNul = text;
    withNul[middle + 3] = '\0';
    std::string garbage = text;
    garbage.insert(middle, "@@ ");
    for (const std::string& damaged : {withNul, text + std::string(1, '\0'), garbage}) {
        Loaded l = LoadText(dir, damaged, open);
        EXPECT_FALSE(l.result.ok);
        EXPECT_EQ(l.result.error, "Damaged file (incomplete JSON)");
        EXPECT_EQ(DocumentState(l.project), before);
    }

    Loaded whole = LoadText(dir, text + "\n\ntrailing words } ] {", open);
    ASSERT_TRUE(whole.result.ok) << whole.result.error;
    EXPECT_EQ(whole.project.events.size(), 3u);
    EXPECT_EQ(whole.project.results.size(), 1u);
}

// ---------------------------------------------------------------------------
// Versions
// ---------------------------------------------------------------------------

TEST(ProjectLoad, NewerReaderVersionWarnsAndStillLoads) {
    TempDir dir;
    const std::string events = "  \"events\": [{\"time\": 4}]";
    Loaded saved = LoadText(dir, ProjectText("  \"minReaderVersion\": 6,\n  \"savedBy\": \"2031.2\",\n" + events));
    ASSERT_TRUE(saved.result.ok);
    EXPECT_EQ(saved.result.warning,
              "Newer version project (saved by v2031.2) — some data may be lost if you save");
    EXPECT_EQ(saved.project.events.size(), 1u);

    Loaded anonymous = LoadText(dir, ProjectText("  \"minReaderVersion\": 6,\n" + events));
    ASSERT_TRUE(anonymous.result.ok);
    EXPECT_EQ(anonymous.result.warning, "Newer version project — some data may be lost if you save");
    EXPECT_EQ(anonymous.project.events.size(), 1u);

    Loaded newerButReadable =
        LoadText(dir, ProjectText("  \"version\": 9,\n  \"minReaderVersion\": 5,\n" + events, false));
    ASSERT_TRUE(newerButReadable.result.ok);
    EXPECT_EQ(newerButReadable.result.warning, "");
}

TEST(ProjectLoad, FilesWithoutVersionTakeTheLegacyEventRules) {
    TempDir dir;
    const std::string events = "  \"events\": [{\"shape\": 2}, {\"shape\": 2, \"alloy\": false}]";
    Loaded legacy = LoadText(dir, ProjectText(events, false));
    ASSERT_TRUE(legacy.result.ok);
    ASSERT_EQ(legacy.project.events.size(), 2u);
    EXPECT_EQ(legacy.project.events[0].shape, kShapeBloom);
    EXPECT_TRUE(legacy.project.events[0].alloy);
    EXPECT_EQ(legacy.project.events[1].shape, kShapeBloom);
    EXPECT_FALSE(legacy.project.events[1].alloy);

    Loaded current = LoadText(dir, ProjectText(events));
    EXPECT_EQ(current.project.events[0].shape, kShapeContour);
    EXPECT_FALSE(current.project.events[0].alloy);
}

// ---------------------------------------------------------------------------
// Settings and track layout
// ---------------------------------------------------------------------------

TEST(ProjectLoad, SettingsTakeDefaultsClampsAndTheOfferedSampleRates) {
    TempDir dir;
    auto rateOf = [&](const std::string& value) {
        return LoadText(dir, ProjectText("  \"projectSampleRate\": " + value)).result.projectSampleRate;
    };
    EXPECT_EQ(rateOf("44100"), 44100);
    EXPECT_EQ(rateOf("96000"), 96000);
    EXPECT_EQ(rateOf("192000"), 192000);  // offered by the settings panel
    EXPECT_EQ(rateOf("22050"), 48000);
    EXPECT_EQ(rateOf("\"96000\""), 48000);

    Loaded l = LoadText(dir, ProjectText(R"(  "scaleType": 40, "scaleRoot": -3, "alloyFilterBands": 2,
  "alloyMicroPitch": 0.5, "alloyAttackGraft": -1, "alloyTransferDepth": 7, "alloyAlgorithm": 9,
  "pitchShiftProb": 3.9, "freqShiftIntensity": 250, "reverseProb": -2, "normalizeLUFS": 0,
  "fps": 0, "totalDuration": -12, "startTC": 3600, "maxEventDuration": 12.5,
  "videoStartTime": 1.5, "projectDescription": "Reel 2",
  "libraryPaths": ["/sfx/Foley", "", "Relative/Lib", 5])"));
    ASSERT_TRUE(l.result.ok);
    const Project& p = l.project;
    EXPECT_EQ(p.scaleType, 16);
    EXPECT_EQ(p.scaleRoot, 0);
    EXPECT_EQ(p.alloyFilterBands, 4);
    EXPECT_FLOAT_EQ(p.alloyMicroPitch, 0.15f);
    EXPECT_FLOAT_EQ(p.alloyAttackGraft, 0.0f);
    EXPECT_FLOAT_EQ(p.alloyTransferDepth, 1.0f);
    EXPECT_EQ(p.alloyAlgorithm, 3);
    EXPECT_EQ(p.pitchShiftProb, 3);
    EXPECT_EQ(p.freqShiftIntensity, 100);
    EXPECT_EQ(p.reverseProb, 0);
    EXPECT_TRUE(p.normalizeLUFS);  // a number is no bool
    EXPECT_FLOAT_EQ(p.fps, 24.0f);  // non-positive counts as missing
    EXPECT_FLOAT_EQ(p.totalDuration, 30.0f);
    EXPECT_FLOAT_EQ(p.startTC, 3600.0f);
    EXPECT_FLOAT_EQ(p.maxEventDuration, 12.5f);
    EXPECT_FLOAT_EQ(l.result.videoStartTime, 1.5f);
    EXPECT_EQ(l.result.projectDescription, "Reel 2");
    EXPECT_EQ(l.result.libraryPaths, (std::vector<std::string>{"/sfx/Foley", "", "Relative/Lib", ""}));
    EXPECT_TRUE(l.result.missingFiles.empty());
}

TEST(ProjectLoad, AFrameRateOutsideWhatTheProgramUsesTakesTheDefault) {
    // At 2^60 frames per second the timecode's divisor wrapped to 0: opening
    // the file killed the program on its first frame.
    TempDir dir;
    for (const char* fps : {"1.152921504606847e18", "1e39", "241", "0.5", "-24", "\"25\""}) {
        Loaded l = LoadText(dir, ProjectText(std::string("  \"fps\": ") + fps));
        ASSERT_TRUE(l.result.ok) << fps;
        EXPECT_FLOAT_EQ(l.project.fps, 24.0f) << fps;
        char text[32];
        FormatTimecode(l.project, 3723.5f, text, sizeof text);
        EXPECT_STREQ(text, "01:02:03:12") << fps;
    }
    for (float kept : {1.0f, 23.976f, 120.0f, 240.0f}) {
        Loaded l = LoadText(dir, ProjectText("  \"fps\": " + std::to_string(kept)));
        EXPECT_NEAR(l.project.fps, kept, 1e-4f);
    }
    // Formatting never trusts the rate it is handed either.
    Project wild;
    char text[32];
    for (float fps : {1.152921504606847e18f, 1e30f, std::nanf("")}) {
        wild.fps = fps;
        FormatTimecode(wild, 10.0f, text, sizeof text);
        EXPECT_STREQ(text, "00:00:10:00");
        EXPECT_FLOAT_EQ(ParseTimecode(wild, "00:00:10:05"), 10.2f);
    }
}

TEST(ProjectLoad, TrackLayoutChangesOnlyWhatTheFileHolds) {
    TempDir dir;
    Project start;
    start.groups[2].trackCount = 6;
    start.groups[2].stereo = false;
    start.budgetMode = true;
    Loaded l = LoadText(dir, ProjectText(R"(  "trackLayout": {
    "group0": {"name": "Backgrounds with a name longer than 31", "trackCount": 0, "stereo": false, "targetLUFS": -80},
    "group1": {"name": "", "trackCount": 64, "targetLUFS": 0},
    "group2": {"name": "Crowd"},
    "group3": {"trackCount": 7}
  })"), start);
    ASSERT_TRUE(l.result.ok);
    const MixGroup* g = l.project.groups;
    EXPECT_EQ(std::string(g[0].name), "Backgrounds with a name longer ");
    EXPECT_EQ(std::string(g[0].name).size(), 31u);
    EXPECT_EQ(g[0].trackCount, 1);
    EXPECT_FALSE(g[0].stereo);
    EXPECT_FLOAT_EQ(g[0].targetLUFS, -60.0f);
    EXPECT_EQ(std::string(g[1].name), "FX A");  // an empty name keeps the group's
    EXPECT_EQ(g[1].trackCount, 48);
    EXPECT_TRUE(g[1].stereo);
    EXPECT_FLOAT_EQ(g[1].targetLUFS, -6.0f);
    EXPECT_EQ(std::string(g[2].name), "Crowd");
    EXPECT_EQ(g[2].trackCount, 6);  // no "trackCount": the document's count stays
    EXPECT_FALSE(g[2].stereo);
    EXPECT_TRUE(l.project.budgetMode);  // no "budgetMode" member

    Loaded forty = LoadText(dir, ProjectText(R"(  "trackLayout": {"budgetMode": 1, "group1": {"trackCount": 40}})"), start);
    EXPECT_EQ(forty.project.groups[1].trackCount, 40);  // the panel's budget survives a reopen
    EXPECT_FALSE(forty.project.budgetMode);  // present but not a bool
}

// ---------------------------------------------------------------------------
// File references and banned files
// ---------------------------------------------------------------------------

TEST(ProjectLoad, FileReferencesReachTheRegistryWithTheirStoredFingerprint) {
    TempDir dir;
    fs::create_directories(dir.File("Audio"));
    const std::string sound = dir.File("Audio/ref.wav");
    WriteWholeFile(sound, WavHolding(UniqueContent(sound)));
    uint64_t hash = 0, size = 0;
    ASSERT_TRUE(FingerprintFile(sound, hash, size));
    const std::string ids[4] = {"7e57000000000001", "7e57000000000002", "7e57000000000003", "7e57000000000004"};
    // Ids from the run's own random source would collide with nothing; these
    // are made unique per run by the folder's name.
    std::string suffix = fs::path(dir.path()).filename().string();
    auto id = [&](int i) { return ids[i] + suffix; };
    Loaded l = LoadText(dir, ProjectText("  \"fileRefs\": [\n"
        "    {\"id\": \"" + id(0) + "\", \"hash\": \"" + U64ToHex(hash) + "\", \"size\": \"" + std::to_string(size) + "\", \"path\": \"Audio/ref.wav\"},\n"
        "    {\"id\": \"" + id(1) + "\", \"size\": \"12x\", \"path\": \"/elsewhere/a.wav\"},\n"
        "    {\"id\": \"" + id(2) + "\", \"size\": \"99999999999999999999999\", \"path\": \"/elsewhere/b.wav\"},\n"
        "    {\"id\": \"\", \"path\": \"/elsewhere/c.wav\"}\n  ]"));
    ASSERT_TRUE(l.result.ok);
    FileRegistry& registry = FileRegistry::Instance();
    FileRef ref;
    ASSERT_TRUE(registry.GetFileRef(id(0), ref));
    EXPECT_EQ(ref.path, fs::canonical(sound).string());
    EXPECT_EQ(ref.hash, hash);
    EXPECT_EQ(ref.size, size);
    ASSERT_TRUE(registry.GetFileRef(id(1), ref));
    EXPECT_EQ(ref.size, 0u);
    ASSERT_TRUE(registry.GetFileRef(id(2), ref));
    EXPECT_EQ(ref.size, 0u);
    EXPECT_EQ(registry.FindPath(id(0)), fs::canonical(sound).string());
}

TEST(ProjectLoad, BannedFilesGetIdsFromContentAndNeverKeepThePreviousOnes) {
    TempDir dir;
    const std::string readable = dir.File("banned.wav");
    WriteWholeFile(readable, WavHolding(UniqueContent(readable)));
    const std::string gone = dir.File("gone.wav");
    const std::string expectedId = FileRegistry::Instance().FileRefForPath(readable).id;
    ASSERT_FALSE(expectedId.empty());

    Loaded filled = LoadText(dir, ProjectText("  \"bannedFiles\": [\"" + readable + "\", \"\", \"" + gone + "\"]"),
                             OpenDocument());
    ASSERT_TRUE(filled.result.ok);
    EXPECT_EQ(filled.project.bannedFiles, (std::vector<std::string>{readable, gone}));
    EXPECT_EQ(filled.project.bannedFileIds, (std::vector<std::string>{expectedId, ""}));

    Loaded cut = LoadText(dir, ProjectText("  \"bannedFiles\": [\"/a.wav\", \"/b.wav\"],\n"
                                           "  \"bannedFileIds\": [\"1111111111111111\", \"\", \"3333333333333333\"]"));
    EXPECT_EQ(cut.project.bannedFileIds, (std::vector<std::string>{"1111111111111111", ""}));

    Loaded none = LoadText(dir, ProjectText(""), OpenDocument());
    EXPECT_TRUE(none.project.bannedFiles.empty());
    EXPECT_TRUE(none.project.bannedFileIds.empty());
}

// ---------------------------------------------------------------------------
// Picture trace, user shapes, events, video
// ---------------------------------------------------------------------------

TEST(ProjectLoad, OpticalTraceFramesByStrideAndSuggestionsWithTheirDefaults) {
    TempDir dir;
    std::string numbers;
    for (int i = 0; i < 25; ++i) numbers += (i ? ", " : "") + std::to_string(i);
    Loaded two = LoadText(dir, ProjectText("  \"optical\": {\"duration\": 12, \"fps\": 10, \"numFrames\": 2, "
                                           "\"opticalDetail\": 1.5, \"frameStride\": 11, \"frames\": [" + numbers + "]}"));
    ASSERT_TRUE(two.result.ok);
    const OpticalTrace& t = two.result.trace;
    ASSERT_EQ(t.frames.size(), 2u);
    EXPECT_FLOAT_EQ(t.frames[1].time, 11.0f);
    EXPECT_FLOAT_EQ(t.frames[1].threshold, 21.0f);
    EXPECT_TRUE(t.present);
    EXPECT_FLOAT_EQ(t.duration, 12.0f);
    EXPECT_FLOAT_EQ(two.result.opticalDetail, 1.0f);

    // A stride below the frame's own eleven values reads as eleven; a wider
    // one skips the values past the eleventh.
    Loaded narrow = LoadText(dir, ProjectText("  \"optical\": {\"frameStride\": 5, \"frames\": [" + numbers + "]}"));
    EXPECT_EQ(narrow.result.trace.frames.size(), 2u);
    Loaded wide = LoadText(dir, ProjectText("  \"optical\": {\"frameStride\": 12, \"frames\": [" + numbers + ", \"x\"]}"));
    ASSERT_EQ(wide.result.trace.frames.size(), 2u);
    EXPECT_FLOAT_EQ(wide.result.trace.frames[1].time, 12.0f);
    EXPECT_FLOAT_EQ(wide.result.trace.frames[1].threshold, 22.0f);

    std::string curve;
    for (int i = 0; i < 256; ++i) curve += (i ? "," : "") + std::string(i == 3 ? "\"x\"" : "0.25");
    Loaded suggestions = LoadText(dir, ProjectText(
        "  \"optical\": {\"frames\": [], \"events\": [{\"time\": 3.5, \"type\": 5, \"tier\": -1, \"suggestedShape\": 9},\n"
        "    {\"intensityCurve\": [" + curve + "], \"keywords\": \"door\", \"presetName\": \"Slam\", \"accepted\": false, \"peelLayer\": 2}]}"));
    const OpticalTrace& s = suggestions.result.trace;
    EXPECT_FALSE(s.present);  // suggestions alone are no trace
    ASSERT_EQ(s.suggestions.size(), 2u);
    const SuggestedEvent& a = s.suggestions[0];
    EXPECT_FLOAT_EQ(a.time, 3.5f);
    EXPECT_EQ(a.type, 2);
    EXPECT_EQ(a.tier, 0);
    EXPECT_EQ(a.suggestedShape, kShapeCount - 1);
    EXPECT_FLOAT_EQ(a.suggestedDuration, 1.0f);
    EXPECT_FLOAT_EQ(a.intensity, 1.0f);
    EXPECT_FLOAT_EQ(a.suggestedGain, 1.0f);
    EXPECT_FLOAT_EQ(a.suggestedWeightCenter, 0.3f);
    EXPECT_FLOAT_EQ(a.suggestedSpread, 0.3f);
    EXPECT_FALSE(a.hasIntensityCurve);
    EXPECT_TRUE(a.accepted);
    const SuggestedEvent& b = s.suggestions[1];
    EXPECT_TRUE(b.hasIntensityCurve);
    EXPECT_FLOAT_EQ(b.intensityCurve[0], 0.25f);
    EXPECT_FLOAT_EQ(b.intensityCurve[3], 0.0f);
    EXPECT_EQ(std::string(b.keywords), "door");
    EXPECT_EQ(std::string(b.presetName), "Slam");
    EXPECT_FALSE(b.accepted);
    EXPECT_EQ(b.peelLayer, 2);

    Loaded none = LoadText(dir, ProjectText("  \"optical\": [1, 2]"));
    EXPECT_FALSE(none.result.trace.present);
    EXPECT_FLOAT_EQ(none.result.trace.fps, 10.0f);
    EXPECT_FLOAT_EQ(none.result.opticalDetail, 0.35f);
}

TEST(ProjectLoad, UserShapesEventsLinkedGroupsAndTheVideo) {
    TempDir dir;
    const std::string video = dir.File("picture.mov");
    WriteWholeFile(video, "not really a film");
    const std::string longPath = "/" + std::string(600, 'p') + ".wav";
    Loaded l = LoadText(dir, ProjectText(
        "  \"videoPath\": \"picture.mov\",\n"
        "  \"linkedGroups\": [\"Doors\", \"\", 3, \"Cars\", \"Doors\"],\n"
        "  \"userShapes\": [{\"name\": \"Swell\", \"weight\": [0.1, 0.2]}, {\"spread\": 0.7}],\n"
        "  \"events\": [{\"userShapeIdx\": 1, \"pinnedFile\": \"" + longPath + "\"}, {\"userShapeIdx\": 2}]"),
        OpenDocument());
    ASSERT_TRUE(l.result.ok);
    EXPECT_EQ(l.result.videoPath, fs::canonical(video).string());
    EXPECT_EQ(l.result.linkedGroups, (std::set<std::string>{"Cars", "Doors"}));
    ASSERT_EQ(l.project.userShapes.size(), 2u);
    const UserShape& swell = l.project.userShapes[0];
    EXPECT_EQ(std::string(swell.name), "Swell");
    EXPECT_FLOAT_EQ(swell.defaultDuration, 2.0f);
    EXPECT_FLOAT_EQ(swell.weightCenter, 0.3f);
    EXPECT_FLOAT_EQ(swell.weight[1], 0.2f);
    EXPECT_FLOAT_EQ(swell.weight[2], 0.5f);
    EXPECT_FLOAT_EQ(swell.intensity[0], 0.5f);
    EXPECT_FLOAT_EQ(l.project.userShapes[1].spread, 0.7f);
    ASSERT_EQ(l.project.events.size(), 2u);
    EXPECT_EQ(l.project.events[0].userShapeIdx, 1);
    EXPECT_EQ(l.project.events[1].userShapeIdx, -1);
    // A pinned path that its field cannot hold is not kept cut: it is missing.
    EXPECT_EQ(l.project.events[0].pinnedFile[0], '\0');
    EXPECT_EQ(l.result.missingFiles, (std::vector<std::string>{longPath}));
    EXPECT_TRUE(l.project.results.empty());
    EXPECT_FALSE(l.project.rendered);

    fs::remove(video);
    Loaded gone = LoadText(dir, ProjectText("  \"videoPath\": \"" + video + "\""));
    EXPECT_EQ(gone.result.missingFiles, (std::vector<std::string>{video}));
}

// ---------------------------------------------------------------------------
// Settings read on their own
// ---------------------------------------------------------------------------

TEST(ProjectSettings, DefaultsScenesGainsAndReverb) {
    TempDir dir;
    const ProjectFileSettings none = ReadProjectSettingsJson(dir.File("missing.tlproj"));
    EXPECT_TRUE(none.exportWithHandles);
    EXPECT_TRUE(none.snapToFrames);
    EXPECT_FALSE(none.exportFillVirtual);
    EXPECT_FLOAT_EQ(none.workAreaIn, -1.0f);
    EXPECT_FLOAT_EQ(none.reverb.macro.load(), 0.65f);

    const std::string path = dir.File("settings.tlproj");
    WriteWholeFile(path, R"({"exportWithHandles": false, "handleDuration": 2.5, "handleFullSource": true,
  "snapToFrames": false, "exportFillVirtual": true, "exportWavStems": true, "exportFormatAAF": false,
  "exportAAFSourceChannels": 1, "fadeInDuration": 0.2,
  "workAreaIn": 4, "workAreaOut": 9.5,
  "masterGain": 250, "refGain": -3, "groupGain1": 0.5,
  "scenes": [{"name": "Hall", "inTime": 1, "outTime": 5, "keywords": "reverb"},
             {"name": "Zero", "inTime": 6, "outTime": 6}, {"name": "Back", "inTime": 8, "outTime": 7}],
  "reverb": {"enabled": false, "size": 0.9, "groupSends": [0.5]}})");
    const ProjectFileSettings s = ReadProjectSettingsJson(path);
    EXPECT_FALSE(s.exportWithHandles);
    EXPECT_FLOAT_EQ(s.exportSettings.handleDuration, 2.5f);
    EXPECT_TRUE(s.exportSettings.handleFullSource);
    EXPECT_FALSE(s.snapToFrames);
    EXPECT_TRUE(s.exportFillVirtual);
    EXPECT_TRUE(s.exportSettings.exportWavStems);
    EXPECT_FALSE(s.exportSettings.exportFormatAAF);
    EXPECT_TRUE(s.exportSettings.exportAAFSourceChannels);  // a number is no bool
    EXPECT_FLOAT_EQ(s.exportSettings.fadeInDuration, 0.2f);
    EXPECT_FLOAT_EQ(s.workAreaIn, 4.0f);
    EXPECT_FLOAT_EQ(s.workAreaOut, 9.5f);
    EXPECT_FLOAT_EQ(s.masterGain, 100.0f);
    EXPECT_FLOAT_EQ(s.refGain, 0.0f);
    EXPECT_FLOAT_EQ(s.groupGains[0], 1.0f);
    EXPECT_FLOAT_EQ(s.groupGains[1], 0.5f);
    ASSERT_EQ(s.scenes.size(), 1u);  // no zero- or negative-length scene
    EXPECT_EQ(std::string(s.scenes[0].name), "Hall");
    EXPECT_EQ(std::string(s.scenes[0].keywords), "reverb");
    EXPECT_EQ(s.reverb.enabled.load(), 0);
    EXPECT_FLOAT_EQ(s.reverb.size.load(), 0.9f);
    EXPECT_FLOAT_EQ(s.reverb.decay.load(), 0.5f);
    EXPECT_FLOAT_EQ(s.reverb.groupSends[0].load(), 0.5f);
    EXPECT_FLOAT_EQ(s.reverb.groupSends[1].load(), 0.2f);
    EXPECT_FLOAT_EQ(s.reverb.groupSends[2].load(), 0.2f);
    EXPECT_FLOAT_EQ(s.reverb.macro.load(), 0.65f);
}

// ---------------------------------------------------------------------------
// Library names in event filters
// ---------------------------------------------------------------------------

TEST(ProjectLoad, RenamedLibrariesAreRewrittenInFiltersAndOthersKeptByteForByte) {
    TempDir dir;
    Loaded l = LoadText(dir, ProjectText(R"(  "events": [
    {"libFilter": " Old Foley ,  Ambience ,Gone"},
    {"libFilter": "Ambience ,  Gone "},
    {"libFilter": "First Name, Second Name"}
  ])"));
    ASSERT_TRUE(l.result.ok);
    SoundLibrary library;
    LibraryIndex foley;
    foley.name = "Foley";
    foley.previousNames = {"Old Foley"};
    LibraryIndex ambience;
    ambience.name = "Ambience";
    LibraryIndex renamedTwice;
    renamedTwice.name = "Third Name";
    renamedTwice.previousNames = {"First Name", "Second Name"};
    library.libraries = {foley, ambience, renamedTwice};

    NormalizeEventLibFilters(l.project, library);
    EXPECT_EQ(std::string(l.project.events[0].libFilter), "Foley,Ambience,Gone");
    EXPECT_EQ(std::string(l.project.events[1].libFilter), "Ambience ,  Gone ");
    EXPECT_EQ(std::string(l.project.events[2].libFilter), "Third Name,Third Name");
}
