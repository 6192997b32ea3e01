// export_rig.h — a private document, engine and application state with
// hand-made voices, for the export job and WAV pass tests.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "export/wav_export.h"
#include "export/write_fault.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "playback/mixer_rig.h"
#include "support/document_records.h"
#include "support/temp_dir.h"

struct ExportRig : DocumentRecords {
    TempDir dir;
    // A test's hold on the rig's exports and its full disk (the contexts
    // carry them through the observer).
    ExportHold hold;
    WriteFault fault;

    ExportRig() {
        engine = MakePlayingEngine();
        observer.exportHold = &hold;
        observer.writeFault = &fault;
        engine->playing = 0;
        project->totalDuration = 4.0f;
    }

    // Adds the voice with a result of that name on track `slot` of the
    // voice's group; returns the voice's index. Global track numbers are
    // given when the job is made (AssignTracks).
    int Add(PlaybackVoice voice, const std::string& name, int slot = 0, float fadeIn = 0.01f,
            float fadeOut = 0.01f) {
        RenderResult r;
        r.name = name;
        r.startTime = voice.startTime;
        r.duration = voice.length;
        r.group = voice.group;
        r.groupTrack = slot;
        voice.resultIndex = int32_t(project->results.size());
        voice.resultId = uint32_t(r.id);
        project->results.push_back(r);
        const int index = int(engine->voices.size());
        InstallPlaybackVoice(*engine, std::move(voice), fadeIn, fadeOut);
        engine->cacheReady = 1;
        return index;
    }

    // Used-track counts and global track numbers, as the track assignment leaves them.
    void AssignTracks() {
        for (MixGroup& g : project->groups) g.usedTracks = 0;
        for (const RenderResult& r : project->results)
            if (r.group >= 0 && r.group <= 2)
                project->groups[r.group].usedTracks = std::max(project->groups[r.group].usedTracks, r.groupTrack + 1);
        for (RenderResult& r : project->results)
            if (r.group >= 0 && r.group <= 2) r.track = GroupFirstTrack(project->groups, r.group) + r.groupTrack;
    }

    ExportContext Context(AafExportStep aaf = nullptr) { return ExportContextOf(std::move(aaf)); }

    // A WAV-only job into <temp>/out with base "Mix", built as the Export tab does.
    ExportJob Job(bool mixdown, bool stems = false, bool tracks = false, bool clips = false) {
        app->exportSettings.exportFormatAAF = false;
        app->exportSettings.exportFormatWAV = true;
        app->exportSettings.exportWavMixdown = mixdown;
        app->exportSettings.exportWavStems = stems;
        app->exportSettings.exportWavTracks = tracks;
        app->exportSettings.exportWavClips = clips;
        AssignTracks();
        return MakeExportJob(*app, *project, *engine, Out() + "/Mix");
    }

    // One pass straight through WriteWavExport, options as the job builds them.
    int32_t Pass(const ExportJob& job, int mode, bool reverbStem = false, bool* failed = nullptr) {
        WavPassOptions o;
        o.mode = mode;
        o.startOffset = job.startSeconds;
        o.reverbStem = reverbStem;
        o.reverb = job.reverb.enabled.load() ? &job.reverb : nullptr;
        o.baseName = job.baseName;
        o.mix = job.mix;
        return WriteWavExport(job, project->results, *engine, job.sampleRate, ExportTrackLayoutOf(*project),
                              job.totalDuration, o, job.rangeIn, job.rangeOut, failed);
    }

    std::string Out() const { return dir.path() + "/out"; }
    std::string OutFile(const std::string& name) const { return Out() + "/" + name; }
};

// A stereo voice of `seconds` at `start` whose left channel holds one click
// of `height` `clickAt` seconds in; everything else is silent.
inline PlaybackVoice ClickVoice(double start, double seconds, double clickAt, float height = 0.5f, int group = 0) {
    PlaybackVoice v = ConstantVoice(start, seconds, 0.0f, group);
    v.stereo = 1;
    v.right.assign(v.left.size(), 0.0f);
    v.left[size_t(std::lround(clickAt * kRigRate))] = height;
    return v;
}

// Index of the largest magnitude, -1 for an all-zero signal.
inline long PeakIndex(const std::vector<float>& samples) {
    long best = -1;
    float peak = 0;
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > peak) {
            peak = std::fabs(samples[i]);
            best = long(i);
        }
    return best;
}

// Every regular file under `root` (hidden folders too) by its path below it,
// with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) files[fs::relative(it->path(), root).string()] = ReadWholeFile(it->path().string());
    return files;
}
