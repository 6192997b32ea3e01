// The project file: its exact text for a fresh document, the keys that come
// and go with their conditions, file references, the picture trace, the video
// path, and the promise that a save never leaves a broken file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "persistence/collect_audio.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "persistence/project_file.h"
#include "picture/trace_records.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A fresh program's project, written as the format lays it out.
const char kDefaultProjectText[] = R"({
  "format": "Tessaloom",
  "version": 5,
  "minReaderVersion": 1,
  "savedBy": "2026.8",
  "videoPath": "",
  "videoStartTime": 0,
  "totalDuration": 30,
  "fps": 24,
  "projectSampleRate": 48000,
  "startTC": 0,
  "masterGain": 1,
  "refGain": 1,
  "groupGain0": 1,
  "groupGain1": 1,
  "groupGain2": 1,
  "maxEventDuration": 30,
  "scaleType": 0,
  "scaleRoot": 0,
  "pitchShiftProb": 0,
  "freqShiftIntensity": 0,
  "reverseProb": 0,
  "normalizeLUFS": true,
  "alloyAlgorithm": 2,
  "alloyTransferDepth": 0.2,
  "alloyAttackGraft": 0.03,
  "alloyMicroPitch": 0.03,
  "alloyFilterBands": 10,
  "libraryPaths": [
],
  "trackLayout": 
  {
    "budgetMode": false,
    "group0": 
    {
      "name": "BG",
      "trackCount": 8,
      "stereo": true,
      "targetLUFS": -52
    },
    "group1": 
    {
      "name": "FX A",
      "trackCount": 8,
      "stereo": true,
      "targetLUFS": -16
    },
    "group2": 
    {
      "name": "FX B",
      "trackCount": 8,
      "stereo": true,
      "targetLUFS": -25
    }
  },
  "bannedFiles": [
],
  "userShapes": 
  [
  ],
  "events": 
  [
  ],
  "results": 
  [
  ],
  "exportWithHandles": true,
  "handleDuration": 1,
  "handleFullSource": false,
  "fadeInDuration": 0.01,
  "fadeOutDuration": 0.05,
  "snapToFrames": false,
  "exportAAFMarkers": false,
  "exportAAFVolAuto": true,
  "exportFillVirtual": true,
  "exportFormatAAF": true,
  "exportFormatWAV": true,
  "exportWavMixdown": true,
  "exportWavStems": false,
  "exportWavTracks": false,
  "exportWavClips": false,
  "exportReverbStem": true,
  "exportAAFSourceChannels": true,
  "workAreaIn": -1,
  "workAreaOut": -1,
  "scenes": 
  [
  ],
  "reverb": 
  {
    "enabled": true,
    "size": 0.5,
    "decay": 0.5,
    "damping": 0.3,
    "preDelay": 0.015,
    "diffusion": 0.7,
    "modulation": 0.5,
    "groupSends": 
    [
      0.2,
      0.2,
      0.2
    ]
  }
})";

std::vector<std::string> TopLevelKeys(const std::string& text) {
    std::vector<std::string> keys;
    for (const JsonMember& m : ParseJsonText(text.c_str()).members) keys.push_back(m.key);
    return keys;
}

// A fresh id per call, so tests sharing the process-wide registry never meet.
std::string UniqueId() {
    static int counter = 0;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", static_cast<unsigned>(::getpid()), 0x5a000000u + ++counter);
    return text;
}

std::string ProjectText(const ProjectSaveContext& ctx, const std::string& folder = "/nowhere") {
    return BuildProjectJson(ctx, CollectedAudioMap{}, folder);
}

}  // namespace

TEST(ProjectFile, FreshProjectIsWrittenByteForByte) {
    TempDir dir;
    Project doc;
    ProjectSaveContext ctx;
    ctx.project = &doc;
    const std::string path = dir.File("Fresh.tlproj");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(WriteProjectFile(path, ctx));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadWholeFile(path), kDefaultProjectText);
    EXPECT_EQ(log, "[Project] Saved " + path + " — 0 audio files collected\n");
    EXPECT_FALSE(fs::exists(path + ".tmp"));
    EXPECT_FALSE(fs::exists(dir.File("Audio")));  // nothing to collect, nothing made
}

