// One project on disk, one delivery: a sound gone, no longer a sound or
// changed, while the project is open or between a save and a reopen, is one
// state to the open and to the export; a session exports what the reopen of
// the project it saves exports; no other layer moves; a work area counts
// only its layers. Recordings at 22.05 to 96 kHz, mono and stereo.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

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

namespace fs = std::filesystem;

namespace {

// Seven Spots a second apart, each with a plain layer of sound 6 + i % 4;
// the last three also with an alloy k of main sound 2k and mid 2k + 1.
struct DeliveryRig : LifecycleRig {
    std::vector<RecordedSound> sounds = MakeRecordedSounds(File("Library"));

    DeliveryRig() {
        if (sounds.empty()) return;
        *project = SpotDocument(7);
        project->totalDuration = 10;
        auto add = [&](RenderResult r, int event, size_t sound) {
            const int k = int(project->results.size());
            r.eventIdx = event;
            r.filepath = sounds[sound].path;
            r.fileId = FileRegistry::Instance().FileRefForPath(r.filepath).id;
            r.stereo = sounds[sound].channels == 2;
            r.startTime = project->events[size_t(event)].time;
            r.sourceDuration = r.duration = r.procMode == 3 ? 1.2f : 0.8f;
            r.group = k % 3;
            r.groupTrack = k / 3;
            r.track = k;
            r.name = (r.procMode == 3 ? "Alloy " : "Spot ") + std::to_string(k);
            project->results.push_back(r);
        };
        for (int i = 0; i < 7; ++i) {
            add(RenderResult(), i, size_t(6 + i % 4));
            if (i < 4) continue;
            const size_t k = size_t(i - 4);
            RenderResult alloy = MakeAlloyResult(int(k), 1.2f, "", NextRenderResultId());
            SetAlloySource(alloy.alloyMid, sounds[2 * k + 1].path, 1.2f);
            alloy.alloyMid.fileId = FileRegistry::Instance().FileRefForPath(sounds[2 * k + 1].path).id;
            add(alloy, i, 2 * k);
        }
        project->rendered = true;
        engine->reverb.enabled = 1;
        QuietStdout(true);
        RebuildCache(Context(), false);
        QuietStdout(false);
    }

    // What the export says of its layers (after "; "), with its files and session.
    std::string Export(const std::string& folder, SessionList& session) {
        const std::string text = ExportEveryPass(*this, File(folder) + "/Reel", CapturingAafStep(session));
        const size_t at = text.find("; ");
        return at == std::string::npos ? "" : text.substr(at + 2);
    }

    // Saved (unless not) and opened as the designer does; the toast the frame then shows.
    std::string Reopen(bool save = true) {
        QuietStdout(true);
        const bool saved = !save || SaveProject(ctx, File("Scene/Scene.tlproj"));
        EXPECT_TRUE(saved && OpenProject(ctx, File("Scene/Scene.tlproj")) && SettleBusyTask(*app));
        QuietStdout(false);
        app->toastText.clear();
        ShowLayerSoundsToast(*app, *project, false);
        return app->toastText;
    }

    // The path the session names for sound `i`, and the layers naming it.
    std::string PathOf(size_t i, std::set<std::string>* layers = nullptr) const {
        std::string found;
        for (const RenderResult& r : project->results)
            for (const std::string* p : {&r.filepath, &r.alloyMid.filepath})
                if (fs::path(*p).filename() == fs::path(sounds[i].path).filename()) {
                    found = *p;
                    if (layers) layers->insert(r.name);
                }
        return found;
    }

