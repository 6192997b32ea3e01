// wav_export.cpp — the WAV passes of an export and the offline reverb mix.
//
// Index
//   ExportTrackLayoutOf
//   Voice envelopes       ClipCurves, ClipFileFades
//   PassState             what every pass shares: range, frames, names, rollback
//   Writing files         WriteStereoFile, WriteMixedFile, FitsOneHour
//   Passes                MixdownPass, StemsPass (StemHasVoices), TracksPass (VoiceTracks),
//                         ClipsPass (WriteClipFile), PlannedFiles
//   WriteWavExport
//   StreamOfflineMix
//
// Times are doubles from the project start's fraction through to every time
// reference; the mix and the reverb run in float like the real-time mixer.
// Voices and passes sit on the project's sample grid: voice sample 0 at
// trunc(rate x start), the pass's first frame at trunc(rate x range start),
// as the real-time mixer and the AAF session place them. Every voice plays
// at its PlayingGain in its PlayingGroup, as in the real-time mixer. The
// voices mix through that mixer's routine in slices on every core, a window
// of slices at a time (stream_mix.h): the voices a window needs are loaded
// before it and let go after it, so how long the project is does not decide
// how many samples a pass holds.
#include "export/wav_export.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <unordered_set>

#include "document/event.h"
#include "document/text_util.h"
#include "export/bwf_writer.h"
#include "export/export_folders.h"
#include "export/export_names.h"
#include "export/export_voices.h"
#include "export/stream_mix.h"
#include "platform/file_names.h"
#include "platform/file_util.h"
#include "playback/block_mixer.h"
#include "playback/playing_gain.h"
#include "render/clip_processing.h"
#include "render/render_worker_pool.h"

ExportTrackLayout ExportTrackLayoutOf(const Project& project) {
    ExportTrackLayout layout;
    layout.budgetMode = project.budgetMode;
    for (int g = 0; g < 3; ++g) layout.groups[g] = project.groups[g];
    return layout;
}

std::string ExportTrackName(const std::string& groupName, int slot) {
    char number[16];
    std::snprintf(number, sizeof(number), " %02d", slot + 1);
    std::string name = groupName + number;
    name.resize(Utf8SafeCutLength(name, kExportPartBytes));
    return name;
}

std::string ExportClipName(const RenderResult& result) {
    // A result named after its sound file does not repeat the file's extension.
    return CleanExportName(WithoutAudioExtension(result.name), "clip");
}

size_t ExportClipNameRoom(const std::string& fileBase) {
    // A file name holds 255 bytes, of which the writer's temporary
    // "<name>.tmp" needs four more.
    const size_t fixed = fileBase.size() + 3 + 4 + kTempSuffixBytes;  // " - ", ".wav" and ".tmp"
    return fixed < kMaxFileNameBytes ? kMaxFileNameBytes - fixed : 1;
}

// ---------------------------------------------------------------------------
// Voice envelopes
// ---------------------------------------------------------------------------

namespace {

constexpr float kClipMinFade = 0.002f;
constexpr float kDefaultFadeIn = 0.04f;
constexpr float kDefaultFadeOut = 0.05f;

// The voice's own gain curves, as the exported files carry them: each over
// the span the mixer reads it over (a fill's curve over its event), the
// stored intensity in place of a fill's live one.
VoiceCurves ClipCurves(const PlaybackVoice& v) {
    VoiceCurveChoice stored;
    stored.liveIntensity = false;
    return VoiceCurvesOf(v, v.length, stored);
}

// The stored fades, at least 2 ms, not fitted to the voice's length.
VoiceFades ClipFileFades(const AudioEngine& engine, size_t index) {
    auto stored = [](const std::vector<float>& list, size_t i, float fallback) {
        const float v = i < list.size() ? list[i] : fallback;
        return std::isfinite(v) ? std::max(v, kClipMinFade) : fallback;
    };
    return {stored(engine.voiceFadeIn, index, kDefaultFadeIn), stored(engine.voiceFadeOut, index, kDefaultFadeOut)};
}

bool ResultIndexValid(const PlaybackVoice& v, const std::vector<RenderResult>& results) {
    return v.resultIndex >= 0 && size_t(v.resultIndex) < results.size();
}

// ---------------------------------------------------------------------------
// PassState
// ---------------------------------------------------------------------------

struct PassState {
    PassState(const ExportJob& j, const std::vector<RenderResult>& r, const AudioEngine& e,
              const ExportTrackLayout& l, const WavPassOptions& o)
        : job(j), results(r), engine(e), layout(l), options(o), voices(e, r, j.windowSeconds, j.voiceStats, j.sounds) {}