TEST(ProjectFile, OptionalKeysAppearWhenSetInTableOrder) {
    Project doc;
    doc.bannedFiles = {"/sounds/banned.wav"};
    doc.bannedFileIds = {UniqueId()};
    Scene scene;
    CopyTextField(scene.name, "Chase");
    doc.scenes.push_back(scene);
    doc.userShapes.push_back(UserShape{});
    OpticalTrace trace;
    trace.present = true;
    trace.frames.resize(2);
    ProjectSaveContext ctx;
    ctx.project = &doc;
    ctx.projectDescription = "Reel 3";
    ctx.linkedGroups = {"Doors", "Cars"};
    ctx.optical = &trace;

    const std::string text = ProjectText(ctx);
    EXPECT_EQ(TopLevelKeys(text),
              (std::vector<std::string>{
                  "format", "version", "minReaderVersion", "savedBy", "videoPath", "videoStartTime",
                  "totalDuration", "fps", "projectSampleRate", "startTC", "masterGain", "refGain",
                  "groupGain0", "groupGain1", "groupGain2", "projectDescription", "maxEventDuration",
                  "scaleType", "scaleRoot", "pitchShiftProb", "freqShiftIntensity", "reverseProb",
                  "normalizeLUFS", "alloyAlgorithm", "alloyTransferDepth", "alloyAttackGraft",
                  "alloyMicroPitch", "alloyFilterBands", "libraryPaths", "trackLayout", "bannedFiles",
                  "bannedFileIds", "fileRefs", "linkedGroups", "userShapes", "events", "results",
                  "exportWithHandles", "handleDuration", "handleFullSource", "fadeInDuration",
                  "fadeOutDuration", "snapToFrames", "exportAAFMarkers", "exportAAFVolAuto",
                  "exportFillVirtual", "exportFormatAAF", "exportFormatWAV", "exportWavMixdown",
                  "exportWavStems", "exportWavTracks", "exportWavClips", "exportReverbStem",
                  "exportAAFSourceChannels", "workAreaIn", "workAreaOut", "scenes", "reverb", "optical"}));
    // The set of linked groups comes out sorted, as a flat list.
    EXPECT_NE(text.find("\"linkedGroups\": [\n  \"Cars\",\n  \"Doors\"\n],"), std::string::npos);
    EXPECT_NE(text.find("\"projectDescription\": \"Reel 3\","), std::string::npos);
}

TEST(ProjectFile, FileReferencesAreSortedOnceEachAndSkipZeroFingerprints) {
    TempDir dir;
    const std::string project = dir.File("proj");
    fs::create_directories(dir.File("lib"));
    const std::string sound = dir.File("lib/hit.wav");
    ASSERT_TRUE(WriteWholeFile(sound, WavHolding("hit for file refs " + dir.path())));
    FileRegistry& registry = FileRegistry::Instance();
    const FileRef known = registry.FileRefForPath(sound);  // hash and size known
    const std::string bare = UniqueId();                    // path only
    registry.RegisterFileRef(FileRef{bare, "/sounds/bare.wav", 0, 0});
    const std::string unknown = UniqueId();                 // never registered
    const std::string bounced = UniqueId();                 // used by a bounce source only

    Project doc;
    RenderResult a;
    a.filepath = sound;
    a.fileId = known.id;
    RenderResult b = a;
    b.alloyEnv.fileId = unknown;  // any layer's alloy ids count, whatever its mode
    doc.results = {a, b};
    Event e;
    e.pinnedFileId = bare;
    e.pinnedFileIds = {known.id, ""};
    Event source;
    source.pinnedFileId = bounced;
    e.bounceSource.push_back(source);
    doc.events.push_back(e);
    doc.bannedFileIds = {bare};

    ProjectSaveContext ctx;
    ctx.project = &doc;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(WriteProjectFile(project + ".tlproj", ctx));
    testing::internal::GetCapturedStdout();
    const std::string text = ReadWholeFile(project + ".tlproj");
    const JsonValue refs = JsonGetMember(ParseJsonText(text.c_str()), "fileRefs");
    std::vector<std::string> ids = {known.id, bare, unknown};
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(JsonArraySize(refs), 3);
    std::map<std::string, const JsonValue*> byId;
    for (int i = 0; i < 3; ++i) {
        const JsonValue& ref = JsonGetElement(refs, i);
        EXPECT_EQ(JsonGetMember(ref, "id").text, ids[static_cast<size_t>(i)]);
        byId[JsonGetMember(ref, "id").text] = &ref;
    }
    const JsonValue& k = *byId[known.id];
    EXPECT_EQ(JsonGetMember(k, "hash").text, U64ToHex(known.hash));
    EXPECT_EQ(JsonGetMember(k, "size").type, kJsonString);  // a quoted decimal
    EXPECT_EQ(JsonGetMember(k, "size").text, std::to_string(known.size));
    EXPECT_EQ(JsonGetMember(k, "path").text, "Audio/hit.wav");  // through the collected map
    const JsonValue& bareRef = *byId[bare];
    EXPECT_EQ(bareRef.members.size(), 2u);
    EXPECT_EQ(JsonGetMember(bareRef, "path").text, "/sounds/bare.wav");
    const JsonValue& unknownRef = *byId[unknown];
    EXPECT_EQ(unknownRef.members.size(), 2u);
    EXPECT_EQ(JsonGetMember(unknownRef, "path").text, "");
    EXPECT_EQ(text.find(bounced), text.rfind(bounced));  // only in the bounce source itself
    // Result paths come out collected as well.
    EXPECT_EQ(JsonGetMember(JsonGetElement(JsonGetMember(ParseJsonText(text.c_str()), "results"), 0), "filepath").text,
              "Audio/hit.wav");
}

