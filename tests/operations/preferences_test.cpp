// The preferences file: its default form, round trips of every key, the
// reading rules, damaged and foreign line ends, long and odd paths, and the
// rewrite after stale recent entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/preferences.h"
#include "operations/recent_projects.h"
#include "playback/audio_engine.h"
#include "support/document_records.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Fresh records for one load or save, apart from the program's globals.
struct Rig : DocumentRecords {
    PreferenceTargets targets;

    explicit Rig(const std::string& path) : targets{*app, *project, *engine, *library, path} {}
    void Load() { LoadPreferences(targets); }
    void Save() { SavePreferences(targets); }
    void AddLibrary(const std::string& folder, uint8_t enabled, int32_t group) {
        LibraryIndex index;
        index.name = fs::path(folder).filename().string();
        index.path = folder;
        index.enabled = enabled;
        index.group = group;
        library->libraries.push_back(index);
    }
};

// The settings a designer would have after changing every one of them.
void SetEveryValue(Rig& rig, const std::string& recent, const std::string& folder) {
    AppState& a = *rig.app;
    ExportSettings& e = a.exportSettings;
    e.handleDuration = 2.5f;
    e.handleFullSource = true;
    e.fadeInDuration = 0.125f;
    e.fadeOutDuration = 1.5f;
    e.exportAAFMarkers = true;
    e.exportAAFVolAuto = false;
    e.exportAAFSourceChannels = false;
    e.exportFormatAAF = false;
    e.exportFormatWAV = false;
    e.exportWavMixdown = false;
    e.exportWavStems = true;
    e.exportWavTracks = true;
    e.exportWavClips = true;
    e.exportReverbStem = false;
    a.projectSampleRate = 96000;
    rig.project->maxEventDuration = 45.5f;
    a.protectSilence = false;
    rig.project->scaleType = 7;
    rig.project->scaleRoot = 11;
    rig.project->pitchShiftProb = 33;
    rig.project->freqShiftIntensity = 66;
    rig.project->reverseProb = 100;
    a.fontSizePreset = 2;
    a.fontSizeAuto = false;
    a.boldFonts = false;
    a.themeIndex = 4;
    a.colorByWeight = false;
    a.showAdvancedInspector = true;
    a.lastIntensityMode = 2;
    a.autoSaveEnabled = false;
    a.autoSaveInterval = 90;
    a.maxBackups = 12;
    a.weightColors = {0xFF030201, 0xFFA0B0C0, 0xFF0000FF};
    ReverbParams& r = rig.engine->reverb;
    r.enabled = 0;
    r.size = 0.25f;
    r.decay = 0.75f;
    r.damping = 0.125f;
    r.preDelay = 0.0625f;
    r.diffusion = 0.375f;
    r.modulation = 0.875f;
    r.macro = 0.5f;
    r.groupSends = {0.0f, 0.5f, 1.0f};
    TraceModel& m = a.opticalTrace.model;
    m.valid = true;
    m.totalSpots = 17;
    for (int i = 0; i < 5; ++i) {
        m.w[i] = 0.125f * float(i + 1);
        m.posMean[i] = -0.5f + float(i);
        m.negMean[i] = 2.25f * float(i);
    }
    m.defaultCompositeMean = 0.3125f;
    m.thresholdScale = 1.25f;
    m.subtleScale = 0.5f;
    m.spotCutoff = 0.625f;
    m.gainA = 0.75f;
    m.gainB = 0.25f;
    m.weightBias = -0.125f;
    m.spotDurScale = 1.5f;
    m.sweepDurScale = 2.5f;
    m.minGap = 0.75f;
    m.posCount = 9;
    m.negCount = 4;
    a.showLauncherOnStartup = false;
    a.updateCheckEnabled = false;
    a.dismissedUpdateVersion = "2.4.1";
    a.lastUpdateCheck = 1893456000123LL;
    a.updateAvailable = true;
    a.updateAvailableVersion = "2.5.0";
    a.updateAvailablePageUrl = "https://example.org/releases/2.5.0";
    a.updateAvailableDate = "2030-01-02";
    a.updateAvailableNotes = {"Faster scans", "Fewer clicks = happier users"};
    a.recentProjects = {recent};
    rig.AddLibrary(folder, 0, 2);
}

