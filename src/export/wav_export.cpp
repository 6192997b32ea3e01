// wav_export.cpp — the WAV passes of an export and the offline reverb mix.
//
// Index
//   ExportTrackLayoutOf
//   Voice envelopes       ClipCurveGain, ClipFileFades, VoicesOfLayers
//   Offline voice mix     ForEachSlice, MixVoicesOffline: voices into buffers on every core
//   PassState             what every pass shares: range, frames, names, rollback
//   Writing files         WriteStereoFile, WriteMonoFile, FitsOneHour
//   Passes                MixdownPass, StemsPass, TracksPass, ClipsPass
//   WriteWavExport
//   RenderOfflineMix
//
// Times are doubles from the project start's fraction through to every time
// reference; the mix and the reverb run in float like the real-time mixer.
// Voices and passes sit on the project's sample grid: voice sample 0 at
// trunc(rate x start), the pass's first frame at trunc(rate x range start),
// as the real-time mixer and the AAF session place them. The voices mix
// through the real-time mixer's routine (voice_mix.h), in time slices on
// every core; the reverb runs on one.
#include "export/wav_export.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <unordered_set>

#include "document/event.h"
#include "document/text_util.h"
#include "export/bwf_writer.h"
#include "export/export_names.h"
#include "platform/file_names.h"
#include "platform/file_util.h"
#include "playback/block_mixer.h"
#include "playback/reverb.h"
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
constexpr int kReverbBlock = 2048;

