// An export whose sounds are not all as they were measured: a sound moved
// away between the render and the export (one in the loudest moment, one
// not), a sound cut after the scan, one replaced by other content of the
// same length, an alloy without one of its sources. Every other file is the
// export's with the sounds present, byte for byte, and the final text counts
// each layer as the files hold it.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "export/aaf_export.h"
#include "export/bwf_readback.h"
#include "export/export_names.h"
#include "export/wav_export.h"
#include "library/file_registry.h"
#include "library/sound_probe.h"
#include "operations/export_job.h"
#include "operations/layer_sounds.h"
#include "operations/voice_sync.h"
#include "render/alloy_morph.h"
#include "render/processed_clip_cache.h"
#include "playback/playing_gain.h"
#include "playback/voice_settings.h"
#include "support/alloy_fixtures.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"

namespace fs = std::filesystem;

namespace {

// A rendered generated project in a session of its own: its voices built
// as after the render, the reverb on.
struct SessionRig : LifecycleRig {
    LargeProject large;

    explicit SessionRig(int events = 16, float seconds = 36) {
        LargeProjectSpec spec{.eventCount = events, .seconds = seconds, .layers = LargeProjectLayers::Rendered,
                              .soundCount = 14};
        large = MakeLargeProject(spec, File("Library"));
        *project = large.project;
        project->rendered = true;
        library->libraries.push_back(large.library.index);
        engine->reverb.enabled = 1;
        QuietStdout(true);
        RebuildCache(Context(), false);
        QuietStdout(false);
    }

    // Every pass into `out`, as the Export tab starts it; the final text.
    std::string Export(const std::string& out) { return ExportEveryPass(*this, out + "/Reel"); }

    // The session builds its voices again, as an open does: the files are
    // looked at anew and no decoded region or morph stands in for them.
    void Rebuild() {
        FileRegistry& registry = FileRegistry::Instance();
        {
            std::lock_guard<std::mutex> lock(registry.mutex);
            registry.RaiseGeneration();
        }
        QuietStdout(true);
        LookAtLayerSounds(*project, registry);
        RebuildCache(Context(), false);
        QuietStdout(false);
    }

    // The plain layers (not alloys) playing `path`, by result index.
    std::vector<size_t> LayersOf(const std::string& path) const {
        std::vector<size_t> layers;
        for (size_t i = 0; i < project->results.size(); ++i) {
            const RenderResult& r = project->results[i];
            if (r.filepath == path && !r.muted) layers.push_back(i);
        }
        return layers;
    }