// key -> value of each line; the first of equal keys.
std::map<std::string, std::string> KeyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) values.emplace(line.substr(0, equals), line.substr(equals + 1));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return values;
}

std::string Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    WriteWholeFile(path, "{}");
    return path;
}

}  // namespace

TEST(Preferences, DefaultFileByteForByte) {
    TempDir dir;
    Rig rig(dir.File("com.tessaloom.prefs"));
    rig.Save();
    // Every key in the file's order, with the program's defaults; the trace
    // model is not valid, so only its flag is written.
    const char* expected =
        "handleDuration=1.00\n"
        "handleFullSource=0\n"
        "fadeInDuration=0.010\n"
        "fadeOutDuration=0.050\n"
        "exportAAFMarkers=0\n"
        "exportAAFVolAuto=1\n"
        "exportAAFSourceChannels=1\n"
        "exportFormatAAF=1\n"
        "exportFormatWAV=1\n"
        "exportWavMixdown=1\n"
        "exportWavStems=0\n"
        "exportWavTracks=0\n"
        "exportWavClips=0\n"
        "exportReverbStem=1\n"
        "projectSampleRate=48000\n"
        "maxEventDuration=30.0\n"
        "protectSilence=1\n"
        "destructiveEQ=0\n"
        "showSpectralHeatmap=0\n"
        "scaleType=0\n"
        "scaleRoot=0\n"
        "pitchShiftProb=0\n"
        "freqShiftIntensity=0\n"
        "reverseProb=0\n"
        "fontSizePreset=1\n"
        "fontSizeAuto=1\n"
        "boldFonts=1\n"
        "theme=0\n"
        "colorByWeight=1\n"
        "showAdvancedInspector=0\n"
        "lastIntensityMode=0\n"
        "autoSaveEnabled=1\n"
        "autoSaveInterval=300\n"
        "maxBackups=5\n"
        "weightColorLow=#440154\n"
        "weightColorMid=#21918C\n"
        "weightColorHigh=#FDE725\n"
        "reverbEnabled=1\n"
        "reverbSize=0.500\n"
        "reverbDecay=0.500\n"
        "reverbDamping=0.300\n"
        "reverbPreDelay=0.0150\n"
        "reverbDiffusion=0.700\n"
        "reverbModulation=0.500\n"
        "reverbMacro=0.650\n"
        "reverbSend0=0.200\n"
        "reverbSend1=0.200\n"
        "reverbSend2=0.200\n"
        "tm_valid=0\n"
        "showLauncherOnStartup=1\n"
        "updateCheckEnabled=1\n"
        "lastUpdateCheck=0\n";
    EXPECT_EQ(ReadWholeFile(rig.targets.path), expected);
    EXPECT_FALSE(fs::exists(rig.targets.path + ".tmp"));
}

TEST(Preferences, EveryKeyRoundTripsAndCrLfReadsTheSame) {
    TempDir dir;
    const std::string recent = Touch(dir.File("Projects/Chase/Chase.tlproj"));
    const std::string folder = dir.File("sfx");
    Rig defaults(dir.File("defaults.prefs"));
    defaults.Save();
    Rig written(dir.File("a.prefs"));
    SetEveryValue(written, recent, folder);
    written.Save();
    const std::string text = ReadWholeFile(written.targets.path);

    // Every key of the default file carries another value here, so reading
    // it back proves that each key reaches its setting. (The two diagnostic
    // views are switched off by every load: ReadingRules covers them.)
    const auto before = KeyValues(ReadWholeFile(defaults.targets.path));
    const auto after = KeyValues(text);
    for (const auto& [key, value] : before) {
        if (key != "destructiveEQ" && key != "showSpectralHeatmap") {
            EXPECT_NE(after.at(key), value) << key;
        }
    }
    EXPECT_TRUE(after.count("tm_negMean4") && after.count("updateAvailableNote") && after.count("libraryEx"));

    // Read and written through one table per key, so the same text again
    // means every value landed where the writer took it from.
    for (const bool windowsLineEnds : {false, true}) {
        SCOPED_TRACE(windowsLineEnds ? "CR LF" : "LF");
        std::string file = text;
        if (windowsLineEnds) {
            file.clear();
            for (char c : text) file += c == '\n' ? std::string("\r\n") : std::string(1, c);
        }
        WriteWholeFile(dir.File("b.prefs"), file);
        Rig read(dir.File("b.prefs"));
        read.AddLibrary(folder, 1, -1);  // indexed: it takes the saved flags
        read.Load();
        EXPECT_EQ(read.project->scaleType, 7);
        EXPECT_FLOAT_EQ(read.engine->reverb.preDelay, 0.0625f);
        EXPECT_FLOAT_EQ(read.app->opticalTrace.model.negMean[4], 9.0f);
        EXPECT_FLOAT_EQ(read.app->exportSettings.fadeOutDuration, 1.5f);
        EXPECT_EQ(read.app->weightColors.weightColorMid, 0xFFA0B0C0u);
        EXPECT_EQ(read.app->recentProjects, std::vector<std::string>{recent});
        EXPECT_TRUE(read.app->recentMenuDirty);
        EXPECT_EQ(read.library->libraries[0].enabled, 0);
        EXPECT_EQ(read.library->libraries[0].group, 2);
        EXPECT_TRUE(read.library->libraryAddQueue.empty());
        read.targets.path = dir.File("c.prefs");
        read.Save();
        EXPECT_EQ(ReadWholeFile(dir.File("c.prefs")), text);
    }
}