    // Each layer's playing gain and clip file, by its name.
    std::map<std::string, std::pair<float, std::string>> Layers(const std::string& folder) const {
        const auto files = ExportedFiles(File(folder));
        std::map<std::string, std::pair<float, std::string>> layers;
        for (const PlaybackVoice& v : engine->voices) {
            const RenderResult& r = project->results[size_t(v.resultIndex)];
            const auto clip = files.find("Clips/Reel - " + ExportClipName(r) + ".wav");
            layers[r.name] = {PlayingGain(v, engine->groupGain[size_t(PlayingGroup(v.group))].load()),
                              clip == files.end() ? "" : clip->second};
        }
        return layers;
    }
};

void Scramble(const std::string& path) {  // there, but no sound
    std::string bytes(size_t(fs::file_size(path)), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
    ASSERT_TRUE(WriteWholeFile(path, bytes));
}

void Cut(const std::string& path, const RecordedSound& was) {  // its first 30 %: into the layers' regions
    const CommandResult r =
        RunCommand({"sox", "-q", path, path + ".cut.wav", "trim", "0", std::to_string(was.seconds * 0.3)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    fs::rename(path + ".cut.wav", path);
}

void Replace(const std::string& path, const RecordedSound& was) {  // another recording, shorter
    ASSERT_TRUE(OtherRecording(path, was.rate, was.channels, was.seconds * 0.7));
}

struct Change {
    size_t sound;
    LayerSound becomes;  // every layer naming the sound
    std::function<void(const std::string& path, const RecordedSound& was)> apply;
    bool everywhere = false;  // the library's copy too, not only the file the session names
};

}  // namespace

// Each row changes sounds while the project is open (then the session's
// export, a save, a reopen and its export are the same files and say the
// same), or between a save and a reopen. Either way the open's toast and
// the export's status word the same counts, the changed layers' clips are
// not the ones before, and no other layer's clip or any layer's level moves.
TEST(ReopenedDelivery, AChangedSoundIsOneStateToTheOpenAndTheExport) {
    auto Delete = [](const std::string& p, const RecordedSound&) { fs::remove(p); };
    auto Garble = [](const std::string& p, const RecordedSound&) { Scramble(p); };
    struct Row {
        const char* what;
        bool whileOpen;
        bool savedFirst;  // the session plays the project's own copies in "Audio"
        std::vector<Change> changes;
    };
    const std::vector<Row> rows = {
        {"an alloy source deleted while open", true, false, {{1, LayerSound::AlloyPartial, Delete}}},
        {"an alloy source no sound while open", true, false, {{3, LayerSound::AlloyPartial, Garble}}},
        {"an alloy's main sound replaced while open", true, false, {{4, LayerSound::Changed, Replace}}},
        {"a copy replaced in the Audio folder while open", true, true, {{6, LayerSound::Changed, Replace}}},
        {"sounds changed between a save and a reopen", false, true,
         {{6, LayerSound::Changed, Cut},
          {7, LayerSound::Changed, Replace},
          {8, LayerSound::Missing, Garble},
          {0, LayerSound::Changed, Cut},
          {3, LayerSound::AlloyPartial, Delete, true},
          {4, LayerSound::AlloyPartial, Delete, true}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DeliveryRig rig;
        ASSERT_FALSE(rig.sounds.empty()) << "sox or the recordings are missing";
        if (row.savedFirst) {
            rig.Reopen();
            ASSERT_EQ(fs::path(rig.PathOf(6)).parent_path(), fs::path(rig.File("Scene/Audio")))
                << "a reopened project plays its own copies";
        }
        SessionList s0, s1, s2;
        ASSERT_EQ(rig.Export("before", s0), "");
        const auto before = rig.Layers("before");
        LayerSoundCounts expected;
        std::set<std::string> touched;
        for (const Change& c : row.changes) {
            std::set<std::string> layers;
            const std::string path = rig.PathOf(c.sound, &layers);
            for (size_t n = 0; n < layers.size(); ++n) CountLayerSound(expected, c.becomes);
            touched.insert(layers.begin(), layers.end());
            c.apply(path, rig.sounds[c.sound]);
            if (c.everywhere) c.apply(rig.sounds[c.sound].path, rig.sounds[c.sound]);
        }
        const std::string counts = LayerSoundCountsText(expected);
        if (row.whileOpen) {
            EXPECT_EQ(rig.Export("live", s1), counts);
        }
        EXPECT_EQ(rig.Reopen(row.whileOpen), counts) << "the open's toast";
        EXPECT_EQ(rig.Export("reopened", s2), counts);
        if (row.whileOpen) {
            ExpectSameExportFiles(ExportedFiles(rig.File("live")), ExportedFiles(rig.File("reopened")));
            ExpectSameSession(s1, s2);
        }
        const auto after = rig.Layers("reopened");
        for (const auto& [name, was] : before) {
            ASSERT_TRUE(after.count(name)) << name;
            EXPECT_EQ(after.at(name).first, was.first) << name << "'s level moved";
            if (touched.count(name))
                EXPECT_NE(after.at(name).second, was.second) << name << " holds the sound before the change";
            else
                EXPECT_EQ(after.at(name).second, was.second) << name << " moved, though its sound did not change";
        }
    }
}

// An export of a work area counts only the layers it holds: a missing and a
// changed sound outside it are not counted, and are once it reaches them.
TEST(ExportCounts, AWorkAreaCountsOnlyTheLayersItHolds) {
    DeliveryRig rig;
    ASSERT_FALSE(rig.sounds.empty()) << "sox or the recordings are missing";
    const std::string gone = rig.sounds[6].path, cut = rig.sounds[7].path;
    fs::remove(gone);
    Cut(cut, rig.sounds[7]);
    const std::vector<std::pair<float, float>> areas = {{2.9f, 4.9f}, {2.0f, 4.9f}, {0.5f, 1.5f}, {0.0f, 10.0f}};
    for (const auto& [in, out] : areas) {
        SCOPED_TRACE(std::to_string(in) + " .. " + std::to_string(out));
        rig.app->workAreaIn = in;
        rig.app->workAreaOut = out;
        LayerSoundCounts expected;
        for (const RenderResult& r : rig.project->results)
            if (r.startTime < out && r.startTime + r.duration > in && (r.filepath == gone || r.filepath == cut))
                CountLayerSound(expected, r.filepath == gone ? LayerSound::Missing : LayerSound::Changed);
        SessionList session;
        rig.Export("area " + std::to_string(in), session);
        // An area where no layer sounds has no session to write and fails;
        // whatever the outcome, the status ends with the area's counts alone.
        const std::string status = ExportStatusText(*rig.app), counts = LayerSoundCountsText(expected);
        if (counts.empty())
            EXPECT_EQ(status.find("layer"), std::string::npos) << status;
        else
            EXPECT_TRUE(status.size() > counts.size() + 2 &&
                        status.compare(status.size() - counts.size() - 2, std::string::npos, "; " + counts) == 0)
                << status << " does not end with " << counts;
    }
}
