// wav_export.cpp — the WAV passes of an export and the offline reverb mix.
//
// Index
//   ExportTrackLayoutOf
//   Voice envelopes       ClipCurveGain, ClipFileFades, VoicesOfLayers
//   Offline voice mix     SliceGrid, MixOf, MixSlice, SweepWindows: voices into buffers on every
//                         core, a window of slices at a time with only its voices loaded, the
//                         progress told and the stop looked at between windows;
//                         OfflineReverb, StreamMix (sends, wet, dry on top, handed on as made)
//   PassState             what every pass shares: range, frames, names, rollback
//   Writing files         WriteStereoFile, WriteMixedFile, FitsOneHour
//   Passes                MixdownPass, StemsPass, TracksPass, ClipsPass (WriteClipFile)
//   WriteWavExport
//   RenderOfflineMix
//
// Times are doubles from the project start's fraction through to every time
// reference; the mix and the reverb run in float like the real-time mixer.
// Voices and passes sit on the project's sample grid: voice sample 0 at
// trunc(rate x start), the pass's first frame at trunc(rate x range start),
// as the real-time mixer and the AAF session place them. The voices mix
// through the real-time mixer's routine (voice_mix.h), in time slices on
// every core; the reverb runs on one, right behind the slices. The slices
// are taken a window at a time (the job's slice length): the voices a
// window needs are loaded before it and let go after it, so how long the
// project is does not decide how many samples a pass holds.
#include "export/wav_export.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <unordered_set>

#include "document/event.h"
#include "document/text_util.h"
#include "export/bwf_writer.h"
#include "export/export_folders.h"
#include "export/export_names.h"
#include "export/export_voices.h"
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

// The slices a pass's frames are mixed in: as many as needed of at most
// kSliceFrames, equal but the last. Each slice takes one call per voice, and
// a voice's gains run from where that call begins, so the grid decides the
// float rounding: it depends on the pass's length alone, never on how many
// slices are mixed at once or which voices are loaded.
struct SliceGrid {
    int64_t frames = 0;
    int64_t size = 0;
    int count = 0;

    explicit SliceGrid(int64_t passFrames) : frames(std::max<int64_t>(0, passFrames)) {
        const int64_t slices = (frames + kSliceFrames - 1) / kSliceFrames;
        count = int(std::min<int64_t>(slices, INT32_MAX));
        size = count > 0 ? (frames + count - 1) / count : 0;
    }
    int64_t First(int c) const { return std::min(frames, int64_t(c) * size); }
    int64_t End(int c) const { return std::min(frames, First(c) + size); }
};

// What a sweep mixes: per voice whether it is mixed at all (so a slice holds
// only what it sounds), its gain beside its own (0: left out) and, with send
// buses, its reverb send (voices sending less than 1e-6 are left out of the
// send buses).
struct VoiceMix {
    std::vector<uint8_t> mixed;
    std::function<float(size_t, const PlaybackVoice&)> extraGain;
    std::function<float(const PlaybackVoice&)> sendOf;
};

float GainOf(const PlaybackVoice& v, float extra) { return v.normGain * v.gain.load() * v.eventGain.load() * extra; }

// Which voices a sweep mixes: first voices of layers, unmuted, with samples
// to give and a gain (sends: a send) that is heard.
VoiceMix MixOf(const AudioEngine& engine, std::function<float(size_t, const PlaybackVoice&)> extraGain,
               std::function<float(const PlaybackVoice&)> sendOf = nullptr) {
    VoiceMix m;
    m.extraGain = std::move(extraGain);
    m.sendOf = std::move(sendOf);
    m.mixed = VoicesOfLayers(engine);
    for (size_t i = 0; i < engine.voices.size(); ++i) {
        const PlaybackVoice& v = engine.voices[i];
        if (!m.mixed[i]) continue;
        const bool heard = !v.muted.load() && v.sampleCount > 0 && GainOf(v, m.extraGain(i, v)) >= 1e-6f;
        const bool sends = !m.sendOf || m.sendOf(v) >= 0.000001f;
        m.mixed[i] = heard && sends;
    }
    return m;
}