TEST(Preferences, ReadingRules) {
    TempDir dir;
    const std::string indexed = dir.File("indexed");
    struct Case {
        const char* lines;
        std::function<void(const Rig&)> check;
    };
    int themeCalls = 0, styleCalls = 0, fontCalls = 0, lastFont = -1;
    const Case cases[] = {
        {"projectSampleRate=192000\n", [](const Rig& r) { EXPECT_EQ(r.app->projectSampleRate, 192000); }},
        {"projectSampleRate=22050\n", [](const Rig& r) { EXPECT_EQ(r.app->projectSampleRate, 48000); }},
        {"projectSampleRate=88200 Hz\n", [](const Rig& r) { EXPECT_EQ(r.app->projectSampleRate, 88200); }},
        {"handleDuration=0\n", [](const Rig& r) { EXPECT_FLOAT_EQ(r.app->exportSettings.handleDuration, 0.01f); }},
        {"handleDuration=  +2.5 s\n", [](const Rig& r) { EXPECT_FLOAT_EQ(r.app->exportSettings.handleDuration, 2.5f); }},
        {"handleDuration=nan\n", [](const Rig& r) { EXPECT_FLOAT_EQ(r.app->exportSettings.handleDuration, 1.0f); }},
        {"fadeInDuration=.5\n", [](const Rig& r) { EXPECT_FLOAT_EQ(r.app->exportSettings.fadeInDuration, 0.5f); }},
        {"maxBackups=0\n", [](const Rig& r) { EXPECT_EQ(r.app->maxBackups, 1); }},
        {"maxBackups=99999999999999999999\n", [](const Rig& r) { EXPECT_EQ(r.app->maxBackups, 50); }},
        {"maxBackups\n", [](const Rig& r) { EXPECT_EQ(r.app->maxBackups, 5); }},
        {"autoSaveInterval=5\n", [](const Rig& r) { EXPECT_FLOAT_EQ(r.app->autoSaveInterval, 30); }},
        {"reverbPreDelay=0.5\n", [](const Rig& r) { EXPECT_FLOAT_EQ(r.engine->reverb.preDelay, 0.2f); }},
        {"scaleType=40\n", [](const Rig& r) { EXPECT_EQ(r.project->scaleType, 16); }},
        {"scaleType=x\n", [](const Rig& r) { EXPECT_EQ(r.project->scaleType, 0); }},
        {"tm_w2=nan\ntm_w3=inf\n", [](const Rig& r) {
             EXPECT_FLOAT_EQ(r.app->opticalTrace.model.w[2], 0);
             EXPECT_FLOAT_EQ(r.app->opticalTrace.model.w[3], 0);
             EXPECT_FLOAT_EQ(r.app->opticalTrace.model.w[0], 0.6f);
         }},
        {"tm_w0=0.25\ntm_posCount=-3\ntm_totalSpots=0\n", [](const Rig& r) {
             EXPECT_FLOAT_EQ(r.app->opticalTrace.model.w[0], 0.25f);
             EXPECT_EQ(r.app->opticalTrace.model.posCount, 0);
         }},
        {"destructiveEQ=1\nshowSpectralHeatmap=1\n", [](const Rig& r) {
             EXPECT_FALSE(r.app->destructiveEQ);
             EXPECT_FALSE(r.app->showSpectralHeatmap);
             EXPECT_EQ(r.engine->bypassDeconfliction.load(), 0);
         }},
        {"weightColorMid=#aBcDeF\n", [](const Rig& r) { EXPECT_EQ(r.app->weightColors.weightColorMid, 0xFFEFCDABu); }},
        {"weightColorMid=aBcDeF\nweightColorLow=#12345G\n", [](const Rig& r) {
             EXPECT_EQ(r.app->weightColors.weightColorMid, WeightColors{}.weightColorMid);
             EXPECT_EQ(r.app->weightColors.weightColorLow, WeightColors{}.weightColorLow);
         }},
        {"theme=9\n", [&](const Rig& r) {
             EXPECT_EQ(r.app->themeIndex, 6);
             EXPECT_EQ(themeCalls, 1);
             EXPECT_EQ(styleCalls, 1);
         }},
        {"fontSizeAuto=0\nfontSizePreset=5\nboldFonts=0\n", [&](const Rig& r) {
             EXPECT_EQ(r.app->fontSizePreset, 2);
             EXPECT_FALSE(r.app->boldFonts);
             EXPECT_EQ(fontCalls, 2);  // the preset, then the bold switch
             EXPECT_EQ(lastFont, 2);
         }},
        {"fontSizePreset=0\n", [&](const Rig& r) {
             EXPECT_EQ(fontCalls, 2);  // the line, then the automatic preset after the file
             EXPECT_EQ(lastFont, r.app->autoFontPreset);
         }},
        {"libraryEx=/not/indexed|0|2\n", [](const Rig& r) {
             ASSERT_EQ(r.library->libraryAddQueue.size(), 1u);
             EXPECT_EQ(r.library->libraryAddQueue[0].folder, "/not/indexed");
             EXPECT_EQ(r.library->libraryAddQueue[0].enabled, 0);
             EXPECT_EQ(r.library->libraryAddQueue[0].group, 2);
         }},
        {"libraryEx=INDEXED|0|1\n", [](const Rig& r) {
             EXPECT_TRUE(r.library->libraryAddQueue.empty());
             EXPECT_EQ(r.library->libraries[0].enabled, 0);
             EXPECT_EQ(r.library->libraries[0].group, 1);
         }},
        {"libraryEx=/a|b|c|1|2\nlibraryEx=/x|y|z\nlibraryEx=/p|0\nlibrary=/old|1|1\n", [](const Rig& r) {
             const auto& q = r.library->libraryAddQueue;
             ASSERT_EQ(q.size(), 4u);
             EXPECT_EQ(q[0].folder, "/a|b|c");
             EXPECT_EQ(q[0].group, 2);
             EXPECT_EQ(q[1].folder, "/x");  // two bars, not numbers: read as the older rule says
             EXPECT_EQ(q[1].enabled, 0);
             EXPECT_EQ(q[2].folder, "/p");  // without a second bar the flags stay 1 and -1
             EXPECT_EQ(q[2].enabled, 1);
             EXPECT_EQ(q[2].group, -1);
             EXPECT_EQ(q[3].folder, "/old|1|1");
         }},
        {"recentProject=Scene.tlproj\nrecentProject=/gone/\x01.tlproj\n",
         [](const Rig& r) { EXPECT_TRUE(r.app->recentProjects.empty()); }},
        {"updateAvailableNote=Quieter\nupdateAvailableVersion=3.0\nupdateAvailableNote=Faster\n", [](const Rig& r) {
             EXPECT_TRUE(r.app->updateAvailable);
             EXPECT_EQ(r.app->updateAvailableVersion, "3.0");
             EXPECT_EQ(r.app->updateAvailablePageUrl, "");
             EXPECT_EQ(r.app->updateAvailableNotes, (std::vector<std::string>{"Quieter", "Faster"}));
         }},
        {"lastUpdateCheck=9000000000\ndismissedUpdateVersion=1.2 beta\nnarrativeDensity=3\n", [](const Rig& r) {
             EXPECT_EQ(r.app->lastUpdateCheck, 9000000000LL);
             EXPECT_EQ(r.app->dismissedUpdateVersion, "1.2 beta");
         }},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(row++);
        themeCalls = styleCalls = fontCalls = 0;
        lastFont = -1;
        const std::string path = dir.File("rules.prefs");
        std::string lines = c.lines;
        for (size_t at = lines.find("INDEXED"); at != std::string::npos; at = lines.find("INDEXED"))
            lines.replace(at, 7, indexed);
        WriteWholeFile(path, lines);
        Rig rig(path);
        rig.AddLibrary(indexed, 1, -1);
        rig.app->updateAvailablePageUrl = "https://stale.example";
        rig.app->setTheme = [&](int) { ++themeCalls; };
        rig.app->applyThemeStyle = [&] { ++styleCalls; };
        rig.app->applyFontSizePreset = [&](AppState& app, int preset) {
            ++fontCalls;
            lastFont = preset;
            app.fontSizePreset = std::clamp(preset, 0, 2);
        };
        rig.Load();
        c.check(rig);
    }
}