    // Sounds that only plain layers use (no alloy names them).
    std::vector<std::string> PlainSounds() const {
        std::set<std::string> alloyed;
        for (const RenderResult& r : project->results)
            if (r.procMode == 3)
                for (const std::string* p : {&r.filepath, &r.alloyMid.filepath, &r.alloyHigh.filepath,
                                             &r.alloyEnv.filepath})
                    alloyed.insert(*p);
        std::vector<std::string> plain;
        for (const std::string& path : large.library.paths)
            if (!alloyed.count(path) && !LayersOf(path).empty()) plain.push_back(path);
        return plain;
    }
};

// Where the loudest moment is, as the level pass weighs the voices: each
// unmuted voice at its playing gain times its peak, summed over the voices
// sounding at a moment; the largest sum begins at some voice's start.
double LoudestMoment(const AudioEngine& engine) {
    double best = -1, at = 0;
    for (const PlaybackVoice& candidate : engine.voices) {
        const double t = candidate.startTime;
        double sum = 0;
        for (const PlaybackVoice& v : engine.voices) {
            if (v.muted.load() || t < v.startTime || t >= double(v.startTime) + v.length) continue;
            const float group = engine.groupGain[size_t(PlayingGroup(v.group))].load();
            sum += PlayingGain(v, group) * std::max(0.001f, VoicePeak(v));
        }
        if (sum > best) {
            best = sum;
            at = t;
        }
    }
    return at;
}

bool Covers(const RenderResult& r, double t) {
    return t >= double(r.startTime + r.deconOffset) && t < double(r.startTime + r.deconOffset) + r.duration;
}

// The samples of a WAV file the export wrote, all zero.
bool SilentFile(const std::string& path) {
    const BwfReadBack back = ReadBwfFile(path);
    EXPECT_TRUE(back.ok) << path;
    for (int32_t c : back.codes)
        if (c != 0) return false;
    return true;
}

// "_<iii>_": the part of an essence file's name that says which layer it is.
std::string EssenceMark(size_t layer) {
    char mark[16];
    std::snprintf(mark, sizeof mark, "_%03zu_", layer);
    return mark;
}

// Moves `path` out of the library into `away`, keeping its name.
std::string MoveAway(const std::string& path, const std::string& away) {
    fs::create_directories(away);
    const std::string to = away + "/" + fs::path(path).filename().string();
    fs::rename(path, to);
    return to;
}

// The first `fraction` of a sound's frames written over it: the same name,
// a shorter file.
void CutSound(const std::string& path, double fraction) {
    SF_INFO info{};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(in, nullptr) << path;
    const sf_count_t keep = sf_count_t(double(info.frames) * fraction);
    std::vector<float> frames(size_t(keep) * size_t(info.channels));
    ASSERT_EQ(sf_readf_float(in, frames.data(), keep), keep);
    sf_close(in);
    SF_INFO out = info;
    out.frames = 0;
    SNDFILE* cut = sf_open(path.c_str(), SFM_WRITE, &out);
    ASSERT_NE(cut, nullptr);
    ASSERT_EQ(sf_writef_float(cut, frames.data(), keep), keep);
    sf_close(cut);
}

// Other noise over a sound, frame for frame in its own format: the same
// length, other content.
void ReplaceSound(const std::string& path) {
    SF_INFO info{};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(in, nullptr) << path;
    sf_close(in);
    const uintmax_t before = fs::file_size(path);
    std::vector<float> frames(size_t(info.frames) * size_t(info.channels));
    uint32_t seed = 0x9E3779B9u;
    for (float& f : frames) {
        seed = seed * 1664525u + 1013904223u;
        f = 0.5f * (float(seed >> 8) / float(1 << 24) - 0.5f);
    }
    SF_INFO out = info;
    out.frames = 0;
    SNDFILE* other = sf_open(path.c_str(), SFM_WRITE, &out);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(sf_writef_float(other, frames.data(), info.frames), info.frames);
    sf_close(other);
    ASSERT_EQ(fs::file_size(path), before) << "the same length";
}

// Compares an export with the sounds of `gone` layers away against the one
// with them present: the files the layers are not in are the same bytes;
// their clips are silence, their AAF clips gone; only the mixdown, the
// reverb stem and returns, their stems and tracks, and the session differ.
void ExpectOnlyTheirFilesDiffer(const SessionRig& rig, const std::map<std::string, std::string>& present,
                                const std::map<std::string, std::string>& away, const std::string& folder,
                                const std::vector<size_t>& gone) {
    std::set<std::string> mayDiffer = {"Reel.wav", "Reel - Reverb.wav", "Reel/Reel.aaf",
                                       "Reel/Audio Files/Reverb.L.wav", "Reel/Audio Files/Reverb.R.wav"};
    const std::array<std::string, 3> groups = ExportGroupNames(rig.project->groups);
    for (size_t layer : gone) {
        const RenderResult& r = rig.project->results[layer];
        mayDiffer.insert("Reel - " + groups[size_t(PlayingGroup(r.group))] + ".wav");
        mayDiffer.insert("Tracks/Reel - " + ExportTrackName(groups[size_t(PlayingGroup(r.group))], r.groupTrack) +
                         ".wav");
    }
    size_t silentClips = 0, goneEssences = 0, same = 0;
    for (const auto& [name, bytes] : present) {
        auto there = away.find(name);
        if (there == away.end()) {
            // Only a silent layer's AAF clip is left out.
            bool ofGone = false;
            for (size_t layer : gone) ofGone = ofGone || name.find(EssenceMark(layer)) != std::string::npos;
            EXPECT_TRUE(name.rfind("Reel/Audio Files/", 0) == 0 && ofGone) << name << " is missing";
            ++goneEssences;
        } else if (there->second == bytes) {
            ++same;
        } else if (!mayDiffer.count(name)) {
            EXPECT_EQ(name.rfind("Clips/", 0), 0u) << name << " changed, though no silent layer is in it";
            EXPECT_TRUE(SilentFile(folder + "/" + name)) << name << " changed but is not silence";
            ++silentClips;
        }
    }
    for (const auto& [name, bytes] : away) EXPECT_TRUE(present.count(name)) << name << " is new";
    EXPECT_EQ(silentClips, gone.size()) << "each silent layer's clip is silence";
    EXPECT_GE(goneEssences, gone.size());
    EXPECT_GT(same, present.size() / 2) << "most files are the export's with the sounds present";
}

}  // namespace