// Slice c of the grid (pass frame 0 = project sample `first`): every mixed
// voice in voice order into the buses, as MixClipWithFades mixes it, its
// send too where the buses have send buses. So every frame sums as the
// real-time mixer sums it.
// The buses hold pass frames from `origin` on.
void MixSlice(const ExportVoices& voices, int rate, int64_t first, const SliceGrid& grid, int c, const VoiceMix& m,
              const VoiceMixTargets& buses, int64_t origin = 0) {
    const int64_t at = grid.First(c), count = grid.End(c) - at;
    if (count < 1) return;
    auto shifted = [at, origin](float* bus) { return bus ? bus + (at - origin) : nullptr; };
    const VoiceMixTargets slice{shifted(buses.left),     shifted(buses.right), shifted(buses.sendLeft),
                                shifted(buses.sendRight), nullptr,              nullptr};
    const bool sends = buses.sendLeft && buses.sendRight;
    for (size_t i = 0; i < voices.Count(); ++i) {
        if (!m.mixed[i]) continue;
        const PlaybackVoice& v = voices.Voice(i);
        VoiceMixPlan plan;
        if (!PlanClipVoice(v, int(i), voices.Engine(), rate, m.extraGain(i, v), plan)) continue;
        if (sends) plan.send = m.sendOf(v);
        MixVoiceInto(plan, first + at, count, slice);
    }
}

// The grid's slices in windows of about the export's slice length: before a
// window, the voices it mixes are loaded (`from` lets a caller keep earlier
// frames' voices too); the window's slices are mixed on every core; then
// `after(window end)` runs on this thread, and the copies of voices that end
// before `keepFrom(window end)` are dropped. `progress` hears the share of
// the frames done after each window; false from it (a stop) ends the sweep,
// and the sweep returns false.
bool SweepWindows(ExportVoices& voices, int rate, int64_t first, const SliceGrid& grid,
                  const std::vector<uint8_t>& hold, const std::function<void(int)>& mixSlice,
                  const std::function<void(int64_t)>& after, const std::function<int64_t(int64_t)>& keepFrom,
                  const MixProgress& progress, const std::function<void(int64_t)>& before = nullptr) {
    const int perWindow = int(std::clamp<double>(
        std::round(voices.SliceSeconds() * double(rate) / double(std::max<int64_t>(grid.size, 1))), 1.0, 1.0e6));
    for (int c0 = 0; c0 < grid.count; c0 += perWindow) {
        if (progress && !progress(double(grid.First(c0)) / double(std::max<int64_t>(grid.frames, 1)))) return false;
        const int c1 = std::min(grid.count, c0 + perWindow);
        const int64_t windowEnd = grid.End(c1 - 1);
        if (before) before(windowEnd);
        voices.Load(first + keepFrom(grid.First(c0)), first + windowEnd, rate, hold);
        RunRenderChunks(c1 - c0, RenderThreadCount(0), [&](int k) { mixSlice(c0 + k); });
        if (after) after(windowEnd);
        voices.ReleaseBefore(first + keepFrom(windowEnd), rate);
    }
    return !progress || progress(1.0);
}

// A private reverb run over a pass's send buses in place, 2048 frames at a
// time from the pass's start, as far as the sends are complete: the buses
// then hold the wet signal. It starts cleared with the mixer's settings
// already reached, as the real-time reverb is after a seek to the same place.
struct OfflineReverb {
    std::unique_ptr<ReverbState> state = std::make_unique<ReverbState>();  // about a megabyte: never on the stack
    int64_t done = 0;  // frames turned wet

