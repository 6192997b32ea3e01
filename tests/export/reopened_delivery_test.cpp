// One project on disk, one delivery. A session whose sounds went away,
// stopped opening or changed exports what a reopen of the project it saves
// exports, byte for byte, and both say so in the same words; a sound cut,
// replaced or made unreadable between a save and a reopen is the same state
// to the open and to the export; no layer untouched by a change moves; an
// export of a work area counts only the layers it holds. The sounds are
// recordings at 22.05 to 96 kHz, mono and stereo, 16-bit, 24-bit and float.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "document/layer_counts.h"
#include "export/wav_export.h"
#include "library/file_registry.h"
#include "operations/layer_sounds.h"
#include "operations/project_lifecycle.h"
#include "operations/voice_sync.h"
#include "playback/playing_gain.h"
#include "support/alloy_fixtures.h"
#include "support/exported_files.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"
#include "support/recorded_sounds.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kAlloys = 3;  // alloy k: main sound 2k, mid 2k + 1
constexpr int kPlain = 4;   // plain sounds 6 .. 9

// Seven Spots a second apart: the first four with a plain layer each, the
// last three with an alloy and a plain layer (whose level the alloy's event
// shares). Every layer has a name, group and track of its own.
Project DeliveryDocument(const std::vector<RecordedSound>& sounds) {
    Project doc = SpotDocument(kPlain + kAlloys);
    doc.totalDuration = 10;
    FileRegistry& registry = FileRegistry::Instance();
    auto place = [&](RenderResult& r, int event, const RecordedSound& sound, float duration) {
        const int k = int(doc.results.size());
        r.eventIdx = event;
        r.filepath = sound.path;
        r.fileId = registry.FileRefForPath(sound.path).id;
        r.stereo = sound.channels == 2;
        r.startTime = doc.events[size_t(event)].time;
        r.duration = r.sourceDuration = duration;
        r.group = k % 3;
        r.groupTrack = k / 3;
        r.track = k;
        r.name = (r.procMode == 3 ? "Alloy " : "Spot ") + std::to_string(k);
    };
    for (int i = 0; i < kPlain + kAlloys; ++i) {
        RenderResult plain;
        place(plain, i, sounds[size_t(kAlloys * 2 + i % kPlain)], 0.8f);
        doc.results.push_back(plain);
        if (i < kPlain) continue;
        const int k = i - kPlain;
        RenderResult alloy = MakeAlloyResult(k, 1.2f, sounds[size_t(2 * k)].path, NextRenderResultId());
        place(alloy, i, sounds[size_t(2 * k)], 1.2f);
        SetAlloySource(alloy.alloyMid, sounds[size_t(2 * k + 1)].path, 1.2f);
        alloy.alloyMid.fileId = registry.FileRefForPath(alloy.alloyMid.filepath).id;
        doc.results.push_back(alloy);
    }
    doc.rendered = true;
    return doc;
}

struct DeliveryRig : LifecycleRig {
    std::vector<RecordedSound> sounds = MakeRecordedSounds(File("Library"));
    std::string projectPath = File("Scene/Scene.tlproj");

    DeliveryRig() {
        if (sounds.empty()) return;
        *project = DeliveryDocument(sounds);
        engine->reverb.enabled = 1;
        QuietStdout(true);
        RebuildCache(Context(), false);
        QuietStdout(false);
    }

    std::string Export(const std::string& folder, SessionList& session) {
        return ExportEveryPass(*this, File(folder) + "/Reel", CapturingAafStep(session));
    }

    // Saved and opened again as the designer does: the open's voices built
    // (with its look at the files), and the toast the frame then shows.
    bool SaveAndReopen() {
        QuietStdout(true);
        const bool saved = SaveProject(ctx, projectPath);
        const bool opened = saved && OpenProject(ctx, projectPath) && SettleBusyTask(*app);
        QuietStdout(false);
        app->toastText.clear();
        ShowLayerSoundsToast(*app, *project, false);
        return opened;
    }

    // The layers naming `path` (as their own sound or an alloy's source).
    std::set<std::string> LayersNaming(const std::string& path) const {
        std::set<std::string> names;
        const std::string file = fs::path(path).filename().string();
        for (const RenderResult& r : project->results)
            for (const std::string* p : {&r.filepath, &r.alloyMid.filepath})
                if (fs::path(*p).filename() == file) names.insert(r.name);
        return names;
    }

    // The path the session's layers name for the sound of set index `i`.
    std::string SessionPath(size_t i) const {
        const std::string file = fs::path(sounds[i].path).filename().string();
        for (const RenderResult& r : project->results)
            for (const std::string* p : {&r.filepath, &r.alloyMid.filepath})
                if (fs::path(*p).filename() == file) return *p;
        return {};
    }

    // Each layer's playing gain, by name, with the mix's headroom cut.
    std::map<std::string, float> Levels() const {
        std::map<std::string, float> levels;
        for (const PlaybackVoice& v : engine->voices) {
            const float group = engine->groupGain[size_t(PlayingGroup(v.group))].load();
            levels[project->results[size_t(v.resultIndex)].name] = PlayingGain(v, group);
        }
        levels["headroom cut"] = engine->stats.headroomCut.load();
        return levels;
    }