// Two sounds go away between the render and the export: one that a layer
// plays in the loudest moment, one that no layer near it plays. The session
// builds their voices again without them: no other voice's level moves.
// The export counts the silent layers, and every file but those their
// layers are in (the mixdown, the reverb stem, their stems, tracks and
// clips, the AAF session) is the export with the sounds present, byte for
// byte; their clips are silence and their AAF clips are gone.
TEST(ExportSounds, ASoundAwayChangesOnlyTheFilesOfItsLayers) {
    SessionRig rig;
    const std::string first = rig.Export(rig.File("present"));
    ASSERT_EQ(first.rfind("Export complete", 0), 0u) << first;
    const std::map<std::string, std::string> present = ExportedFiles(rig.File("present"));

    // The sounds to take away.
    const double loudest = LoudestMoment(*rig.engine);
    std::string inLoudest, elsewhere;
    for (const std::string& path : rig.PlainSounds()) {
        bool covers = false;
        for (size_t layer : rig.LayersOf(path)) covers = covers || Covers(rig.project->results[layer], loudest);
        if (covers && inLoudest.empty()) inLoudest = path;
        if (!covers && elsewhere.empty()) elsewhere = path;
    }
    ASSERT_FALSE(inLoudest.empty());
    ASSERT_FALSE(elsewhere.empty());
    std::vector<size_t> gone = rig.LayersOf(inLoudest);
    for (size_t layer : rig.LayersOf(elsewhere)) gone.push_back(layer);
    std::set<size_t> goneSet(gone.begin(), gone.end());

    std::vector<float> gains, norms;
    for (const PlaybackVoice& v : rig.engine->voices) {
        gains.push_back(v.gain.load());
        norms.push_back(v.normGain);
    }
    const float cut = rig.engine->stats.headroomCut.load();
    MoveAway(inLoudest, rig.File("away"));
    MoveAway(elsewhere, rig.File("away"));

    char counted[64];
    std::snprintf(counted, sizeof counted, "; %zu layer%s silent (sound missing)", gone.size(),
                  gone.size() == 1 ? "" : "s");
    // The session has not noticed yet: its voices still hold the sounds. The
    // export finds them gone and sends their layers out silent.
    const std::string text = rig.Export(rig.File("unnoticed"));
    EXPECT_EQ(text.rfind("Export complete", 0), 0u) << text;
    EXPECT_NE(text.find(counted), std::string::npos) << text;
    EXPECT_EQ(rig.app->toastText, text);
    const std::map<std::string, std::string> unnoticed = ExportedFiles(rig.File("unnoticed"));
    ExpectOnlyTheirFilesDiffer(rig, present, unnoticed, rig.File("unnoticed"), gone);

    // The session builds its voices again (as an open or a relink does): the
    // silent voices keep their layers' levels, so no voice's level moves,
    // and the export is the same again.
    rig.Rebuild();
    for (size_t layer : gone) EXPECT_TRUE(rig.project->results[layer].missing) << layer;
    EXPECT_EQ(rig.engine->stats.headroomCut.load(), cut);
    ASSERT_EQ(rig.engine->voices.size(), gains.size());
    for (size_t v = 0; v < gains.size(); ++v) {
        EXPECT_EQ(rig.engine->voices[v].gain.load(), gains[v]) << "voice " << v;
        EXPECT_EQ(rig.engine->voices[v].normGain, norms[v]) << "voice " << v;
    }
    const std::string again = rig.Export(rig.File("noticed"));
    EXPECT_NE(again.find(counted), std::string::npos) << again;
    const std::map<std::string, std::string> noticed = ExportedFiles(rig.File("noticed"));
    ASSERT_EQ(noticed.size(), unnoticed.size());
    for (const auto& [name, bytes] : unnoticed)
        if (name != "Reel/Reel.aaf") {
            EXPECT_TRUE(noticed.count(name) && noticed.at(name) == bytes) << name;
        }
}