TEST(ProjectFile, PictureTraceRowsAndSuggestions) {
    Project doc;
    ProjectSaveContext ctx;
    ctx.project = &doc;
    OpticalTrace trace;
    trace.present = true;
    ctx.optical = &trace;
    EXPECT_FALSE(JsonHasMember(ParseJsonText(ProjectText(ctx).c_str()), "optical"));  // no frames

    trace.duration = 12.5f;
    trace.numFrames = 2;
    trace.frames.resize(2);
    trace.frames[0] = TraceFrame{0.1f, 0.123456f, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    trace.frames[1].time = 0.2f;
    SuggestedEvent plain;
    plain.time = 1.5f;
    SuggestedEvent full = plain;
    full.hasIntensityCurve = true;
    full.intensityCurve.fill(0.25f);
    CopyTextField(full.keywords, "whoosh");
    CopyTextField(full.presetName, "Pass-by");
    full.accepted = true;
    trace.suggestions = {plain, full};
    ctx.opticalDetail = 0.6f;
    const std::string text = ProjectText(ctx);
    EXPECT_NE(text.find("\n    \"frameStride\": 11,\n    \"frames\": [\n      0.1,0.1235,2,3,4,5,6,7,8,9,10,\n"
                        "      0.2,0,0,0,0,0,0,0,0,0,0\n    ],"),
              std::string::npos);
    const JsonValue optical = JsonGetMember(ParseJsonText(text.c_str()), "optical");
    EXPECT_EQ(JsonGetFloat(JsonGetMember(optical, "opticalDetail"), 0), 0.6f);
    EXPECT_EQ(JsonArraySize(JsonGetMember(optical, "frames")), 22);
    const JsonValue& events = JsonGetMember(optical, "events");
    ASSERT_EQ(JsonArraySize(events), 2);
    EXPECT_FALSE(JsonHasMember(JsonGetElement(events, 0), "intensityCurve"));
    EXPECT_FALSE(JsonHasMember(JsonGetElement(events, 0), "keywords"));
    EXPECT_EQ(JsonArraySize(JsonGetMember(JsonGetElement(events, 1), "intensityCurve")), 256);
    EXPECT_EQ(JsonGetMember(JsonGetElement(events, 1), "presetName").text, "Pass-by");
    EXPECT_EQ(JsonGetElement(events, 1).members.back().key, "peelLayer");
}

TEST(ProjectFile, VideoPathIsRelativeOnlyInsideTheProjectFolder) {
    TempDir dir;
    const std::string folder = dir.File("Film");
    fs::create_directories(folder + "/Picture");
    fs::create_directories(dir.File("Film2"));
    Project doc;
    ProjectSaveContext ctx;
    ctx.project = &doc;
    auto stored = [&](const std::string& video) {
        ctx.videoPath = video;
        return JsonGetMember(ParseJsonText(ProjectText(ctx, folder).c_str()), "videoPath").text;
    };
    EXPECT_EQ(stored(folder + "/Picture/reel 1.mov"), "Picture/reel 1.mov");
    EXPECT_EQ(stored(folder + "/../Film/Picture/x.mp4"), "Picture/x.mp4");
    EXPECT_EQ(stored(dir.File("Film2/x.mp4")), dir.File("Film2/x.mp4"));  // a sibling sharing the prefix
    EXPECT_EQ(stored("/elsewhere/x.mp4"), "/elsewhere/x.mp4");
    EXPECT_EQ(stored(""), "");
}

// ---------------------------------------------------------------------------
// A save either replaces the file whole or leaves it untouched
// ---------------------------------------------------------------------------

namespace {

// A project with `events` curve-carrying events and one layer per sound.
Project DocumentWith(int events, const std::vector<std::string>& sounds) {
    Project doc;
    for (int i = 0; i < events; ++i) AddEvent(doc, 0.5f * i, i % kShapeCount, 0.5f);
    for (const std::string& sound : sounds) {
        RenderResult r;
        r.filepath = sound;
        r.name = fs::path(sound).stem().string();
        doc.results.push_back(r);
    }
    return doc;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

TEST(ProjectFileSafety, FailedSavesKeepThePreviousFile) {
    TempDir dir;
    const std::string path = dir.File("Keep.tlproj");
    Project oldDoc = DocumentWith(1, {});
    ProjectSaveContext ctx;
    ctx.project = &oldDoc;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(WriteProjectFile(path, ctx));
    const std::string oldText = ReadWholeFile(path);
    Project newDoc = DocumentWith(40, {});
    ctx.project = &newDoc;

    // The temporary file cannot be created (a folder holds its name).
    fs::create_directories(path + ".tmp");
    EXPECT_FALSE(WriteProjectFile(path, ctx));
    EXPECT_EQ(ReadWholeFile(path), oldText);
    EXPECT_TRUE(fs::is_empty(path + ".tmp"));
    fs::remove(path + ".tmp");

    // The move fails (the target is a folder that is not empty): logged.
    const std::string folderTarget = dir.File("Folder.tlproj");
    fs::create_directories(folderTarget + "/inside");
    EXPECT_FALSE(WriteProjectFile(folderTarget, ctx));
    EXPECT_FALSE(fs::exists(folderTarget + ".tmp"));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Project] Rename failed: "), std::string::npos);

    // A full disk: the child may write only a little, then every write fails.
    std::fflush(stdout);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(WriteProjectFile(path, ctx) ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(ExitCodeOf(status), 3);
    EXPECT_EQ(ReadWholeFile(path), oldText);
    EXPECT_FALSE(fs::exists(path + ".tmp"));
    EXPECT_GT(ProjectText(ctx).size(), 1024u * 4);
}

TEST(ProjectFileSafety, KilledSavesLeaveTheOldOrTheNewFileWhole) {
    TempDir dir;
    fs::create_directories(dir.File("lib"));
    std::map<std::string, std::string> soundBytes;  // collected name -> content
    std::vector<std::string> sounds;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "take_" + std::to_string(i) + ".wav";
        std::string bytes = WavHolding(std::string((1 << 20) + i, static_cast<char>('a' + i)) + dir.path());
        ASSERT_TRUE(WriteWholeFile(dir.File("lib/" + name), bytes));
        soundBytes[name] = bytes;
        sounds.push_back(dir.File("lib/" + name));
    }
    const std::string folder = dir.File("proj");
    fs::create_directories(folder);
    const std::string path = folder + "/Scene.tlproj";
    const std::string audio = folder + "/Audio";

    Project oldDoc = DocumentWith(20, {sounds[0], sounds[1]});
    Project newDoc = DocumentWith(300, sounds);
    ProjectSaveContext oldCtx, newCtx;
    oldCtx.project = &oldDoc;
    newCtx.project = &newDoc;

    // The new file's text, from a complete save in a folder of its own.
    testing::internal::CaptureStdout();
    const std::string reference = dir.File("reference");
    fs::create_directories(reference);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteProjectFile(reference + "/Scene.tlproj", newCtx));
    const auto saveTime = std::chrono::steady_clock::now() - start;
    const std::string newText = ReadWholeFile(reference + "/Scene.tlproj");
    ASSERT_TRUE(WriteProjectFile(path, oldCtx));
    testing::internal::GetCapturedStdout();
    const std::string oldText = ReadWholeFile(path);
    ASSERT_NE(oldText, newText);

    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count() * 6 / 5 + 1000;
    constexpr int kRuns = 50;
    int endedOld = 0, endedNew = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        // Back to the old project: its file and its two copies only.
        ASSERT_TRUE(WriteWholeFile(path, oldText));
        for (const auto& entry : fs::directory_iterator(audio)) {
            const std::string name = entry.path().filename().string();
            if (name != "take_0.wav" && name != "take_1.wav") fs::remove(entry.path());
        }
        std::fflush(stdout);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::fclose(stdout);  // the save's log line is not wanted here
            ::_exit(WriteProjectFile(path, newCtx) ? 0 : 3);
        }
        // The last runs finish; the others are killed somewhere across the save.
        if (run < kRuns - 5) {
            std::this_thread::sleep_for(std::chrono::microseconds(span * run / (kRuns - 5)));
            ::kill(child, SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        const std::string text = ReadWholeFile(path);
        const bool isOld = text == oldText, isNew = text == newText;
        ASSERT_TRUE(isOld || isNew) << "a project file of " << text.size() << " bytes";
        endedOld += isOld;
        endedNew += isNew;
        int copies = 0;
        for (const auto& entry : fs::directory_iterator(audio)) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') continue;  // a copy still under its temporary name
            ASSERT_EQ(soundBytes.count(name), 1u) << name;
            ASSERT_EQ(ReadWholeFile(entry.path().string()), soundBytes[name]) << name << " cut short";
            ++copies;
        }
        if (isNew) {
            EXPECT_EQ(copies, 6);
        }
    }
    EXPECT_GE(endedOld, 1);
    EXPECT_GE(endedNew, 5);
    std::printf("[Test] %d saves ended old, %d new (save takes %lld us)\n", endedOld, endedNew,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count()));
}