    const ExportJob& job;
    const std::vector<RenderResult>& results;
    const AudioEngine& engine;
    const ExportTrackLayout& layout;
    const WavPassOptions& options;
    ExportVoices voices;  // samples of a window's voices at a time
    int32_t rate = 48000;
    double start = 0;   // seconds of the project where the pass begins
    double length = 0;  // seconds
    bool hasRange = false;
    double rangeIn = -1;
    double rangeOut = -1;
    int64_t frames = 0;
    double timeReference = 0;  // seconds: the start offset plus the pass start
    float master = 1;
    std::string base;      // what descriptions name
    std::string fileBase;  // what file names begin with: the base cut to fit (WavFileBase)
    std::array<std::string, 3> groupNames;
    ExportRollback rollback;
    int32_t written = 0;
    std::string failedPath;  // the file whose write failed, which ends the pass
    // The pass's work in units (a stem, a track, a clip): how far it is.
    int units = 1;
    int unit = 0;

    // Reports `fraction` of the current unit; false once the export is stopped.
    bool Progress(double fraction) const {
        ReportPassProgress(job, (double(unit) + fraction) / double(std::max(units, 1)));
        return !ExportCancelled(job);
    }
    MixProgress Sweep() const {
        return [this](double fraction) { return Progress(fraction); };
    }
};

// ---------------------------------------------------------------------------
// Writing files
// ---------------------------------------------------------------------------

bool WriteStereoFile(PassState& p, const std::string& path, const float* left, const float* right, int64_t frames,
                     double timeReference, const std::string& description) {
    if (ExportCancelled(p.job)) return false;  // the pass is undone
    if (!WriteBWFStereo(path, left, right, frames, p.rate, timeReference, description.c_str(), p.job.cancel,
                        HeldFolderFor(p.job, path), p.job.writeFault)) {
        if (ExportCancelled(p.job)) return false;  // stopped, not lost
        p.failedPath = path;
        return false;
    }
    p.rollback.files.push_back(path);
    ++p.written;
    return true;
}

// A file of the pass written as its mix is made (`mix` hands it to the sink
// it is given, and stops when told to): no more than a window of it is ever
// in memory. A mono file takes the left channel.
bool WriteMixedFile(PassState& p, const std::string& path, bool stereo, const std::string& description,
                    const std::function<bool(const MixSink&, const MixProgress&)>& mix) {
    if (ExportCancelled(p.job)) return false;  // the pass is undone
    BwfMonoWriter writer;
    bool open = writer.Open(path, p.rate, BwfTimeReference(p.rate, p.timeReference), description.c_str(),
                            p.job.cancel, stereo ? 2 : 1, HeldFolderFor(p.job, path), p.job.writeFault);
    const MixSink sink = [&](float* left, float* right, int64_t n) {
        if (open) open = stereo ? writer.WriteStereo(left, right, n) : writer.Write(left, n);
    };
    // A file that cannot be written ends the mix too.
    const MixProgress sweep = p.Sweep();
    const MixProgress progress = [&](double fraction) { return sweep(fraction) && open; };
    const bool mixed = mix(sink, progress);
    if (ExportCancelled(p.job)) return false;  // stopped, not lost
    if (!mixed || !open || !writer.Finish()) {
        p.failedPath = path;
        return false;
    }
    p.rollback.files.push_back(path);
    ++p.written;
    return true;
}

// The passes refuse before mixing what the writer would refuse afterwards.
bool FitsOneHour(const PassState& p) {
    const int64_t limit = int64_t(p.rate) * 3600;
    if (p.frames <= limit) return true;
    std::printf("[ExportWAV] %lld frames exceed the 1hr limit (%lld) — nothing written to %s\n",
                (long long)p.frames, (long long)limit, p.job.outDir.c_str());
    return false;
}

// ---------------------------------------------------------------------------
// Passes
// ---------------------------------------------------------------------------

int64_t PassFirstSample(const PassState& p) { return VoiceStartSample(p.start, p.rate); }

// The reverb goes in first and the voices on top, then the limiter, a
// window at a time into the file.
bool MixdownPass(PassState& p) {
    const VoiceMix dry = MixOf(p.engine, [&p](size_t, const PlaybackVoice& v) {
        return p.master * p.options.mix.groupGain[size_t(PlayingGroup(v.group))];
    });
    const ReverbParams* reverb = p.options.reverb && p.options.reverb->enabled.load() ? p.options.reverb : nullptr;
    const VoiceMix sends = reverb ? ReverbSendMix(p.engine, *reverb, p.options.mix) : VoiceMix{};
    const std::string path = p.job.outDir + "/" + p.fileBase + ".wav";
    double envelope = 0;  // the limiter's, from one window to the next
    const bool written =
        WriteMixedFile(p, path, true, p.base, [&](const MixSink& sink, const MixProgress& progress) {
            const MixSink limited = [&](float* left, float* right, int64_t n) {
                ApplyPeakLimiter(PeakLimiterOf(p.engine), left, right, n, &envelope);
                sink(left, right, n);
            };
            return StreamMix(p.voices, p.rate, PassFirstSample(p), p.frames, reverb, reverb ? &sends : nullptr, &dry)
                .Run(limited, progress);
        });
    if (written) std::printf("[ExportWAV] Mixdown written to %s\n", path.c_str());
    return written;
}

// A dry mix of the pass into a file of its own.
bool WriteDryMix(PassState& p, const std::string& path, bool stereo, const std::string& description,
                 const VoiceMix& mix) {
    return WriteMixedFile(p, path, stereo, description, [&](const MixSink& sink, const MixProgress& progress) {
        return StreamMix(p.voices, p.rate, PassFirstSample(p), p.frames, nullptr, nullptr, &mix).Run(sink, progress);
    });
}

// Whether group g's stem has a voice to write: the first of a layer,
// unmuted, with samples, playing in g.
bool StemHasVoices(const PassState& p, const std::vector<uint8_t>& layered, int g) {
    for (size_t i = 0; i < p.engine.voices.size(); ++i) {
        const PlaybackVoice& v = p.engine.voices[i];
        if (layered[i] && !v.muted.load() && PlayingGroup(v.group) == g && v.sampleCount >= 1) return true;
    }
    return false;
}

bool StemsPass(PassState& p) {
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    p.units = kPlayingGroups;
    for (int g = 0; g < kPlayingGroups; ++g) {
        p.unit = g;
        if (!StemHasVoices(p, layered, g)) continue;
        const float gain = p.options.mix.groupGain[size_t(g)] * p.master;
        const VoiceMix stem = MixOf(
            p.engine, [g, gain](size_t, const PlaybackVoice& v) { return PlayingGroup(v.group) == g ? gain : 0.0f; });
        const std::string name = p.base + " - " + p.groupNames[size_t(g)];
        const std::string path = p.job.outDir + "/" + p.fileBase + " - " + p.groupNames[size_t(g)] + ".wav";
        if (!WriteDryMix(p, path, true, name, stem)) return false;
    }
    return true;
}

// The global track of every voice's result: voices of no layer, or whose
// result is gone, are on no track.
std::vector<int32_t> VoiceTracks(const PassState& p) {
    std::vector<int32_t> voiceTrack(p.engine.voices.size(), INT32_MIN);
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    for (size_t i = 0; i < p.engine.voices.size(); ++i) {
        const PlaybackVoice& v = p.engine.voices[i];
        if (layered[i] && ResultIndexValid(v, p.results)) voiceTrack[i] = p.results[size_t(v.resultIndex)].track;
    }
    return voiceTrack;
}

int TrackSlots(const MixGroup& group) {
    return group.usedTracks > 0 ? std::max(group.trackCount, group.usedTracks) : 0;
}

bool TrackHasVoices(const PassState& p, const std::vector<int32_t>& voiceTrack, int32_t track) {
    for (size_t i = 0; i < voiceTrack.size(); ++i)
        if (voiceTrack[i] == track && !p.engine.voices[i].muted.load()) return true;
    return false;
}

bool TracksPass(PassState& p) {
    const std::string folder = p.job.outDir + "/Tracks";
    if (!PrepareExportFolder(p.job, folder, p.rollback)) return false;
    const std::vector<int32_t> voiceTrack = VoiceTracks(p);
    const ExportMixLevels& levels = p.options.mix;
    int32_t tracks = 0;
    p.units = 0;
    for (int g = 0; g < kPlayingGroups; ++g) p.units += TrackSlots(p.layout.groups[g]);
    p.unit = -1;
    for (int g = 0; g < kPlayingGroups; ++g) {
        const MixGroup& group = p.layout.groups[g];
        const int first = GroupFirstTrack(p.layout.groups, g);
        const int slots = TrackSlots(group);
        for (int s = 0; s < slots; ++s) {
            ++p.unit;
            const int32_t track = first + s;
            if (!TrackHasVoices(p, voiceTrack, track)) continue;
            // Each voice at its own group's fader, as it plays.
            const VoiceMix mix = MixOf(p.engine, [&voiceTrack, &levels, track](size_t i, const PlaybackVoice& v) {
                return voiceTrack[i] == track ? levels.groupGain[size_t(PlayingGroup(v.group))] : 0.0f;
            });
            const std::string name = ExportTrackName(p.groupNames[size_t(g)], s);
            const std::string path = folder + "/" + p.fileBase + " - " + name + ".wav";
            if (!WriteDryMix(p, path, group.stereo, name, mix)) return false;
            ++tracks;
        }
    }
    std::printf("[ExportWAV] %d tracks written to %s/Tracks/\n", tracks, p.job.outDir.c_str());
    return true;
}

// One clip file of voice i (its samples loaded), or nothing for a voice that
// starts so early that no frame is left. False when the write failed.
bool WriteClipFile(PassState& p, size_t i, const std::string& folder, ExportNameTable& names, size_t room,
                   std::vector<float>& left, std::vector<float>& right, int32_t& clips) {
    const PlaybackVoice& v = p.voices.Voice(i);
    const float gain = PlayingGain(v, p.options.mix.groupGain[size_t(PlayingGroup(v.group))]);
    const VoiceFades fades = ClipFileFades(p.engine, i);
    const VoiceCurves curves = ClipCurves(v);
    // A time reference cannot be negative: a layer that starts before
    // 00:00 loses the frames before it, so that the file placed by its
    // reference (00:00) plays each sample where the mix does.
    const double start = p.options.startOffset + double(v.startTime);
    const int64_t first = VoiceStartSample(start, p.rate);
    const size_t skip = first < 0 ? size_t(std::min<int64_t>(-first, v.sampleCount)) : 0;
    const size_t frames = size_t(v.sampleCount) - skip;
    if (frames < 1) return true;
    left.assign(frames, 0.0f);
    right.assign(frames, 0.0f);
    const size_t count = std::min(size_t(v.sampleCount), v.left.size());
    for (size_t j = skip; j < count; ++j) {
        const double t = double(j) / p.rate;
        const float g = gain * VoiceFadeGain(t, v.length, fades) * VoiceCurvesAt(curves, t);
        left[j - skip] = g * v.left[j];
        right[j - skip] = v.stereo && j < v.right.size() ? g * v.right[j] : left[j - skip];
    }
    const std::string name = names.Claim(ExportClipName(p.results[size_t(v.resultIndex)]), room);
    const std::string path = folder + "/" + p.fileBase + " - " + name + ".wav";
    if (!WriteStereoFile(p, path, left.data(), right.data(), int64_t(frames), skip > 0 ? 0.0 : start, name))
        return false;
    ++clips;
    return true;
}

bool ClipsPass(PassState& p) {
    const std::string folder = p.job.outDir + "/Clips";
    if (!PrepareExportFolder(p.job, folder, p.rollback)) return false;
    ExportNameTable names;
    const size_t room = ExportClipNameRoom(p.fileBase);
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    std::vector<size_t> written;
    for (size_t i = 0; i < p.engine.voices.size(); ++i) {
        const PlaybackVoice& v = p.engine.voices[i];
        if (!layered[i] || v.muted.load() || v.sampleCount < 1 || !ResultIndexValid(v, p.results)) continue;
        if (p.hasRange && (p.rangeIn >= double(v.startTime) + v.length || v.startTime >= p.rangeOut)) continue;
        written.push_back(i);
    }
    // A batch of voices prepared on every core at a time, each let go once
    // its file is written.
    const size_t batch = size_t(RenderThreadCount(0));
    std::vector<float> left, right;
    int32_t clips = 0;
    p.units = int(std::min<size_t>(written.size(), INT32_MAX));
    for (size_t at = 0; at < written.size(); at += batch) {
        p.unit = int(at);
        if (!p.Progress(0)) return false;
        const std::vector<size_t> some(written.begin() + long(at),
                                       written.begin() + long(std::min(written.size(), at + batch)));
        p.voices.Load(some);
        for (size_t k = 0; k < some.size(); ++k) {
            p.unit = int(at + k);
            if (!p.Progress(0) || !WriteClipFile(p, some[k], folder, names, room, left, right, clips)) return false;
            p.voices.Release(some[k]);
        }
    }
    std::printf("[ExportWAV] %d clips written to %s/Clips/\n", clips, p.job.outDir.c_str());
    return true;
}

// Every file the pass means to write, in the order it writes them, by the
// same tests the passes make: what a failed pass loses, written or not.
std::vector<std::string> PlannedFiles(const PassState& p) {
    std::vector<std::string> files;
    const std::string beside = p.job.outDir + "/" + p.fileBase;
    const ReverbParams* reverb = p.options.reverb;
    if (p.options.reverbStem && p.options.mode != kWavMixdown && reverb && reverb->enabled.load())
        files.push_back(beside + " - " + kReverbStemName + ".wav");
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    switch (p.options.mode) {
        case kWavMixdown: files.push_back(beside + ".wav"); break;
        case kWavStems:
            for (int g = 0; g < kPlayingGroups; ++g)
                if (StemHasVoices(p, layered, g)) files.push_back(beside + " - " + p.groupNames[size_t(g)] + ".wav");
            break;
        case kWavTracks: {
            const std::vector<int32_t> voiceTrack = VoiceTracks(p);
            for (int g = 0; g < kPlayingGroups; ++g) {
                const int first = GroupFirstTrack(p.layout.groups, g);
                const int slots = TrackSlots(p.layout.groups[g]);
                for (int s = 0; s < slots; ++s) {
                    if (TrackHasVoices(p, voiceTrack, first + s))
                        files.push_back(p.job.outDir + "/Tracks/" + p.fileBase + " - " +
                                        ExportTrackName(p.groupNames[size_t(g)], s) + ".wav");
                }
            }
            break;
        }
        case kWavClips: {
            ExportNameTable names;
            const size_t room = ExportClipNameRoom(p.fileBase);
            for (size_t i = 0; i < p.engine.voices.size(); ++i) {
                const PlaybackVoice& v = p.engine.voices[i];
                if (!layered[i] || v.muted.load() || v.sampleCount < 1 || !ResultIndexValid(v, p.results)) continue;
                if (p.hasRange && (p.rangeIn >= double(v.startTime) + v.length || v.startTime >= p.rangeOut))
                    continue;
                const int64_t first = VoiceStartSample(p.options.startOffset + double(v.startTime), p.rate);
                if (first < 0 && -first >= int64_t(v.sampleCount)) continue;  // nothing after 00:00
                const std::string name = names.Claim(ExportClipName(p.results[size_t(v.resultIndex)]), room);
                files.push_back(p.job.outDir + "/Clips/" + p.fileBase + " - " + name + ".wav");
            }
            break;
        }
        default: break;
    }
    return files;
}

}  // namespace