TEST(Preferences, WritingSkipsBadRecentEntriesAndKeepsTextsOnTheirLine) {
    TempDir dir;
    Rig rig(dir.File("w.prefs"));
    rig.app->recentProjects = {"/work/A.tlproj", "Scene.tlproj", "/work/B\x02.tlproj", "", "/work/C\t.tlproj"};
    rig.app->updateAvailable = true;
    rig.app->updateAvailableVersion = "4.0";
    rig.app->updateAvailableNotes = {"line one\nmaxBackups=42", "two\r\nthree"};
    rig.app->dismissedUpdateVersion = "3.9\ntheme=5";
    testing::internal::CaptureStdout();
    rig.Save();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[SavePrefs] Skipping corrupted recent project entry 2\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("entry 1"), std::string::npos);

    const std::string text = ReadWholeFile(rig.targets.path);
    EXPECT_TRUE(text.ends_with("recentProject=/work/A.tlproj\nrecentProject=/work/C\t.tlproj\n")) << text;
    EXPECT_EQ(text.find("Scene.tlproj"), std::string::npos);
    EXPECT_NE(text.find("updateAvailableNote=line one maxBackups=42\n"), std::string::npos);
    EXPECT_NE(text.find("updateAvailableNote=two  three\n"), std::string::npos);

    Rig read(rig.targets.path);
    read.Load();
    EXPECT_EQ(read.app->maxBackups, 5);
    EXPECT_EQ(read.app->themeIndex, 0);
    EXPECT_EQ(read.app->updateAvailableNotes.size(), 2u);
    EXPECT_EQ(read.app->dismissedUpdateVersion, "3.9 theme=5");
}

