// stream_mix.cpp — the offline voice mix of the WAV passes and the reverb stem.
//
// Index
//   VoicesOfLayers
//   SliceGrid, MixOf, ReverbSendMix
//   MixSlice        one slice of the grid, every mixed voice in voice order
//   OfflineReverb   a private reverb over the send buses, in place
//   StreamMix       the windows in order: load, mix, wet and dry, hand on, let go
//
// The mix and the reverb run in float like the real-time mixer, through its
// routine (voice_mix.h), in slices on every core; the reverb runs on one,
// right behind the slices.
#include "export/stream_mix.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_set>

#include "export/export_voices.h"
#include "playback/block_mixer.h"
#include "playback/playing_gain.h"
#include "playback/reverb.h"
#include "render/render_worker_pool.h"

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
// SliceGrid, MixOf, ReverbSendMix
// ---------------------------------------------------------------------------

SliceGrid::SliceGrid(int64_t passFrames) : frames(std::max<int64_t>(0, passFrames)) {
    const int64_t slices = (frames + kSliceFrames - 1) / kSliceFrames;
    count = int(std::min<int64_t>(slices, INT32_MAX));
    size = count > 0 ? (frames + count - 1) / count : 0;
}

VoiceMix MixOf(const AudioEngine& engine, std::function<float(size_t, const PlaybackVoice&)> extraGain,
               std::function<float(const PlaybackVoice&)> sendOf) {
    VoiceMix m;
    m.extraGain = std::move(extraGain);
    m.sendOf = std::move(sendOf);
    m.mixed = VoicesOfLayers(engine);
    for (size_t i = 0; i < engine.voices.size(); ++i) {
        const PlaybackVoice& v = engine.voices[i];
        if (!m.mixed[i]) continue;
        const bool heard = !v.muted.load() && v.sampleCount > 0 && PlayingGain(v, m.extraGain(i, v)) >= 1e-6f;
        const bool sends = !m.sendOf || m.sendOf(v) >= 0.000001f;
        m.mixed[i] = heard && sends;
    }
    return m;
}

VoiceMix ReverbSendMix(const AudioEngine& engine, const ReverbParams& reverb, const ExportMixLevels& mix) {
    return MixOf(
        engine, [&mix](size_t, const PlaybackVoice& v) { return mix.groupGain[size_t(PlayingGroup(v.group))]; },
        [&reverb](const PlaybackVoice& v) {
            return v.reverbSend >= 0 ? v.reverbSend : reverb.groupSends[size_t(PlayingGroup(v.group))].load();
        });
}

// ---------------------------------------------------------------------------
// MixSlice
// ---------------------------------------------------------------------------

