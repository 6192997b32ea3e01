// aaf_export_rig.h — a private document and engine for the AAF export's
// tests, with source files on disk and a fake session writer that captures
// the clip list it is handed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "export/aaf_export.h"
#include "export/bwf_readback.h"
#include "export/export_rig.h"
#include "support/audio_fixtures.h"

struct CapturedSession {
    int calls = 0;
    std::string path;
    AafClipList list;
    int32_t sampleRate = 0;
    bool extended = false;
};

struct AafRig : ExportRig {
    CapturedSession session;
    bool writerSucceeds = true;

    AafRig() {
        app->exportSettings.exportFormatAAF = true;
        app->exportSettings.exportFormatWAV = false;
        app->exportSettings.exportAAFSourceChannels = false;
        project->totalDuration = 30.0f;
    }

    // A noise file of `seconds` in the rig's "src" folder.
    std::string Source(const std::string& name, double seconds, int channels = 1, int rate = kRigRate,
                       unsigned seed = 1) {
        std::filesystem::create_directories(dir.File("src"));
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.sampleRate = rate;
        spec.channels = channels;
        spec.seconds = seconds;
        spec.seed = seed;
        spec.amplitude = 0.4;
        std::vector<float> samples = MakeSignal(spec);
        // Distinct channels, so a file of the wrong channel shows.
        for (size_t i = 0; i < samples.size(); ++i) samples[i] *= 1.0f - 0.1f * float(i % size_t(channels));
        const std::string path = dir.File("src/" + name);
        EXPECT_TRUE(WriteSamples(path, samples, channels, rate));
        return path;
    }

    // A result playing [offset, offset + seconds) of `source` from `start`
    // on track `slot` of `group`; its voice holds that many samples at the
    // rig's rate (stereo when asked). Returns the result's index.
    int AddSourced(const std::string& source, float offset, float seconds, float start, const std::string& name,
                   bool stereo = false, int group = 1, int slot = 0, int procMode = 0) {
        PlaybackVoice v = ConstantVoice(start, seconds, 0.25f, group);
        if (stereo) {
            v.stereo = 1;
            v.right.assign(v.left.size(), -0.25f);
        }
        Add(std::move(v), name, slot);
        RenderResult& r = project->results.back();
        r.filepath = source;
        r.sourceOffset = offset;
        r.sourceDuration = seconds;
        r.stereo = stereo;
        r.procMode = procMode;
        r.eventIdx = -1;
        return int(project->results.size()) - 1;
    }

    PlaybackVoice& VoiceOfResult(int result) {
        for (PlaybackVoice& v : engine->voices)
            if (v.resultIndex == result) return v;
        ADD_FAILURE() << "no voice for result " << result;
        return engine->voices.front();
    }

    ExportJob Job() {
        AssignTracks();
        return MakeExportJob(*app, *project, *engine, Out() + "/Reel");
    }

    AafSessionWriter Writer() {
        return [this](const std::string& path, const AafClipList& list, int32_t rate, bool extended) {
            ++session.calls;
            session.path = path;
            session.list = list;
            session.sampleRate = rate;
            session.extended = extended;
            if (writerSucceeds) WriteWholeFile(path, "session");
            return writerSucceeds;
        };
    }

    bool Export(const ExportJob& job) { return WriteAafExport(job, *project, *engine, Writer()); }
    bool Export() { return Export(Job()); }

    std::string SessionFolder() const { return Out() + "/Reel"; }
    std::string AudioFolder() const { return SessionFolder() + "/Audio Files"; }

    // The names of the files in "Audio Files", sorted.
    std::vector<std::string> AudioFiles() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(AudioFolder(), ec))
            if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Entry indices of the captured list whose file name is `name`.
    std::vector<size_t> EntriesOf(const std::string& name) const {
        std::vector<size_t> found;
        for (size_t i = 0; i < session.list.essenceNames.size(); ++i)
            if (session.list.essenceNames[i] == name) found.push_back(i);
        return found;
    }
};

// The list's parallel vectors agree in length, every path is the audio
// folder's file of that name, and every file in "Audio Files" has a clip and
// every clip a file.
inline void ExpectListMatchesFolder(const AafRig& rig) {
    const AafClipList& l = rig.session.list;
    const size_t n = l.essencePaths.size();
    for (size_t size : {l.essenceNames.size(), l.positions.size(), l.lengths.size(), l.sourceOffsets.size(),
                        l.fileLengths.size(), l.tracks.size(), l.fadeIns.size(), l.fadeOuts.size(),
                        l.gainCurves.size(), l.gains.size()})
        EXPECT_EQ(size, n);
    std::set<std::string> named;
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(l.essencePaths[i], rig.AudioFolder() + "/" + l.essenceNames[i]);
        named.insert(l.essenceNames[i]);
    }
    const std::vector<std::string> files = rig.AudioFiles();
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), named);
}