TEST(Preferences, LongRecentPathAndFolderWithBarSurvive) {
    TempDir dir;
    // A project path of about 3,000 bytes, in folders of 200-byte names.
    std::string folder = dir.path();
    while (folder.size() < 2900) folder += "/" + std::string(200, 'p');
    const std::string project = Touch(folder + "/Long.tlproj");
    ASSERT_GE(project.size(), 2900u);
    const std::string barFolder = dir.File("Foley | Steps|2024");

    Rig written(dir.File("long.prefs"));
    written.app->recentProjects = {project};
    written.AddLibrary(barFolder, 0, 1);
    written.library->libraryAddQueue.push_back({dir.File("queued|0|x"), 1, 2});
    written.Save();

    Rig read(written.targets.path);
    read.AddLibrary(barFolder, 1, -1);
    read.Load();
    EXPECT_EQ(read.app->recentProjects, std::vector<std::string>{project});
    EXPECT_EQ(read.library->libraries[0].enabled, 0);
    EXPECT_EQ(read.library->libraries[0].group, 1);
    ASSERT_EQ(read.library->libraryAddQueue.size(), 1u);
    EXPECT_EQ(read.library->libraryAddQueue[0].folder, dir.File("queued|0|x"));
    EXPECT_EQ(read.library->libraryAddQueue[0].group, 2);
}