    // The clip file of the layer named `layer` in an export.
    std::string ClipOf(const std::string& layer) const {
        for (const RenderResult& r : project->results)
            if (r.name == layer) return "Clips/Reel - " + ExportClipName(r) + ".wav";
        return {};
    }
};

// What follows "; " in a final text: the counts of the layers.
std::string CountsOf(const std::string& finalText) {
    const size_t at = finalText.find("; ");
    return at == std::string::npos ? std::string() : finalText.substr(at + 2);
}

// ---------------------------------------------------------------------------
// Changes to a sound file
// ---------------------------------------------------------------------------

void Delete(const std::string& path) { fs::remove(path); }

// Random bytes of the file's own length: there, but no sound.
void Scramble(const std::string& path) {
    std::string bytes(size_t(fs::file_size(path)), '\0');
    uint32_t seed = 0x2545F491u;
    for (char& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = char(seed >> 24);
    }
    ASSERT_TRUE(WriteWholeFile(path, bytes));
}

// Another recording over the file, at the file's rate and channels: other
// content, another length.
void Overwrite(const std::string& path, const RecordedSound& was) {
    ASSERT_TRUE(OtherRecording(path, was.rate, was.channels, was.seconds * 0.7));
}

// The first 40 % of the file's frames, at its rate and channels.
void Cut(const std::string& path, const RecordedSound& was) {
    const std::string cut = path + ".cut.wav";
    const CommandResult r = RunCommand({"sox", "-q", path, cut, "trim", "0", std::to_string(was.seconds * 0.4)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    fs::rename(cut, path);
}

struct Change {
    const char* what;
    size_t sound;  // index in the set
    LayerSound becomes;  // what every layer naming it becomes
    std::function<void(const std::string& path, const RecordedSound& was)> apply;
};

}  // namespace

// An alloy source deleted, made unreadable or overwritten while the project
// is open, and a sound replaced in the project's "Audio" folder: the export
// of the session and the export after a save and a reopen are the same
// files, each status counts what the files hold, and the open's toast says
// it in the same words. The change is in the delivery (the touched layers'
// clips are not the ones before it), and no other layer's clip moves.
TEST(ReopenedDelivery, WhatTheSessionExportsIsWhatItsReopenExports) {
    struct Row {
        Change change;
        bool savedFirst;  // the session plays the project's own copies in "Audio"
    };
    const std::vector<Row> rows = {
        {{"an alloy source deleted", 1, LayerSound::AlloyPartial, [](auto& p, auto&) { Delete(p); }}, false},
        {{"an alloy source no longer a sound", 3, LayerSound::AlloyPartial, [](auto& p, auto&) { Scramble(p); }},
         false},
        {{"an alloy's main sound overwritten", 4, LayerSound::Changed, Overwrite}, false},
        {{"a sound replaced in the Audio folder", 6, LayerSound::Changed, Overwrite}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change.what);
        DeliveryRig rig;
        ASSERT_FALSE(rig.sounds.empty()) << "sox or the recordings are missing";
        if (row.savedFirst) {
            ASSERT_TRUE(rig.SaveAndReopen());
            ASSERT_EQ(fs::path(rig.SessionPath(row.change.sound)).parent_path(), fs::path(rig.File("Scene/Audio")))
                << "a reopened project plays its own copies";
        }
        SessionList s0, s1, s2;
        const std::string before = rig.Export("before", s0);
        ASSERT_EQ(CountsOf(before), "") << before;

        const std::string path = rig.SessionPath(row.change.sound);
        const std::set<std::string> touched = rig.LayersNaming(path);
        ASSERT_FALSE(touched.empty());
        row.change.apply(path, rig.sounds[row.change.sound]);
        LayerSoundCounts expected;
        for (size_t n = 0; n < touched.size(); ++n) CountLayerSound(expected, row.change.becomes);

        const std::string live = rig.Export("live", s1);
        EXPECT_EQ(CountsOf(live), LayerSoundCountsText(expected)) << live;
        ASSERT_TRUE(rig.SaveAndReopen());
        EXPECT_EQ(rig.app->toastText, LayerSoundCountsText(expected));
        const std::string reopened = rig.Export("reopened", s2);
        EXPECT_EQ(CountsOf(reopened), CountsOf(live)) << reopened;

        const auto e0 = ExportedFiles(rig.File("before")), e1 = ExportedFiles(rig.File("live")),
                   e2 = ExportedFiles(rig.File("reopened"));
        ExpectSameExportFiles(e1, e2);
        ExpectSameSession(s1, s2);
        for (const RenderResult& r : rig.project->results) {
            const std::string clip = rig.ClipOf(r.name);
            ASSERT_TRUE(e0.count(clip) && e1.count(clip)) << clip;
            if (touched.count(r.name))
                EXPECT_NE(e0.at(clip), e1.at(clip)) << r.name << " still holds the sound before the change";
            else
                EXPECT_EQ(e0.at(clip), e1.at(clip)) << r.name << " moved, though its sound did not change";
        }
    }
}

// Sounds cut, replaced by another recording, made no sound, and an alloy
// source deleted, between a save and a reopen. The open's toast and the
// export's status count them in the same words, each layer as its files
// hold it; no layer's level moves, and every other layer's clip is the one
// the session exported before.
TEST(ReopenedDelivery, ASoundChangedSinceTheSaveIsOneStateToTheOpenAndTheExport) {
    const std::vector<Change> changes = {
        {"a plain sound cut", 6, LayerSound::Changed, Cut},
        {"a plain sound replaced", 7, LayerSound::Changed, Overwrite},
        {"a plain sound no longer a sound", 8, LayerSound::Missing, [](auto& p, auto&) { Scramble(p); }},
        {"an alloy's main sound cut", 0, LayerSound::Changed, Cut},
        {"an alloy source gone from everywhere", 3, LayerSound::AlloyPartial, [](auto& p, auto&) { Delete(p); }},
        {"an alloy's main sound gone from everywhere", 4, LayerSound::AlloyPartial, [](auto& p, auto&) { Delete(p); }},
    };
    DeliveryRig rig;
    ASSERT_FALSE(rig.sounds.empty()) << "sox or the recordings are missing";
    ASSERT_TRUE(rig.SaveAndReopen());
    SessionList s0, s1;
    const std::string before = rig.Export("before", s0);
    ASSERT_EQ(CountsOf(before), "") << before;
    const std::map<std::string, float> levels = rig.Levels();

    LayerSoundCounts expected;
    std::set<std::string> touched;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        // The project names its own copies; a sound gone from everywhere is
        // gone from the library too.
        const std::string path = rig.SessionPath(change.sound);
        ASSERT_EQ(fs::path(path).parent_path(), fs::path(rig.File("Scene/Audio")));
        for (const std::string& layer : rig.LayersNaming(path)) {
            touched.insert(layer);
            CountLayerSound(expected, change.becomes);
        }
        change.apply(path, rig.sounds[change.sound]);
        if (change.becomes == LayerSound::AlloyPartial) Delete(rig.sounds[change.sound].path);
    }
    QuietStdout(true);
    ASSERT_TRUE(OpenProject(rig.ctx, rig.projectPath) && SettleBusyTask(*rig.app));
    QuietStdout(false);
    rig.app->toastText.clear();
    ShowLayerSoundsToast(*rig.app, *rig.project, false);
    const std::string toast = rig.app->toastText;
    EXPECT_EQ(toast, LayerSoundCountsText(expected));
    const std::string after = rig.Export("after", s1);
    EXPECT_EQ(CountsOf(after), toast) << after;

    // No layer's level moves, the touched ones' neither: each is levelled
    // with what its sound measured.
    EXPECT_EQ(rig.Levels(), levels);
    const auto e0 = ExportedFiles(rig.File("before")), e1 = ExportedFiles(rig.File("after"));
    for (const RenderResult& r : rig.project->results) {
        if (touched.count(r.name)) continue;
        const std::string clip = rig.ClipOf(r.name);
        ASSERT_TRUE(e0.count(clip) && e1.count(clip)) << clip;
        EXPECT_EQ(e0.at(clip), e1.at(clip)) << r.name << " moved, though its sound did not change";
    }
}