// One sound is cut to 30 % after the scan and another is replaced by other
// content of the same length. Neither is "silent": each of their layers is
// exported from the sound as it is now, in every file alike (its clip is
// that sound, its AAF clip that rendered sound, not a region read from the
// file), and the text counts them apart. A layer whose region the cut took
// whole is silent in every file, and counted so.
TEST(ExportSounds, ACutSoundAndAReplacedOneAreCountedAsTheFilesHoldThem) {
    SessionRig rig;
    ASSERT_EQ(rig.Export(rig.File("before")).rfind("Export complete", 0), 0u);
    const std::vector<std::string> plain = rig.PlainSounds();
    ASSERT_GE(plain.size(), 2u);
    const std::string cutOne = plain[0], replaced = plain[1];
    std::vector<size_t> changed = rig.LayersOf(cutOne);
    for (size_t layer : rig.LayersOf(replaced)) changed.push_back(layer);

    CutSound(cutOne, 0.3);
    ReplaceSound(replaced);
    const std::string text = rig.Export(rig.File("after"));
    const std::string out = rig.File("after");

    // Per layer: silent everywhere, or sounding everywhere (from the sound as
    // it is now: not the clip of the export before).
    size_t sounding = 0, silent = 0;
    for (size_t layer : changed) {
        const RenderResult& r = rig.project->results[layer];
        SCOPED_TRACE(r.name + " (layer " + std::to_string(layer) + ")");
        std::vector<std::string> clips, essences;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().parent_path().filename() == "Audio Files" &&
                name.find(EssenceMark(layer)) != std::string::npos)
                essences.push_back(entry.path().string());
        }
        // The clip files of the layer's name (layers share names: the export numbers them).
        const std::string clip = ExportClipName(r);
        for (const auto& entry : fs::directory_iterator(out + "/Clips"))
            if (entry.path().filename().string().rfind("Reel - " + clip, 0) == 0) clips.push_back(entry.path().string());
        ASSERT_FALSE(clips.empty());
        bool anyClipSounds = false;
        std::set<int64_t> clipFrames;
        for (const std::string& c : clips) {
            anyClipSounds = anyClipSounds || !SilentFile(c);
            clipFrames.insert(ReadBwfFile(c).frames);
        }
        if (essences.empty()) {
            ++silent;
            continue;
        }
        ++sounding;
        EXPECT_TRUE(anyClipSounds);
        for (const std::string& e : essences) {
            const BwfReadBack back = ReadBwfFile(e);
            ASSERT_TRUE(back.ok);
            bool sounds = false;
            for (int32_t c : back.codes) sounds = sounds || c != 0;
            EXPECT_TRUE(sounds) << e << " is silence";
            // The rendered sound, as long as the layer's clip: not a region
            // read apart from the file (with its handles, or none at all).
            EXPECT_TRUE(clipFrames.count(back.frames)) << e << " is a region read apart";
        }
    }
    ASSERT_EQ(sounding + silent, changed.size());
    ASSERT_GT(sounding, 0u);
    char counted[64];
    std::snprintf(counted, sizeof counted, "%zu layer%s from a changed sound", sounding, sounding == 1 ? "" : "s");
    EXPECT_NE(text.find(counted), std::string::npos) << text;
    if (silent > 0) {
        std::snprintf(counted, sizeof counted, "%zu layer%s silent (sound missing)", silent, silent == 1 ? "" : "s");
        EXPECT_NE(text.find(counted), std::string::npos) << text;
    } else {
        EXPECT_EQ(text.find("silent"), std::string::npos) << text;
    }
    // The other layers' clips are those of the export before.
    const std::map<std::string, std::string> before = ExportedFiles(rig.File("before"));
    const std::map<std::string, std::string> after = ExportedFiles(out);
    size_t sameClips = 0;
    for (const auto& [name, bytes] : before)
        if (name.rfind("Clips/", 0) == 0 && after.count(name) && after.at(name) == bytes) ++sameClips;
    EXPECT_GT(sameClips, 0u);
}