    OfflineReverb(const ReverbParams& reverb, int rate) {
        InitReverb(*state, rate);
        ReverbSetParams(*state, {reverb.size.load(), reverb.decay.load(), reverb.damping.load(),
                                 reverb.preDelay.load(), reverb.diffusion.load(), reverb.modulation.load()});
        ReverbSettleParams(*state);
    }

    // Whole blocks up to `upTo`; with `last`, the short block at the end too.
    // The buffers hold pass frames from `origin` on.
    void Advance(float* left, float* right, int64_t upTo, bool last, int64_t origin = 0) {
        std::array<float, kReverbBlock> inL, inR, wetL, wetR;
        while (done < upTo && (last || done + kReverbBlock <= upTo)) {
            const int n = int(std::min<int64_t>(kReverbBlock, upTo - done));
            const int64_t at = done - origin;
            std::copy_n(left + at, n, inL.begin());
            std::copy_n(right + at, n, inR.begin());
            ProcessReverbBlock(*state, inL.data(), inR.data(), wetL.data(), wetR.data(), n);
            std::copy_n(wetL.begin(), n, left + at);
            std::copy_n(wetR.begin(), n, right + at);
            done += n;
        }
    }
};

// The pass's mix handed to `sink` window by window, in order, as its frames
// are complete: the buffers hold only the frames from the first one not yet
// handed on to the window's end, whatever the pass's length. With `reverb`,
// the `sends` are mixed into the buffers and turned wet behind the windows;
// with `dry`, the voices' dry sound goes on top, slice by slice as soon as a
// slice's wet is complete (at once without a reverb): every frame is the wet
// sound plus the voices in voice order, mixed into zeroed frames slice by
// slice as the whole pass would be, so the grid alone decides the float
// sums. The voices a slice needs stay loaded only until both of its mixes are
// done. False when stopped (`progress`); the sink may have been handed part
// of the mix then.
bool StreamMix(ExportVoices& voices, int rate, int64_t first, int64_t frames, const ReverbParams* reverb,
               const VoiceMix* sends, const VoiceMix* dry, const MixSink& sink, const MixProgress& progress) {
    const SliceGrid grid(frames);
    std::unique_ptr<OfflineReverb> wet = reverb && sends ? std::make_unique<OfflineReverb>(*reverb, rate) : nullptr;
    std::vector<float> left, right;
    int64_t origin = 0;  // the pass frame left[0] holds
    VoiceMixTargets sendBuses, dryBuses;
    std::vector<uint8_t> hold = wet ? sends->mixed : dry->mixed;
    if (wet && dry)
        for (size_t i = 0; i < hold.size() && i < dry->mixed.size(); ++i) hold[i] = hold[i] || dry->mixed[i];
    int dryDone = 0;  // slices mixed dry
    auto mixDryUpTo = [&](int64_t complete) {
        int until = dryDone;
        while (until < grid.count && grid.End(until) <= complete) ++until;
        if (until == dryDone) return;
        const int from = dryDone;
        RunRenderChunks(until - from, RenderThreadCount(0),
                        [&](int k) { MixSlice(voices, rate, first, grid, from + k, *dry, dryBuses, origin); });
        dryDone = until;
    };
    // Frames before `end` are complete: handed on, and dropped from the buffers.
    auto handOn = [&](int64_t end) {
        const int64_t ready = end - origin;
        if (ready <= 0) return;
        sink(left.data(), right.data(), ready);
        left.erase(left.begin(), left.begin() + ready);
        right.erase(right.begin(), right.begin() + ready);
        origin = end;
    };
    auto mixSlice = [&](int c) {
        if (wet)
            MixSlice(voices, rate, first, grid, c, *sends, sendBuses, origin);
        else
            MixSlice(voices, rate, first, grid, c, *dry, dryBuses, origin);
    };
    auto afterWindow = [&](int64_t end) {
        if (!wet) {
            handOn(end);
            return;
        }
        wet->Advance(left.data(), right.data(), end, end >= frames, origin);
        if (!dry) {
            handOn(wet->done);
            return;
        }
        mixDryUpTo(wet->done);
        handOn(grid.First(dryDone));
    };
    return SweepWindows(
        voices, rate, first, grid, hold, mixSlice, afterWindow,
        [&](int64_t end) { return wet && dry ? std::min(end, grid.First(dryDone)) : end; }, progress,
        [&](int64_t windowEnd) {
            left.resize(size_t(windowEnd - origin), 0.0f);
            right.resize(size_t(windowEnd - origin), 0.0f);
            sendBuses.sendLeft = dryBuses.left = left.data();
            sendBuses.sendRight = dryBuses.right = right.data();
        });
}