// ---------------------------------------------------------------------------
// WriteWavExport
// ---------------------------------------------------------------------------

int32_t WriteWavExport(const ExportJob& job, const std::vector<RenderResult>& results, const AudioEngine& engine,
                       int32_t sampleRate, const ExportTrackLayout& layout, float totalDuration,
                       const WavPassOptions& options, float rangeIn, float rangeOut, bool* failed) {
    if (failed) *failed = false;
    PassState p(job, results, engine, layout, options);
    p.rollback.staged = job.folders != nullptr;
    auto fail = [&]() {
        if (failed) *failed = true;
        return 0;  // the rollback undoes the call
    };
    // A base that would name files outside the folder refuses the pass before
    // anything is made.
    p.base = ExportBaseName(options.baseName, job.outDir);
    const std::string problem = FileNameProblem(p.base);
    if (!problem.empty()) {
        std::printf("[ExportWAV] Refused: %s (\"%s\")\n", problem.c_str(), p.base.c_str());
        return fail();
    }
    p.fileBase = WavFileBase(p.base);

    p.rate = sampleRate;
    p.hasRange = rangeIn >= 0 && rangeOut > rangeIn;
    p.rangeIn = rangeIn;
    p.rangeOut = rangeOut;
    p.start = p.hasRange ? double(rangeIn) : 0.0;
    p.length = p.hasRange ? double(rangeOut) - double(rangeIn) : double(totalDuration);
    if (!engine.cacheReady.load() || !(p.length > 0) || sampleRate < 1) return 0;
    const double frames = std::trunc(double(sampleRate) * p.length);
    if (!(frames >= 1)) return 0;
    p.frames = frames < 9.0e18 ? int64_t(frames) : INT64_MAX;

    p.master = options.applyMasterGain ? options.mix.masterGain : 1.0f;
    p.timeReference = options.startOffset + p.start;
    p.groupNames = ExportGroupNames(layout.groups);

    // A folder that cannot be had loses every file of the pass, and says why.
    if (!PrepareExportFolder(job, job.outDir, p.rollback)) {
        if (job.losses && !ExportCancelled(job)) {
            job.losses->NoteWhy(TakeWriteFailure());
            for (const std::string& f : PlannedFiles(p)) job.losses->AddFile(f);
        }
        return fail();
    }
    p.Progress(0);

    const ReverbParams* reverb = options.reverb;
    if (options.reverbStem && options.mode != kWavMixdown && reverb && reverb->enabled.load() && FitsOneHour(p)) {
        // Mixed a window at a time straight into its file: no hour of it is
        // ever in memory.
        const std::string path = job.outDir + "/" + p.fileBase + " - " + kReverbStemName + ".wav";
        const std::string description = p.base + " - " + kReverbStemName;
        BwfMonoWriter writer;
        bool open = writer.Open(path, p.rate, BwfTimeReference(p.rate, p.timeReference), description.c_str(),
                                job.cancel, 2, HeldFolderFor(job, path), job.writeFault);
        const MixSink sink = [&](float* l, float* r, int64_t n) {
            if (open) open = writer.WriteStereo(l, r, n);
        };
        const MixProgress untilStopped = [&job](double) { return !ExportCancelled(job); };
        const bool mixed = StreamOfflineMix(p.voices, *reverb, p.rate, p.length, p.start, sink, &options.mix,
                                            untilStopped);
        if (mixed && open && !ExportCancelled(job) && writer.Finish()) {
            p.rollback.files.push_back(path);
            ++p.written;
            std::printf("[ExportWAV] Reverb stem written to %s\n", path.c_str());
        } else if (mixed && !ExportCancelled(job)) {
            // The writer said why; the pass goes on without it.
            if (failed) *failed = true;
        }
    }

    bool ok = false;
    try {
        switch (options.mode) {
            case kWavMixdown: ok = FitsOneHour(p) && MixdownPass(p); break;
            case kWavStems: ok = FitsOneHour(p) && StemsPass(p); break;
            case kWavTracks: ok = FitsOneHour(p) && TracksPass(p); break;
            case kWavClips: ok = ClipsPass(p); break;
            default: break;
        }
    } catch (const std::exception& e) {
        // Out of memory, or the like: the pass fails and is undone.
        std::printf("[ExportWAV] The pass failed: %s\n", e.what());
        ok = false;
    }
    // A failure loses every file the pass was to write: the one that failed,
    // those the rollback takes back and those it never came to. A pass that
    // succeeded loses the ones it went on without. A stop loses only what the
    // designer asked to stop.
    WriteFailure why = TakeWriteFailure();
    if (job.losses && !ExportCancelled(job)) {
        const size_t before = job.losses->files.size();
        // The file whose write failed is named first: it is why the rest went.
        if (!ok && !p.failedPath.empty()) job.losses->AddFile(p.failedPath);
        const std::unordered_set<std::string> kept(p.rollback.files.begin(), p.rollback.files.end());
        for (const std::string& f : PlannedFiles(p))
            if ((!ok || !kept.count(f)) && (ok || f != p.failedPath)) job.losses->AddFile(f);
        if (job.losses->files.size() > before) job.losses->NoteWhy(std::move(why));
    }
    // Stopped while it ran: undone like a failure, the earlier files return.
    if (!ok || ExportCancelled(job)) return fail();
    p.rollback.committed = true;
    return p.written;
}

bool StreamOfflineMix(ExportVoices& voices, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, const MixSink& sink, const ExportMixLevels* levels, const MixProgress& progress) {
    const AudioEngine& engine = voices.Engine();
    if (sampleRate < 1 || !std::isfinite(start) || !sink) return false;
    const double wanted = std::trunc(length * double(sampleRate));
    if (!(wanted >= 1) || wanted > 9.0e15 || !engine.cacheReady.load()) return false;
    const ExportMixLevels mix = levels ? *levels : CurrentMixLevels(engine);
    const VoiceMix sends = ReverbSendMix(engine, reverb, mix);
    return StreamMix(voices, sampleRate, VoiceStartSample(start, sampleRate), int64_t(wanted), &reverb, &sends, nullptr)
        .Run(sink, progress);
}