// The voice's own gain curves over its length, as the exported files carry
// them: the fill's live intensity curve is not applied.
float ClipCurveGain(const PlaybackVoice& v, double t) {
    const double len = v.length;
    if (!(len > 0)) return 1.0f;
    const double q = t / len;
    float c = 1.0f;
    if (v.hasIntGain) c *= CurveValueAt(v.intGain.data(), kVoiceIntGainPoints, q * (kVoiceIntGainPoints - 1));
    if (v.hasFillGain) c *= CurveValueAt(v.fillGain.data(), kVoiceFillGainPoints, q * (kVoiceFillGainPoints - 1));
    if (v.hasDeconGain)
        c *= CurveValueAt(v.deconGain.data(), kVoiceDeconGainPoints, q * (kVoiceDeconGainPoints - 1));
    return c;
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

// Per voice: whether it is the first voice of a layer. A voice whose layer
// the document no longer has (the job relinked it to -1), or a second voice
// of one layer, is never exported.
std::vector<uint8_t> VoicesOfLayers(const AudioEngine& engine) {
    std::vector<uint8_t> layered(engine.voices.size(), 0);
    std::unordered_set<int32_t> seen;
    seen.reserve(engine.voices.size());
    for (size_t i = 0; i < engine.voices.size(); ++i) {
        const int32_t r = engine.voices[i].resultIndex;
        layered[i] = r >= 0 && seen.insert(r).second;
    }
    return layered;
}

// ---------------------------------------------------------------------------
// Offline voice mix
// ---------------------------------------------------------------------------

// About 1.4 s at 48 kHz: enough slices to keep every core busy, few enough
// that each voice's set-up per slice is nothing.
constexpr int64_t kSliceFrames = int64_t(1) << 16;

// mix(first, count) for consecutive slices of [0, frames), on every core;
// each call writes only its own frames, so the result does not depend on
// how the slices are shared out.
void ForEachSlice(int64_t frames, const std::function<void(int64_t, int64_t)>& mix) {
    const int64_t slices = (frames + kSliceFrames - 1) / kSliceFrames;
    if (slices < 1) return;
    const int chunks = int(std::min<int64_t>(slices, INT32_MAX));
    const int64_t size = (frames + chunks - 1) / chunks;
    RunRenderChunks(chunks, RenderThreadCount(0), [&](int c) {
        const int64_t first = int64_t(c) * size;
        if (first < frames) mix(first, std::min(size, frames - first));
    });
}

// Every voice that `extraGain` gives a gain above 0 into the buses (frame 0
// = project sample `first`), as MixClipWithFades mixes it; with send buses
// also its reverb send, `sendOf`, where that is at least 1e-6. Voices go in
// in their order, so every frame sums as the real-time mixer sums it.
void MixVoicesOffline(const AudioEngine& engine, int rate, int64_t first, int64_t frames,
                      const std::function<float(const PlaybackVoice&)>& extraGain,
                      const std::function<float(const PlaybackVoice&)>& sendOf, const VoiceMixTargets& buses) {
    const bool sends = buses.sendLeft && buses.sendRight;
    const std::vector<uint8_t> layered = VoicesOfLayers(engine);
    ForEachSlice(frames, [&](int64_t at, int64_t count) {
        auto shifted = [at](float* bus) { return bus ? bus + at : nullptr; };
        const VoiceMixTargets slice{shifted(buses.left),     shifted(buses.right), shifted(buses.sendLeft),
                                    shifted(buses.sendRight), nullptr,              nullptr};
        for (size_t i = 0; i < engine.voices.size(); ++i) {
            if (!layered[i]) continue;
            const PlaybackVoice& v = engine.voices[i];
            const float gain = extraGain(v);
            if (!(gain > 0)) continue;
            VoiceMixPlan plan;
            if (!PlanClipVoice(v, int(i), engine, rate, gain, plan)) continue;
            if (sends) {
                plan.send = sendOf(v);
                if (!(plan.send >= 0.000001f)) {
                    if (!buses.left) continue;  // only sends wanted, and this one sends nothing
                    plan.send = 0;
                }
            }
            MixVoiceInto(plan, first + at, count, slice);
        }
    });
}

// ---------------------------------------------------------------------------
// PassState
// ---------------------------------------------------------------------------

struct PassState {
    PassState(const ExportJob& j, const std::vector<RenderResult>& r, const AudioEngine& e,
              const ExportTrackLayout& l, const WavPassOptions& o)
        : job(j), results(r), engine(e), layout(l), options(o) {}

    const ExportJob& job;
    const std::vector<RenderResult>& results;
    const AudioEngine& engine;
    const ExportTrackLayout& layout;
    const WavPassOptions& options;
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
};

// ---------------------------------------------------------------------------
// Writing files
// ---------------------------------------------------------------------------

bool WriteStereoFile(PassState& p, const std::string& path, const float* left, const float* right, int64_t frames,
                     double timeReference, const std::string& description) {
    if (ExportCancelled(p.job)) return false;  // the pass is undone
    p.rollback.Announce(path);
    if (!WriteBWFStereo(path, left, right, frames, p.rate, timeReference, description.c_str())) {
        p.failedPath = path;
        return false;
    }
    p.rollback.files.push_back(path);
    ++p.written;
    return true;
}

bool WriteMonoFile(PassState& p, const std::string& path, const float* samples, int64_t frames,
                   double timeReference, const std::string& description) {
    if (frames > INT32_MAX || ExportCancelled(p.job)) return false;
    p.rollback.Announce(path);
    if (!WriteBWFClipMono(path, samples, int32_t(frames), p.rate, timeReference, description.c_str())) {
        p.failedPath = path;
        return false;
    }
    p.rollback.files.push_back(path);
    ++p.written;
    return true;
}

// The passes that hold whole-length buffers refuse before allocating them
// what the writer would refuse afterwards.
bool FitsOneHour(const PassState& p) {
    const int64_t limit = int64_t(p.rate) * 3600;
    if (p.frames <= limit) return true;
    std::printf("[ExportWAV] %lld frames exceed the 1hr limit (%lld) — nothing written to %s\n",
                (long long)p.frames, (long long)limit, p.job.outDir.c_str());
    return false;
}

int GroupOf(const PlaybackVoice& v) { return std::clamp(v.group, 0, 2); }

// ---------------------------------------------------------------------------
// Passes
// ---------------------------------------------------------------------------

// The reverb goes in first and the voices on top, so the pass never holds
// more than the two mix buffers.
bool MixdownPass(PassState& p) {
    std::vector<float> left, right;
    const ReverbParams* reverb = p.options.reverb;
    if (!(reverb && reverb->enabled.load() &&
          RenderOfflineMix(p.engine, *reverb, p.rate, p.length, p.start, left, right, &p.options.mix))) {
        left.clear();
        right.clear();
    }
    left.resize(size_t(p.frames), 0.0f);
    right.resize(size_t(p.frames), 0.0f);
    VoiceMixTargets buses;
    buses.left = left.data();
    buses.right = right.data();
    MixVoicesOffline(
        p.engine, p.rate, VoiceStartSample(p.start, p.rate), p.frames,
        [&p](const PlaybackVoice& v) { return p.master * p.options.mix.groupGain[size_t(GroupOf(v))]; }, nullptr,
        buses);
    ApplyPeakLimiter(p.engine, left.data(), right.data(), p.frames);
    const std::string path = p.job.outDir + "/" + p.fileBase + ".wav";
    if (!WriteStereoFile(p, path, left.data(), right.data(), p.frames, p.timeReference, p.base)) return false;
    std::printf("[ExportWAV] Mixdown written to %s\n", path.c_str());
    return true;
}

bool StemsPass(PassState& p) {
    std::vector<float> left, right;
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    for (int g = 0; g < 3; ++g) {
        bool used = false;
        for (size_t i = 0; i < p.engine.voices.size() && !used; ++i) {
            const PlaybackVoice& v = p.engine.voices[i];
            used = layered[i] && !v.muted.load() && v.group == g && v.sampleCount >= 1;
        }
        if (!used) continue;
        left.assign(size_t(p.frames), 0.0f);
        right.assign(size_t(p.frames), 0.0f);
        const float gain = p.options.mix.groupGain[size_t(g)] * p.master;
        VoiceMixTargets buses;
        buses.left = left.data();
        buses.right = right.data();
        MixVoicesOffline(
            p.engine, p.rate, VoiceStartSample(p.start, p.rate), p.frames,
            [g, gain](const PlaybackVoice& v) { return v.group == g ? gain : 0.0f; }, nullptr, buses);
        const std::string name = p.base + " - " + p.groupNames[size_t(g)];
        const std::string path = p.job.outDir + "/" + p.fileBase + " - " + p.groupNames[size_t(g)] + ".wav";
        if (!WriteStereoFile(p, path, left.data(), right.data(), p.frames, p.timeReference, name))
            return false;
    }
    return true;
}

bool TracksPass(PassState& p) {
    const std::string folder = p.job.outDir + "/Tracks";
    if (!MakeExportFolder(folder, p.rollback)) return false;
    // The global track of every voice's result; voices without one are on no track.
    std::vector<int32_t> voiceTrack(p.engine.voices.size(), INT32_MIN);
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    for (size_t i = 0; i < p.engine.voices.size(); ++i) {
        const PlaybackVoice& v = p.engine.voices[i];
        if (layered[i] && ResultIndexValid(v, p.results)) voiceTrack[i] = p.results[size_t(v.resultIndex)].track;
    }
    std::vector<float> left, right;
    int32_t tracks = 0;
    for (int g = 0; g < 3; ++g) {
        const MixGroup& group = p.layout.groups[g];
        const int first = GroupFirstTrack(p.layout.groups, g);
        const int slots = group.usedTracks > 0 ? std::max(group.trackCount, group.usedTracks) : 0;
        for (int s = 0; s < slots; ++s) {
            const int32_t track = first + s;
            bool used = false;
            for (size_t i = 0; i < voiceTrack.size() && !used; ++i)
                used = voiceTrack[i] == track && !p.engine.voices[i].muted.load();
            if (!used) continue;
            left.assign(size_t(p.frames), 0.0f);
            right.assign(size_t(p.frames), 0.0f);
            const PlaybackVoice* firstVoice = p.engine.voices.data();
            const float gain = p.options.mix.groupGain[size_t(g)];
            VoiceMixTargets buses;
            buses.left = left.data();
            buses.right = right.data();
            MixVoicesOffline(
                p.engine, p.rate, VoiceStartSample(p.start, p.rate), p.frames,
                [&, firstVoice](const PlaybackVoice& v) {
                    return voiceTrack[size_t(&v - firstVoice)] == track ? gain : 0.0f;
                },
                nullptr, buses);
            const std::string name = ExportTrackName(p.groupNames[size_t(g)], s);
            const std::string path = folder + "/" + p.fileBase + " - " + name + ".wav";
            const bool ok = group.stereo
                                ? WriteStereoFile(p, path, left.data(), right.data(), p.frames, p.timeReference, name)
                                : WriteMonoFile(p, path, left.data(), p.frames, p.timeReference, name);
            if (!ok) return false;
            ++tracks;
        }
    }
    std::printf("[ExportWAV] %d tracks written to %s/Tracks/\n", tracks, p.job.outDir.c_str());
    return true;
}

bool ClipsPass(PassState& p) {
    const std::string folder = p.job.outDir + "/Clips";
    if (!MakeExportFolder(folder, p.rollback)) return false;
    ExportNameTable names;
    const size_t room = ExportClipNameRoom(p.fileBase);
    std::vector<float> left, right;
    int32_t clips = 0;
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    for (size_t i = 0; i < p.engine.voices.size(); ++i) {
        const PlaybackVoice& v = p.engine.voices[i];
        if (!layered[i] || v.muted.load() || v.sampleCount < 1 || !ResultIndexValid(v, p.results)) continue;
        if (p.hasRange && (p.rangeIn >= double(v.startTime) + v.length || v.startTime >= p.rangeOut)) continue;

        const bool groupValid = v.group >= 0 && v.group <= 2;
        const float gain = v.gain.load() * v.normGain * v.eventGain.load() *
                           (groupValid ? p.options.mix.groupGain[size_t(v.group)] : 1.0f);
        const VoiceFades fades = ClipFileFades(p.engine, i);
        // A time reference cannot be negative: a layer that starts before
        // 00:00 loses the frames before it, so that the file placed by its
        // reference (00:00) plays each sample where the mix does.
        const double start = p.options.startOffset + double(v.startTime);
        const int64_t first = VoiceStartSample(start, p.rate);
        const size_t skip = first < 0 ? size_t(std::min<int64_t>(-first, v.sampleCount)) : 0;
        const size_t frames = size_t(v.sampleCount) - skip;
        if (frames < 1) continue;
        left.assign(frames, 0.0f);
        right.assign(frames, 0.0f);
        const size_t count = std::min(size_t(v.sampleCount), v.left.size());
        for (size_t j = skip; j < count; ++j) {
            const double t = double(j) / p.rate;
            const float g = gain * VoiceFadeGain(t, v.length, fades) * ClipCurveGain(v, t);
            left[j - skip] = g * v.left[j];
            right[j - skip] = v.stereo && j < v.right.size() ? g * v.right[j] : left[j - skip];
        }
        const std::string name = names.Claim(ExportClipName(p.results[size_t(v.resultIndex)]), room);
        const std::string path = folder + "/" + p.fileBase + " - " + name + ".wav";
        if (!WriteStereoFile(p, path, left.data(), right.data(), int64_t(frames), skip > 0 ? 0.0 : start, name))
            return false;
        ++clips;
    }
    std::printf("[ExportWAV] %d clips written to %s/Clips/\n", clips, p.job.outDir.c_str());
    return true;
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
    p.rollback.announce = job.announce;
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
    if (!MakeExportFolder(job.outDir, p.rollback)) return fail();

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

    const ReverbParams* reverb = options.reverb;
    if (options.reverbStem && options.mode != kWavMixdown && reverb && reverb->enabled.load()) {
        std::vector<float> left, right;
        if (FitsOneHour(p) && RenderOfflineMix(engine, *reverb, p.rate, p.length, p.start, left, right, &options.mix)) {
            const std::string path = job.outDir + "/" + p.fileBase + " - " + kReverbStemName + ".wav";
            const std::string description = p.base + " - " + kReverbStemName;
            if (WriteStereoFile(p, path, left.data(), right.data(), int64_t(left.size()), p.timeReference,
                                description)) {
                std::printf("[ExportWAV] Reverb stem written to %s\n", path.c_str());
            } else {
                // The writer said why; the pass goes on without it.
                if (failed) *failed = true;
                if (job.losses) job.losses->AddFile(path);
                p.failedPath.clear();
            }
        }
    }

    bool ok = false;
    switch (options.mode) {
        case kWavMixdown: ok = FitsOneHour(p) && MixdownPass(p); break;
        case kWavStems: ok = FitsOneHour(p) && StemsPass(p); break;
        case kWavTracks: ok = FitsOneHour(p) && TracksPass(p); break;
        case kWavClips: ok = ClipsPass(p); break;
        default: break;
    }
    // Stopped while it ran: undone like a failure, the earlier files return.
    if (!ok || ExportCancelled(job)) {
        // A failure loses the file that failed, then every file the rollback
        // takes back; a stop loses only what the designer asked to stop.
        if (job.losses && !ExportCancelled(job)) {
            if (!p.failedPath.empty()) job.losses->AddFile(p.failedPath);
            for (const std::string& f : p.rollback.files) job.losses->AddFile(f);
        }
        return fail();
    }
    p.rollback.committed = true;
    return p.written;
}

// ---------------------------------------------------------------------------
// RenderOfflineMix
// ---------------------------------------------------------------------------

bool RenderOfflineMix(const AudioEngine& engine, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, std::vector<float>& outLeft, std::vector<float>& outRight,
                      const ExportMixLevels* levels) {
    if (sampleRate < 1 || !std::isfinite(start)) return false;
    const double wanted = std::trunc(length * double(sampleRate));
    if (!(wanted >= 1) || wanted > 9.0e15 || !engine.cacheReady.load()) return false;
    const int64_t frames = int64_t(wanted);
    const ExportMixLevels mix = levels ? *levels : CurrentMixLevels(engine);

    // The outputs hold the sends first, exactly as the real-time mixer feeds
    // its reverb; the reverb then turns them into the wet signal block by
    // block, in place.
    outLeft.assign(size_t(frames), 0.0f);
    outRight.assign(size_t(frames), 0.0f);
    VoiceMixTargets sends;
    sends.sendLeft = outLeft.data();
    sends.sendRight = outRight.data();
    MixVoicesOffline(
        engine, sampleRate, VoiceStartSample(start, sampleRate), frames,
        [&mix](const PlaybackVoice& v) { return mix.groupGain[size_t(GroupOf(v))]; },
        [&reverb](const PlaybackVoice& v) {
            return v.reverbSend >= 0 ? v.reverbSend : reverb.groupSends[size_t(GroupOf(v))].load();
        },
        sends);

    // The reverb starts cleared, with the mixer's settings already reached:
    // as the real-time reverb is after a seek to the same place.
    auto state = std::make_unique<ReverbState>();  // about a megabyte: never on the stack
    InitReverb(*state, sampleRate);
    ReverbSetParams(*state, {reverb.size.load(), reverb.decay.load(), reverb.damping.load(), reverb.preDelay.load(),
                             reverb.diffusion.load(), reverb.modulation.load()});
    ReverbSettleParams(*state);
    std::array<float, kReverbBlock> inL, inR, wetL, wetR;
    for (int64_t at = 0; at < frames; at += kReverbBlock) {
        const int n = int(std::min<int64_t>(kReverbBlock, frames - at));
        std::copy_n(outLeft.begin() + at, n, inL.begin());
        std::copy_n(outRight.begin() + at, n, inR.begin());
        ProcessReverbBlock(*state, inL.data(), inR.data(), wetL.data(), wetR.data(), n);
        std::copy_n(wetL.begin(), n, outLeft.begin() + at);
        std::copy_n(wetR.begin(), n, outRight.begin() + at);
    }
    return true;
}