namespace {

// Slice c of the grid (pass frame 0 = project sample `first`): every mixed
// voice in voice order into the buses, as MixClipWithFades mixes it, its
// send too where the buses have send buses. So every frame sums as the
// real-time mixer sums it. The buses hold pass frames from `origin` on.
void MixSlice(const ExportVoices& voices, int rate, int64_t first, const SliceGrid& grid, int c, const VoiceMix& m,
              const VoiceMixTargets& buses, int64_t origin) {
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

// Slices [from, past) on every core.
void MixSlices(const ExportVoices& voices, int rate, int64_t first, const SliceGrid& grid, int from, int past,
               const VoiceMix& m, const VoiceMixTargets& buses, int64_t origin) {
    RunRenderChunks(past - from, RenderThreadCount(0),
                    [&](int k) { MixSlice(voices, rate, first, grid, from + k, m, buses, origin); });
}

constexpr int kReverbBlock = 2048;

}  // namespace

// ---------------------------------------------------------------------------
// OfflineReverb
// ---------------------------------------------------------------------------

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
    void Advance(float* left, float* right, int64_t upTo, bool last, int64_t origin) {
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

// ---------------------------------------------------------------------------
// StreamMix
// ---------------------------------------------------------------------------

StreamMix::StreamMix(ExportVoices& voices, int rate, int64_t first, int64_t frames, const ReverbParams* reverb,
                     const VoiceMix* sends, const VoiceMix* dry)
    : voices_(voices), rate_(rate), first_(first), grid_(frames), sends_(sends), dry_(dry) {
    if (reverb && sends) wet_ = std::make_unique<OfflineReverb>(*reverb, rate);
    load_ = wet_ ? sends->mixed : dry->mixed;
    if (wet_ && dry)
        for (size_t i = 0; i < load_.size() && i < dry->mixed.size(); ++i) load_[i] = load_[i] || dry->mixed[i];
}

StreamMix::~StreamMix() = default;

bool StreamMix::Run(const MixSink& sink, const MixProgress& progress) {
    const double perWindow = std::round(voices_.WindowSeconds() * double(rate_) /
                                        double(std::max<int64_t>(grid_.size, 1)));
    const int slicesPerWindow = int(std::clamp<double>(perWindow, 1.0, 1.0e6));
    const double passFrames = double(std::max<int64_t>(grid_.frames, 1));
    for (int c0 = 0; c0 < grid_.count; c0 += slicesPerWindow) {
        if (progress && !progress(double(grid_.First(c0)) / passFrames)) return false;
        const int c1 = std::min(grid_.count, c0 + slicesPerWindow);
        const int64_t windowEnd = grid_.End(c1 - 1);
        MakeRoom(windowEnd);
        LoadVoices(c0, windowEnd);
        MixFirstLayer(c0, c1);
        FinishWindow(windowEnd, sink);
        LetGo(windowEnd);
    }
    return !progress || progress(1.0);
}

// The buffers reach the window's end, its new frames zeroed.
void StreamMix::MakeRoom(int64_t windowEnd) {
    left_.resize(size_t(windowEnd - origin_), 0.0f);
    right_.resize(size_t(windowEnd - origin_), 0.0f);
}

// The voices the window mixes get their samples, with those of earlier
// slices still waiting for their dry mix.
void StreamMix::LoadVoices(int firstSlice, int64_t windowEnd) {
    voices_.Load(first_ + KeepFrom(grid_.First(firstSlice)), first_ + windowEnd, rate_, load_);
}

// The window's slices: the sends where there is a reverb, else the dry mix.
void StreamMix::MixFirstLayer(int firstSlice, int pastSlice) {
    VoiceMixTargets buses;
    if (wet_) {
        buses.sendLeft = left_.data();
        buses.sendRight = right_.data();
    } else {
        buses.left = left_.data();
        buses.right = right_.data();
    }
    MixSlices(voices_, rate_, first_, grid_, firstSlice, pastSlice, wet_ ? *sends_ : *dry_, buses, origin_);
}

// Without a reverb the window is complete. With one, the sends are turned
// wet as far as whole reverb blocks go (all of them at the pass's end), the
// dry sound goes on top of the slices whose wet is complete, and those
// slices are handed on.
void StreamMix::FinishWindow(int64_t windowEnd, const MixSink& sink) {
    if (!wet_) {
        HandOn(windowEnd, sink);
        return;
    }
    wet_->Advance(left_.data(), right_.data(), windowEnd, windowEnd >= grid_.frames, origin_);
    if (!dry_) {
        HandOn(wet_->done, sink);
        return;
    }
    MixDryUpTo(wet_->done);
    HandOn(grid_.First(dryDone_), sink);
}

// Copies of voices that end before what is still to be mixed are dropped.
void StreamMix::LetGo(int64_t windowEnd) { voices_.ReleaseBefore(first_ + KeepFrom(windowEnd), rate_); }

int64_t StreamMix::KeepFrom(int64_t windowFrame) const {
    return wet_ && dry_ ? std::min(windowFrame, grid_.First(dryDone_)) : windowFrame;
}

void StreamMix::MixDryUpTo(int64_t complete) {
    int until = dryDone_;
    while (until < grid_.count && grid_.End(until) <= complete) ++until;
    if (until == dryDone_) return;
    VoiceMixTargets buses;
    buses.left = left_.data();
    buses.right = right_.data();
    MixSlices(voices_, rate_, first_, grid_, dryDone_, until, *dry_, buses, origin_);
    dryDone_ = until;
}

// Frames before `end` are complete: handed on, and dropped from the buffers.
void StreamMix::HandOn(int64_t end, const MixSink& sink) {
    const int64_t ready = end - origin_;
    if (ready <= 0) return;
    sink(left_.data(), right_.data(), ready);
    left_.erase(left_.begin(), left_.begin() + ready);
    right_.erase(right_.begin(), right_.begin() + ready);
    origin_ = end;
}