// An alloy layer whose secondary source goes away: the morph is made of the
// sources left, in the session and in the export, and the final text counts
// it.
TEST(ExportSounds, AnAlloyWithoutOneOfItsSourcesIsCounted) {
    SessionRig rig(8, 20);
    // An alloy of two sounds of its own (no other layer plays them).
    TempDir sounds;
    std::vector<float> body(48000), air(48000);
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = 0.4f * std::sin(float(i) * 0.031f) * std::exp(-float(i) / 30000.0f);
        air[i] = 0.3f * std::sin(float(i) * 0.41f + 0.2f * std::sin(float(i) * 0.003f));
    }
    const std::string main = WriteFloatWav(sounds, "alloy_body.wav", body);
    const std::string mid = WriteFloatWav(sounds, "alloy_air.wav", air);
    RenderResult alloy = MakeAlloyResult(0, 1.0f, main, NextRenderResultId());
    SetAlloySource(alloy.alloyMid, mid, 1.0f);
    alloy.fileId = FileRegistry::Instance().FileRefForPath(main).id;
    alloy.alloyMid.fileId = FileRegistry::Instance().FileRefForPath(mid).id;
    alloy.name = "Alloy";
    alloy.startTime = 2.0f;
    // On a Spot: a Clip's or a Bed's rebuild keeps only the layers of its files.
    for (size_t e = 0; e < rig.project->events.size(); ++e)
        if (rig.project->events[e].shape == kShapeSpot) {
            alloy.eventIdx = int32_t(e);
            break;
        }
    alloy.group = 1;
    rig.project->results.push_back(alloy);
    QuietStdout(true);
    RebuildCache(rig.Context(), false);
    QuietStdout(false);
    const std::string whole = rig.Export(rig.File("whole"));
    ASSERT_EQ(whole.rfind("Export complete", 0), 0u) << whole;
    ASSERT_EQ(whole.find("alloy"), std::string::npos) << whole;

    MoveAway(mid, rig.File("away"));
    rig.Rebuild();

    const std::string text = rig.Export(rig.File("partial"));
    EXPECT_NE(text.find("; 1 alloy layer without one of its sources"), std::string::npos) << text;
    EXPECT_EQ(text.find("silent"), std::string::npos) << text;
    // Its clip is the morph of what is left: sound, and not the whole morph's.
    const std::string clip = "Clips/Reel - Alloy.wav";
    const std::map<std::string, std::string> before = ExportedFiles(rig.File("whole"));
    const std::map<std::string, std::string> after = ExportedFiles(rig.File("partial"));
    ASSERT_TRUE(before.count(clip) && after.count(clip));
    EXPECT_NE(before.at(clip), after.at(clip));
    EXPECT_FALSE(SilentFile(rig.File("partial") + "/" + clip));
}