// ---------------------------------------------------------------------------
// PassState
// ---------------------------------------------------------------------------

struct PassState {
    PassState(const ExportJob& j, const std::vector<RenderResult>& r, const AudioEngine& e,
              const ExportTrackLayout& l, const WavPassOptions& o)
        : job(j), results(r), engine(e), layout(l), options(o), voices(e, r, j.sliceSeconds, j.voiceStats) {}

    const ExportJob& job;
    const std::vector<RenderResult>& results;
    const AudioEngine& engine;
    const ExportTrackLayout& layout;
    const WavPassOptions& options;
    ExportVoices voices;  // samples of a slice's voices at a time
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
    p.rollback.Announce(path);
    if (!WriteBWFStereo(path, left, right, frames, p.rate, timeReference, description.c_str(), p.job.cancel,
                        HeldFolderFor(p.job, path))) {
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
    p.rollback.Announce(path);
    BwfMonoWriter writer;
    bool open = writer.Open(path, p.rate, BwfTimeReference(p.rate, p.timeReference), description.c_str(),
                            p.job.cancel, stereo ? 2 : 1, HeldFolderFor(p.job, path));
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

int GroupOf(const PlaybackVoice& v) { return std::clamp(v.group, 0, 2); }

// ---------------------------------------------------------------------------
// Passes
// ---------------------------------------------------------------------------

VoiceMix ReverbSendMix(const AudioEngine& engine, const ReverbParams& reverb, const ExportMixLevels& mix) {
    return MixOf(
        engine, [&mix](size_t, const PlaybackVoice& v) { return mix.groupGain[size_t(GroupOf(v))]; },
        [&reverb](const PlaybackVoice& v) {
            return v.reverbSend >= 0 ? v.reverbSend : reverb.groupSends[size_t(GroupOf(v))].load();
        });
}

int64_t PassFirstSample(const PassState& p) { return VoiceStartSample(p.start, p.rate); }

// The reverb goes in first and the voices on top, then the limiter, a
// window at a time into the file.
bool MixdownPass(PassState& p) {
    const VoiceMix dry = MixOf(p.engine, [&p](size_t, const PlaybackVoice& v) {
        return p.master * p.options.mix.groupGain[size_t(GroupOf(v))];
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
            return StreamMix(p.voices, p.rate, PassFirstSample(p), p.frames, reverb, reverb ? &sends : nullptr, &dry,
                             limited, progress);
        });
    if (written) std::printf("[ExportWAV] Mixdown written to %s\n", path.c_str());
    return written;
}

// A dry mix of the pass into a file of its own.
bool WriteDryMix(PassState& p, const std::string& path, bool stereo, const std::string& description,
                 const VoiceMix& mix) {
    return WriteMixedFile(p, path, stereo, description, [&](const MixSink& sink, const MixProgress& progress) {
        return StreamMix(p.voices, p.rate, PassFirstSample(p), p.frames, nullptr, nullptr, &mix, sink, progress);
    });
}

bool StemsPass(PassState& p) {
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    p.units = 3;
    for (int g = 0; g < 3; ++g) {
        p.unit = g;
        bool used = false;
        for (size_t i = 0; i < p.engine.voices.size() && !used; ++i) {
            const PlaybackVoice& v = p.engine.voices[i];
            used = layered[i] && !v.muted.load() && v.group == g && v.sampleCount >= 1;
        }
        if (!used) continue;
        const float gain = p.options.mix.groupGain[size_t(g)] * p.master;
        const VoiceMix stem =
            MixOf(p.engine, [g, gain](size_t, const PlaybackVoice& v) { return v.group == g ? gain : 0.0f; });
        const std::string name = p.base + " - " + p.groupNames[size_t(g)];
        const std::string path = p.job.outDir + "/" + p.fileBase + " - " + p.groupNames[size_t(g)] + ".wav";
        if (!WriteDryMix(p, path, true, name, stem)) return false;
    }
    return true;
}

bool TracksPass(PassState& p) {
    const std::string folder = p.job.outDir + "/Tracks";
    if (!PrepareExportFolder(p.job, folder, p.rollback)) return false;
    // The global track of every voice's result; voices without one are on no track.
    std::vector<int32_t> voiceTrack(p.engine.voices.size(), INT32_MIN);
    const std::vector<uint8_t> layered = VoicesOfLayers(p.engine);
    for (size_t i = 0; i < p.engine.voices.size(); ++i) {
        const PlaybackVoice& v = p.engine.voices[i];
        if (layered[i] && ResultIndexValid(v, p.results)) voiceTrack[i] = p.results[size_t(v.resultIndex)].track;
    }
    int32_t tracks = 0;
    p.units = 0;
    for (int g = 0; g < 3; ++g) {
        const MixGroup& group = p.layout.groups[g];
        p.units += group.usedTracks > 0 ? std::max(group.trackCount, group.usedTracks) : 0;
    }
    p.unit = -1;
    for (int g = 0; g < 3; ++g) {
        const MixGroup& group = p.layout.groups[g];
        const int first = GroupFirstTrack(p.layout.groups, g);
        const int slots = group.usedTracks > 0 ? std::max(group.trackCount, group.usedTracks) : 0;
        for (int s = 0; s < slots; ++s) {
            ++p.unit;
            const int32_t track = first + s;
            bool used = false;
            for (size_t i = 0; i < voiceTrack.size() && !used; ++i)
                used = voiceTrack[i] == track && !p.engine.voices[i].muted.load();
            if (!used) continue;
            const float gain = p.options.mix.groupGain[size_t(g)];
            const VoiceMix mix = MixOf(p.engine, [&voiceTrack, track, gain](size_t i, const PlaybackVoice&) {
                return voiceTrack[i] == track ? gain : 0.0f;
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
    if (frames < 1) return true;
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
            for (int g = 0; g < 3; ++g) {
                bool used = false;
                for (size_t i = 0; i < p.engine.voices.size() && !used; ++i) {
                    const PlaybackVoice& v = p.engine.voices[i];
                    used = layered[i] && !v.muted.load() && v.group == g && v.sampleCount >= 1;
                }
                if (used) files.push_back(beside + " - " + p.groupNames[size_t(g)] + ".wav");
            }
            break;
        case kWavTracks: {
            std::vector<int32_t> voiceTrack(p.engine.voices.size(), INT32_MIN);
            for (size_t i = 0; i < p.engine.voices.size(); ++i)
                if (layered[i] && ResultIndexValid(p.engine.voices[i], p.results))
                    voiceTrack[i] = p.results[size_t(p.engine.voices[i].resultIndex)].track;
            for (int g = 0; g < 3; ++g) {
                const MixGroup& group = p.layout.groups[g];
                const int first = GroupFirstTrack(p.layout.groups, g);
                const int slots = group.usedTracks > 0 ? std::max(group.trackCount, group.usedTracks) : 0;
                for (int s = 0; s < slots; ++s) {
                    bool used = false;
                    for (size_t i = 0; i < voiceTrack.size() && !used; ++i)
                        used = voiceTrack[i] == first + s && !p.engine.voices[i].muted.load();
                    if (used)
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
    p.rollback.announce = job.announce;
    p.rollback.stop = job.cancel;
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
    if (!PrepareExportFolder(job, job.outDir, p.rollback)) return fail();
    p.Progress(0);

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
    if (options.reverbStem && options.mode != kWavMixdown && reverb && reverb->enabled.load() && FitsOneHour(p)) {
        // Mixed a window at a time straight into its file: no hour of it is
        // ever in memory.
        const std::string path = job.outDir + "/" + p.fileBase + " - " + kReverbStemName + ".wav";
        const std::string description = p.base + " - " + kReverbStemName;
        p.rollback.Announce(path);
        BwfMonoWriter writer;
        bool open = writer.Open(path, p.rate, BwfTimeReference(p.rate, p.timeReference), description.c_str(),
                                job.cancel, 2, HeldFolderFor(job, path));
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
    if (job.losses && !ExportCancelled(job)) {
        // The file whose write failed is named first: it is why the rest went.
        if (!ok && !p.failedPath.empty()) job.losses->AddFile(p.failedPath);
        const std::unordered_set<std::string> kept(p.rollback.files.begin(), p.rollback.files.end());
        for (const std::string& f : PlannedFiles(p))
            if ((!ok || !kept.count(f)) && (ok || f != p.failedPath)) job.losses->AddFile(f);
    }
    // Stopped while it ran: undone like a failure, the earlier files return.
    if (!ok || ExportCancelled(job)) return fail();
    p.rollback.committed = true;
    return p.written;
}

// ---------------------------------------------------------------------------
// RenderOfflineMix
// ---------------------------------------------------------------------------

bool RenderOfflineMix(ExportVoices& voices, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, std::vector<float>& outLeft, std::vector<float>& outRight,
                      const ExportMixLevels* levels, const MixProgress& progress) {
    const AudioEngine& engine = voices.Engine();
    if (sampleRate < 1 || !std::isfinite(start)) return false;
    const double wanted = std::trunc(length * double(sampleRate));
    if (!(wanted >= 1) || wanted > 9.0e15 || !engine.cacheReady.load()) return false;
    const int64_t frames = int64_t(wanted);
    const ExportMixLevels mix = levels ? *levels : CurrentMixLevels(engine);

    // The sends are mixed exactly as the real-time mixer feeds its reverb,
    // and turned into the wet signal a window at a time.
    outLeft.clear();
    outRight.clear();
    outLeft.reserve(size_t(frames));
    outRight.reserve(size_t(frames));
    const MixSink append = [&](float* l, float* r, int64_t n) {
        outLeft.insert(outLeft.end(), l, l + n);
        outRight.insert(outRight.end(), r, r + n);
    };
    const VoiceMix sends = ReverbSendMix(engine, reverb, mix);
    if (StreamMix(voices, sampleRate, VoiceStartSample(start, sampleRate), frames, &reverb, &sends, nullptr, append,
                  progress) &&
        int64_t(outLeft.size()) == frames)
        return true;
    // Stopped: nothing half-made is handed over.
    std::vector<float>().swap(outLeft);
    std::vector<float>().swap(outRight);
    return false;
}

bool StreamOfflineMix(ExportVoices& voices, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, const MixSink& sink, const ExportMixLevels* levels, const MixProgress& progress) {
    const AudioEngine& engine = voices.Engine();
    if (sampleRate < 1 || !std::isfinite(start) || !sink) return false;
    const double wanted = std::trunc(length * double(sampleRate));
    if (!(wanted >= 1) || wanted > 9.0e15 || !engine.cacheReady.load()) return false;
    const ExportMixLevels mix = levels ? *levels : CurrentMixLevels(engine);
    const VoiceMix sends = ReverbSendMix(engine, reverb, mix);
    return StreamMix(voices, sampleRate, VoiceStartSample(start, sampleRate), int64_t(wanted), &reverb, &sends,
                     nullptr, sink, progress);
}