TEST(Preferences, StaleRecentEntriesAreDroppedAndTheFileRewrittenWithEverySetting) {
    TempDir dir;
    const std::string kept = Touch(dir.File("Kept/Kept.tlproj"));
    const std::string indexed = dir.File("Doors");
    const std::string path = dir.File("stale.prefs");
    WriteWholeFile(path, "recentProject=" + dir.File("Gone/Gone.tlproj") + "\n" +
                             "recentProject=" + kept + "\n" +
                             "maxBackups=7\n"
                             "libraryEx=" + indexed + "|0|2\n"
                             "libraryEx=" + dir.File("Rain") + "|1|0\n");
    Rig rig(path);
    rig.AddLibrary(indexed, 1, -1);
    rig.Load();
    EXPECT_EQ(rig.app->recentProjects, std::vector<std::string>{kept});
    EXPECT_TRUE(rig.app->recentMenuDirty);

    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.find("Gone"), std::string::npos);
    EXPECT_NE(text.find("maxBackups=7\n"), std::string::npos);
    EXPECT_NE(text.find("libraryEx=" + indexed + "|0|2\n"), std::string::npos);
    EXPECT_NE(text.find("libraryEx=" + dir.File("Rain") + "|1|0\n"), std::string::npos);

    // Nothing stale: the file is left as it was.
    WriteWholeFile(path, "recentProject=" + kept + "\n");
    Rig again(path);
    again.Load();
    EXPECT_EQ(ReadWholeFile(path), "recentProject=" + kept + "\n");
}

TEST(Preferences, FolderFromTheEnvironmentOrNothing) {
    TempDir dir;
    ScopedEnvironment env;
    env.UnsetUserFolderVariables();
    const fs::path workingDir = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(GlobalPreferenceTargets().path, "");
    SavePreferences();  // no folder: nothing is written, not even relative to here
    LoadPreferences();
    EXPECT_TRUE(fs::is_empty(dir.path()));
    fs::current_path(workingDir);

    env.Set("HOME", dir.path());
    EXPECT_EQ(GlobalPreferenceTargets().path, dir.File(".local/share/Tessaloom/com.tessaloom.prefs"));
    Rig rig(GlobalPreferenceTargets().path);
    rig.Save();
    EXPECT_TRUE(fs::exists(rig.targets.path));

    // A file that cannot be replaced leaves the previous one.
    fs::create_directory(rig.targets.path + ".tmp");
    rig.app->maxBackups = 9;
    rig.Save();
    EXPECT_NE(ReadWholeFile(rig.targets.path).find("maxBackups=5\n"), std::string::npos);
}

TEST(RecentProjects, AddKeepsTheNewestTenAndRefusesBadPaths) {
    AppState app;
    for (int i = 0; i < 11; ++i) RecentProjectsAdd(app, "/p/" + std::to_string(i) + ".tlproj");
    ASSERT_EQ(app.recentProjects.size(), 10u);
    EXPECT_EQ(app.recentProjects.front(), "/p/10.tlproj");
    EXPECT_EQ(app.recentProjects.back(), "/p/1.tlproj");  // the oldest, /p/0, is gone
    EXPECT_TRUE(app.recentMenuDirty);

    RecentProjectsAdd(app, "/p/5.tlproj");
    EXPECT_EQ(app.recentProjects.front(), "/p/5.tlproj");
    EXPECT_EQ(std::count(app.recentProjects.begin(), app.recentProjects.end(), "/p/5.tlproj"), 1);
    EXPECT_EQ(app.recentProjects.size(), 10u);

    app.recentMenuDirty = false;
    const std::vector<std::string> before = app.recentProjects;
    for (const char* bad : {"", "Scene.tlproj", "/p/a\nb.tlproj", "/p/\x1f.tlproj"}) RecentProjectsAdd(app, bad);
    EXPECT_EQ(app.recentProjects, before);
    EXPECT_FALSE(app.recentMenuDirty);

    RecentProjectsAdd(app, "C:\\Work\\Tab\there \xC3\xA9.tlproj");
    EXPECT_EQ(app.recentProjects.front(), "C:\\Work\\Tab\there \xC3\xA9.tlproj");
}