// An export of a work area counts only the layers it holds: a missing and a
// changed sound outside it are not counted, and are counted once the work
// area reaches their layers.
TEST(ExportCounts, AWorkAreaCountsOnlyTheLayersItHolds) {
    DeliveryRig rig;
    ASSERT_FALSE(rig.sounds.empty()) << "sox or the recordings are missing";
    // The sound of the first plain Spot goes, the second's is cut.
    const std::string gone = rig.sounds[6].path, cut = rig.sounds[7].path;
    Delete(gone);
    Cut(cut, rig.sounds[7]);
    struct Row {
        float in, out;
    };
    // Outside both sounds' layers, reaching one, the other, both, and all.
    const std::vector<Row> rows = {{2.9f, 4.9f}, {2.0f, 4.9f}, {0.5f, 1.5f}, {0.5f, 2.5f}, {0.0f, 10.0f}};
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.in) + " .. " + std::to_string(row.out));
        rig.app->workAreaIn = row.in;
        rig.app->workAreaOut = row.out;
        LayerSoundCounts expected;
        for (const RenderResult& r : rig.project->results) {
            const bool held = r.startTime < row.out && r.startTime + r.duration > row.in;
            if (held && r.filepath == gone) CountLayerSound(expected, LayerSound::Missing);
            if (held && r.filepath == cut) CountLayerSound(expected, LayerSound::Changed);
        }
        SessionList session;
        const std::string text = rig.Export("area" + std::to_string(n++), session);
        EXPECT_EQ(CountsOf(text), LayerSoundCountsText(expected)) << text;
    }
}
