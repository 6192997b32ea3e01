// block_mixer.cpp — voices through fades, curves, pan, groups, sends, master,
// reverb, limiter and soft clip, one block at a time.
//
// Index
//   Reference-audio hook
//   Block settings        MixSettings: every fader, switch and send read once per block
//   Audio-thread helpers  MixAudition, DeclickFrames, MixLockSpinNanos, AdvancePlayhead
//   RenderMix             the voices (MixVoice, their switches' ramps), master gain and reverb of a
//                         span; LimitBlock
//   Declick               ramps, ClearReverb, FadeOutVoices
//   MixAudioBlock
//   MixClipWithFades
//   Audition hand-over    StartAudition, StopAudition
//   PeakLimiterOf
//
// Voices sit on whole project samples (voice_mix.h), so a voice an hour into
// the project plays exactly as it would at zero, and as the export writes it.
//
// Declick: the output never steps from sound to silence or from one place to
// another in one sample. Stopping lets the voices (and the reference audio)
// run on from where they were for at most kDeclickSeconds, fading to
// silence; the playhead stays where the transport stopped. Starting fades in
// over the same time. A seek, or a reverb clear, while sound plays fades out
// what played (running on from where it was, with the reverb it had) under
// the new sound fading in, within one block. A mute or solo switched while
// sound plays moves the voices it changes (or the whole output, for the
// master mute) to their new level over the same time.
#include "playback/block_mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "playback/playing_gain.h"
#include "playback/reverb.h"
#include "render/clip_processing.h"

// ---------------------------------------------------------------------------
// Reference-audio hook
// ---------------------------------------------------------------------------

void SetReferenceAudioHook(AudioEngine& engine, ReferenceAudioHook hook) { engine.referenceAudioHook.store(hook); }
ReferenceAudioHook GetReferenceAudioHook(const AudioEngine& engine) { return engine.referenceAudioHook.load(); }

namespace {

constexpr float kEnvelopeFloor = 1e-15f;

// ---------------------------------------------------------------------------
// Block settings
// ---------------------------------------------------------------------------

// Everything the interface may change while a block is mixed, read once.
struct MixSettings {
    float masterGain = 1;
    uint8_t masterMute = 0;
    int32_t soloVoice = -1;
    bool bypassDecon = false;
    bool anyGroupSolo = false;
    float groupGain[3] = {1, 1, 1};
    uint8_t groupMute[3] = {};
    uint8_t groupSolo[3] = {};
    float groupSend[3] = {};
    bool reverbOn = false;
    ReverbSixParams reverb{};

    explicit MixSettings(const AudioEngine& e) {
        constexpr auto relaxed = std::memory_order_relaxed;
        masterGain = e.masterGain.load(relaxed);
        masterMute = e.masterMute.load(relaxed);
        soloVoice = e.soloVoice.load(relaxed);
        bypassDecon = e.bypassDeconfliction.load(relaxed) != 0;
        for (int g = 0; g < 3; ++g) {
            groupGain[g] = e.groupGain[g].load(relaxed);
            groupMute[g] = e.groupMute[g].load(relaxed);
            groupSolo[g] = e.groupSolo[g].load(relaxed);
            groupSend[g] = e.reverb.groupSends[g].load(relaxed);
            anyGroupSolo = anyGroupSolo || groupSolo[g];
        }
        const ReverbParams& r = e.reverb;
        reverbOn = r.enabled.load(relaxed) != 0;
        reverb = {r.size.load(relaxed),      r.decay.load(relaxed),     r.damping.load(relaxed),
                  r.preDelay.load(relaxed),  r.diffusion.load(relaxed), r.modulation.load(relaxed)};
    }
};

// ---------------------------------------------------------------------------
// Audio-thread helpers
// ---------------------------------------------------------------------------

// The audition counts output frames; it ends when they run out or the sound does.
void MixAudition(AudioEngine& e, float* left, float* right, int frames, int rate, float masterGain) {
    int32_t start = e.auditionPosition.load();
    const int32_t length = e.auditionLength.load();
    if (start >= length) return;
    const AudioHandoff<std::vector<float>>::ReadScope read(e.auditionSamples);
    const std::vector<float>* sound = read.Get();
    if (!sound || sound->empty()) return;
    const std::vector<float>& samples = *sound;
    const double step = double(e.auditionRate.load()) / double(rate);
    int32_t pos = start;
    for (int i = 0; i < frames && pos < length; ++i) {
        const double k = double(pos) * step;
        if (!(k < double(samples.size()))) {
            pos = length;  // the sound ended before its frame count: done
            break;
        }
        const float s = masterGain * samples[size_t(k)];
        left[i] += s;
        right[i] += s;
        ++pos;
    }
    // A new audition started meanwhile keeps its own position.
    e.auditionPosition.compare_exchange_strong(start, pos);
}

int DeclickFrames(int rate) {
    return std::clamp(int(std::lround(kDeclickSeconds * rate)), 1, kDeclickCapacity);
}

// How long the mixer keeps trying the engine lock before a block goes silent:
// far past any hold but a preempted holder's, and a small part of the block.
int64_t MixLockSpinNanos(int frames, int rate) {
    constexpr int64_t kMostNanos = 1000000;
    return std::min<int64_t>(kMostNanos, int64_t(1.0e9 / 8.0 * frames / rate));
}

// Moves the playhead on from where this block started, unless it was seeked.
inline void AdvancePlayhead(AudioEngine& e, int64_t blockStart, int frames) {
    e.position.compare_exchange_strong(blockStart, blockStart + frames);
}

// ---------------------------------------------------------------------------
// RenderMix
// ---------------------------------------------------------------------------

// Adds one voice into `frames` frames whose frame 0 is project sample
// `position`, into `out` from its first frame. Caller holds the engine lock.
void MixVoice(AudioEngine& e, size_t index, const MixSettings& m, int64_t position, int frames, int rate,
              const VoiceMixTargets& out) {
    const PlaybackVoice& v = e.voices[index];
    const int g = PlayingGroup(v.group);
    const double start = m.bypassDecon ? v.plainStartTime : v.startTime;
    // Most voices lie wholly before or after the block: no plan for them.
    const int64_t first = VoiceStartSample(start, rate);
    if (first >= position + frames || first + int64_t(v.left.size()) <= position) return;

    const float gain = PlayingGain(v, m.groupGain[g]);
    const float send = v.reverbSend >= 0 ? v.reverbSend : m.groupSend[g];
    VoiceMixPlan plan;
    if (!PlanVoiceMix(v, EngineVoiceFades(e, index, v.length), start, rate, gain, send, !m.bypassDecon,
                      IntensityLift::UnlessBed, plan))
        return;
    MixVoiceInto(plan, position, frames, out);
}

// Whether the switches let a voice be heard: a soloed voice plays even when
// muted, but not in a group that is muted or left out by a group solo.
bool VoiceAudible(const MixSettings& m, size_t index, const PlaybackVoice& v) {
    const int g = PlayingGroup(v.group);
    if (m.groupMute[g] || (m.anyGroupSolo && !m.groupSolo[g])) return false;
    if (m.soloVoice >= 0) return int64_t(index) == m.soloVoice;
    return !v.muted.load(std::memory_order_relaxed);
}

// Ramp gains: frame i of a ramp from `from` moves (i + 1) x slope toward its end.
inline float RampUpGain(float from, float slope, int i) { return std::min(1.0f, from + float(i + 1) * slope); }
inline float RampDownGain(float from, float slope, int i) { return std::max(0.0f, from - float(i + 1) * slope); }
inline float RampGain(float from, float target, float slope, int i) {
    return target > from ? RampUpGain(from, slope, i) : RampDownGain(from, slope, i);
}

// A voice whose switches changed: its first frames go through a ramp from
// where its level was toward the switches' level, then on at that level.
void MixVoiceRamped(AudioEngine& e, size_t index, const MixSettings& m, int64_t position, int frames, int rate,
                    const VoiceMixTargets& out, float from, float target, float slope) {
    const int ramp = std::min({frames, kDeclickCapacity, int(std::ceil(std::fabs(target - from) / slope))});
    float* l = e.switchRampL.data();
    float* r = e.switchRampR.data();
    float* sl = e.switchRampSendL.data();
    float* sr = e.switchRampSendR.data();
    std::fill(l, l + ramp, 0.0f);
    std::fill(r, r + ramp, 0.0f);
    // The group meters see the voice at the level it is heard at.
    VoiceMixTargets scratch;
    scratch.left = l;
    scratch.right = r;
    if (out.sendLeft) {
        std::fill(sl, sl + ramp, 0.0f);
        std::fill(sr, sr + ramp, 0.0f);
        scratch.sendLeft = sl;
        scratch.sendRight = sr;
    }
    MixVoice(e, index, m, position, ramp, rate, scratch);
    for (int i = 0; i < ramp; ++i) {
        const float g = RampGain(from, target, slope, i);
        out.left[i] += g * l[i];
        out.right[i] += g * r[i];
        out.peakLeft[i] = std::max(out.peakLeft[i], std::fabs(g * l[i]));
        out.peakRight[i] = std::max(out.peakRight[i], std::fabs(g * r[i]));
        if (out.sendLeft) {
            out.sendLeft[i] += g * sl[i];
            out.sendRight[i] += g * sr[i];
        }
    }
    e.voices[index].switchGain.store(RampGain(from, target, slope, ramp - 1), std::memory_order_relaxed);
    if (target == 0 || ramp == frames) return;
    VoiceMixTargets rest = out;
    rest.left += ramp;
    rest.right += ramp;
    if (out.sendLeft) {
        rest.sendLeft += ramp;
        rest.sendRight += ramp;
    }
    rest.peakLeft += ramp;
    rest.peakRight += ramp;
    MixVoice(e, index, m, position + ramp, frames - ramp, rate, rest);
}

// The voices of project samples [position, position + frames) added into
// left and right, all of it times the master gain, then the reverb's return
// of the first 4096 frames' sends added. Raises the group peaks. A voice
// whose mute or solo changed moves to its new level over the declick time;
// `snapSwitches` (the output starts from silence) takes every voice straight
// to its level. Caller holds the engine lock.
void RenderMix(AudioEngine& e, const MixSettings& m, int64_t position, int frames, int rate, float* left,
               float* right, float* groupPeakL, float* groupPeakR, bool snapSwitches) {
    constexpr auto relaxed = std::memory_order_relaxed;
    const float slope = 1.0f / float(DeclickFrames(rate));
    const int sent = std::min(frames, kMixBlockFrames);
    std::fill(e.sendL.begin(), e.sendL.begin() + sent, 0.0f);
    std::fill(e.sendR.begin(), e.sendR.begin() + sent, 0.0f);
    bool late = false;
    for (int at = 0; at < frames; at += kMixBlockFrames) {
        const int n = std::min(kMixBlockFrames, frames - at);
        for (auto& peaks : e.groupPeakFrames) std::fill(peaks.begin(), peaks.begin() + n, 0.0f);
        const double blockStart = double(position + at) / rate, blockEnd = double(position + at + n) / rate;
        // A voice mixed in the pass before this one sounded there; any other
        // starts at its switches' level, with nothing to ramp from.
        const uint64_t pass = ++e.mixPass;
        auto visit = [&](size_t v) {
            PlaybackVoice& voice = e.voices[v];
            if (voice.evicted.load(relaxed)) {
                late = late || (voice.startTime < blockEnd && double(voice.startTime) + double(voice.length) > blockStart);
                return;
            }
            const float target = VoiceAudible(m, v, voice) ? 1.0f : 0.0f;
            const bool sounding = voice.switchPass.load(relaxed) + 1 == pass;
            voice.switchPass.store(pass, relaxed);
            const float kept = sounding ? voice.switchGain.load(relaxed) : -1.0f;
            const float from = kept < 0 || snapSwitches ? target : kept;
            const int g = PlayingGroup(voice.group);
            VoiceMixTargets out;
            out.left = left + at;
            out.right = right + at;
            if (at == 0) {
                out.sendLeft = e.sendL.data();
                out.sendRight = e.sendR.data();
            }
            out.peakLeft = e.groupPeakFrames[size_t(2 * g)].data();
            out.peakRight = e.groupPeakFrames[size_t(2 * g + 1)].data();
            if (from != target) {
                MixVoiceRamped(e, v, m, position + at, n, rate, out, from, target, slope);
                return;
            }
            if (voice.switchGain.load(relaxed) != target) voice.switchGain.store(target, relaxed);
            if (target > 0) MixVoice(e, v, m, position + at, n, rate, out);
        };
        // Only the voices that may sound in this span, in list order (so the
        // sums add up as the offline mix adds them); every voice when the
        // index cannot tell, or when most of them may sound anyway (then
        // gathering them costs more than it leaves out).
        const bool gather = GatherPays(e.voiceIndex, e.voices.size(), blockStart, blockEnd);
        const int count = gather ? GatherVoicesAt(e.voiceIndex, e.voiceSpans, e.voices.size(), blockStart, blockEnd,
                                                  e.mixScratch.data(), e.mixScratch.size())
                                 : -1;
        if (count < 0) {
            for (size_t v = 0; v < e.voices.size(); ++v) {
                if (v + 1 < e.voices.size()) PrefetchVoice(e.voices[v + 1]);
                visit(v);
            }
        } else {
            for (int k = 0; k < count; ++k) {
                if (k + 1 < count) PrefetchVoice(e.voices[e.mixScratch[size_t(k) + 1]]);
                visit(e.mixScratch[size_t(k)]);
            }
        }
        for (int g = 0; g < 3; ++g) {
            const float* pl = e.groupPeakFrames[size_t(2 * g)].data();
            const float* pr = e.groupPeakFrames[size_t(2 * g + 1)].data();
            groupPeakL[g] = std::max(groupPeakL[g], *std::max_element(pl, pl + n));
            groupPeakR[g] = std::max(groupPeakR[g], *std::max_element(pr, pr + n));
        }
    }
    if (late) e.stats.lateVoiceBlocks.fetch_add(1, relaxed);
    for (int i = 0; i < frames; ++i) {
        left[i] *= m.masterGain;
        right[i] *= m.masterGain;
    }
    if (m.reverbOn) {
        ReverbSetParams(e.reverbState, m.reverb);
        ProcessReverbBlock(e.reverbState, e.sendL.data(), e.sendR.data(), e.wetL.data(), e.wetR.data(), sent);
        for (int i = 0; i < sent; ++i) {
            left[i] += e.wetL[size_t(i)];
            right[i] += e.wetR[size_t(i)];
        }
    }
}

// Envelope follower toward max(|L|, |R|), gain down to the threshold, then
// the soft clip; non-finite samples become 0 first. Caller holds the lock.
void LimitBlock(AudioEngine& e, float* left, float* right, int frames) {
    for (int i = 0; i < frames; ++i) {
        if (!std::isfinite(left[i])) left[i] = 0;
        if (!std::isfinite(right[i])) right[i] = 0;
    }
    if (!std::isfinite(e.limiterEnvelope)) e.limiterEnvelope = 0;
    float env = e.limiterEnvelope;
    const float threshold = e.limiterThreshold;
    for (int i = 0; i < frames; ++i) {
        float l = left[i], r = right[i];
        const float peak = std::max(std::fabs(l), std::fabs(r));
        env += (peak - env) * (peak > env ? e.limiterAttack : e.limiterRelease);
        if (env < kEnvelopeFloor) env = 0;
        if (env > threshold) {
            const float g = threshold / env;
            l *= g;
            r *= g;
        }
        left[i] = SoftClipSample(l);
        right[i] = SoftClipSample(r);
    }
    e.limiterEnvelope = env;
}

// ---------------------------------------------------------------------------
// Declick
// ---------------------------------------------------------------------------

void RampDown(float* left, float* right, int frames, float from, float slope) {
    for (int i = 0; i < frames; ++i) {
        const float g = RampDownGain(from, slope, i);
        left[i] *= g;
        right[i] *= g;
    }
}

// left = keep + ramp x (left - keep) over the first `frames` frames: only
// what was added on top of `keep` is ramped up.
void RampUpOver(float* left, float* right, const float* keepL, const float* keepR, int frames, float from,
                float slope) {
    for (int i = 0; i < frames; ++i) {
        const float g = RampUpGain(from, slope, i);
        left[i] = keepL[i] + g * (left[i] - keepL[i]);
        right[i] = keepR[i] + g * (right[i] - keepR[i]);
    }
}

// A memory cleared while nothing rings needs no glide: the parameters jump
// to the user's settings, so the reverb after every seek is the same state
// the export starts from.
void ClearReverb(AudioEngine& e, const MixSettings& m) {
    ClearMixBuffers(e.reverbState);
    ReverbSetParams(e.reverbState, m.reverb);
    ReverbSettleParams(e.reverbState);
}

void ClearMeters(AudioEngine& e) {
    e.stats.peakL.store(0);
    e.stats.peakR.store(0);
    for (int g = 0; g < 3; ++g) {
        e.stats.groupPeakL[g].store(0);
        e.stats.groupPeakR[g].store(0);
    }
}

// The transport stopped while the voices sounded: they run on from where the
// last block ended, fading to silence, added into left and right, and the
// reference audio fades with them. False when the lock is taken.
bool FadeOutVoices(AudioEngine& e, const MixSettings& m, ReferenceAudioHook hook, bool withReference,
                   float* left, float* right, int frames, int rate) {
    MixLock lock(e.mutex, MixLockSpinNanos(frames, rate));
    if (!lock.owns_lock()) return false;
    const float from = e.declickGain;
    const float slope = 1.0f / float(DeclickFrames(rate));
    const int n = std::min(frames, int(std::ceil(from / slope)));
    float* oldL = e.fadeL.data();
    float* oldR = e.fadeR.data();
    std::fill(oldL, oldL + n, 0.0f);
    std::fill(oldR, oldR + n, 0.0f);
    float peakL[3] = {}, peakR[3] = {};
    RenderMix(e, m, e.declickNext, n, rate, oldL, oldR, peakL, peakR, false);
    RampDown(oldL, oldR, n, from, slope);
    LimitBlock(e, oldL, oldR, n);
    lock.unlock();
    if (!m.masterMute) {
        for (int i = 0; i < n; ++i) {
            left[i] += oldL[i];
            right[i] += oldR[i];
        }
    }
    if (hook && withReference) {
        float* refL = e.fadeRefL.data();
        float* refR = e.fadeRefR.data();
        std::fill(refL, refL + n, 0.0f);
        std::fill(refR, refR + n, 0.0f);
        hook(refL, refR, n, double(e.declickNext) / rate, rate);
        RampDown(refL, refR, n, from, slope);
        for (int i = 0; i < n; ++i) {
            left[i] += refL[i];
            right[i] += refR[i];
        }
    }
    e.declickGain = RampDownGain(from, slope, n - 1);
    e.declickNext += n;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// MixAudioBlock
// ---------------------------------------------------------------------------

void MixAudioBlock(AudioEngine& e, float* left, float* right, int frames) {
    if (!left || !right || frames < 1) return;
    std::fill(left, left + frames, 0.0f);
    std::fill(right, right + frames, 0.0f);
    const int rate = e.sampleRate.load();
    if (rate < 1) return;

    const MixSettings m(e);
    MixAudition(e, left, right, frames, rate, m.masterGain);

    const int64_t blockPosition = e.position.load();
    const ReferenceAudioHook hook = e.referenceAudioHook.load();
    const bool playing = e.playing.load() != 0;
    // Only this thread runs the reverb, so a clear asked for elsewhere
    // happens here, once what still rings has faded out.
    bool clear = e.reverbClearRequested.exchange(0) != 0;

    // While playing, the mixer plays whatever voices there are, also while a
    // rebuild replaces them one by one (a voice stays until its replacement
    // is in); only a stop fades them out.
    if (!playing) {
        ClearMeters(e);
        if (e.declickGain > 0 && !FadeOutVoices(e, m, hook, true, left, right, frames, rate)) e.declickGain = 0;
        if (clear && e.declickGain > 0) {
            e.reverbClearRequested.store(1);  // after the fade has ended
            clear = false;
        }
        if (clear) ClearReverb(e, m);
        return;
    }

    // Tried, never waited for. The voices, the fades and the limiter are the
    // lock's; without it the block has only what the audio thread holds
    // itself, the audition. Silent otherwise, the playhead waits (the voices
    // go on from where they were) and the next block fades in.
    MixLock lock(e.mutex, MixLockSpinNanos(frames, rate));
    if (!lock.owns_lock()) {
        e.stats.lockedBlocks.fetch_add(1, std::memory_order_relaxed);
        if (clear) ClearReverb(e, m);
        e.declickGain = 0;
        return;
    }
    // Nothing to play although the document calls for voices: a silent
    // block of its own kind (the playhead runs on).
    if (e.voices.empty() && e.stats.expectedVoices.load(std::memory_order_relaxed) > 0)
        e.stats.emptyBlocks.fetch_add(1, std::memory_order_relaxed);

    const float slope = 1.0f / float(DeclickFrames(rate));
    float groupPeakL[3] = {}, groupPeakR[3] = {};
    // A jump (a seek, or a clear of the reverb) while sound plays: what
    // played runs on from where it was, with its reverb, fading out within
    // this block under the new sound fading in.
    int oldFrames = 0;
    float oldFrom = 0, oldSlope = 0;
    if (e.declickGain > 0 && (blockPosition != e.declickNext || clear)) {
        oldFrom = e.declickGain;
        oldFrames = std::min({frames, kDeclickCapacity, int(std::ceil(oldFrom / slope))});
        oldSlope = std::max(slope, oldFrom / float(oldFrames));
        std::fill(e.fadeL.begin(), e.fadeL.begin() + oldFrames, 0.0f);
        std::fill(e.fadeR.begin(), e.fadeR.begin() + oldFrames, 0.0f);
        RenderMix(e, m, e.declickNext, oldFrames, rate, e.fadeL.data(), e.fadeR.data(), groupPeakL, groupPeakR,
                  false);
        RampDown(e.fadeL.data(), e.fadeR.data(), oldFrames, oldFrom, oldSlope);
        e.declickGain = 0;
    }
    if (clear) ClearReverb(e, m);

    // Fading in: the audition under the ramp keeps its level.
    const float rampFrom = e.declickGain;
    const int rampFrames = rampFrom < 1 ? std::min(frames, int(std::ceil((1.0f - rampFrom) / slope))) : 0;
    for (int i = 0; i < rampFrames; ++i) {
        e.keepL[size_t(i)] = left[i] * m.masterGain;
        e.keepR[size_t(i)] = right[i] * m.masterGain;
    }
    RenderMix(e, m, blockPosition, frames, rate, left, right, groupPeakL, groupPeakR, rampFrom == 0);
    RampUpOver(left, right, e.keepL.data(), e.keepR.data(), rampFrames, rampFrom, slope);
    if (rampFrames > 0) e.declickGain = RampUpGain(rampFrom, slope, rampFrames - 1);
    for (int i = 0; i < oldFrames; ++i) {
        left[i] += e.fadeL[size_t(i)];
        right[i] += e.fadeR[size_t(i)];
    }
    LimitBlock(e, left, right, frames);
    lock.unlock();

    // The master mute ramps like the voices' switches; from silence it is
    // taken at once.
    const float masterTarget = m.masterMute ? 0.0f : 1.0f;
    const float masterFrom = rampFrom == 0 ? masterTarget : e.masterSwitchGain;
    const int masterRamp =
        masterFrom == masterTarget ? 0 : std::min(frames, int(std::ceil(std::fabs(masterTarget - masterFrom) / slope)));
    for (int i = 0; i < masterRamp; ++i) {
        const float g = RampGain(masterFrom, masterTarget, slope, i);
        left[i] *= g;
        right[i] *= g;
    }
    if (masterTarget == 0) {
        std::fill(left + masterRamp, left + frames, 0.0f);
        std::fill(right + masterRamp, right + frames, 0.0f);
    }
    e.masterSwitchGain = masterRamp > 0 ? RampGain(masterFrom, masterTarget, slope, masterRamp - 1) : masterTarget;
    float peakL = 0, peakR = 0;
    for (int i = 0; i < frames; ++i) {
        peakL = std::max(peakL, std::fabs(left[i]));
        peakR = std::max(peakR, std::fabs(right[i]));
    }
    e.stats.peakL.store(peakL);
    e.stats.peakR.store(peakR);
    for (int g = 0; g < 3; ++g) {
        e.stats.groupPeakL[g].store(groupPeakL[g]);
        e.stats.groupPeakR[g].store(groupPeakR[g]);
    }
    // The reference audio comes after the limiter and the mute, unmetered,
    // and jumps and fades in with the voices.
    if (hook) {
        if (oldFrames > 0) {
            std::fill(e.fadeRefL.begin(), e.fadeRefL.begin() + oldFrames, 0.0f);
            std::fill(e.fadeRefR.begin(), e.fadeRefR.begin() + oldFrames, 0.0f);
            hook(e.fadeRefL.data(), e.fadeRefR.data(), oldFrames, double(e.declickNext) / rate, rate);
            RampDown(e.fadeRefL.data(), e.fadeRefR.data(), oldFrames, oldFrom, oldSlope);
        }
        std::copy_n(left, rampFrames, e.keepL.begin());
        std::copy_n(right, rampFrames, e.keepR.begin());
        hook(left, right, frames, double(blockPosition) / rate, rate);
        RampUpOver(left, right, e.keepL.data(), e.keepR.data(), rampFrames, rampFrom, slope);
        for (int i = 0; i < oldFrames; ++i) {
            left[i] += e.fadeRefL[size_t(i)];
            right[i] += e.fadeRefR[size_t(i)];
        }
    }
    e.declickNext = blockPosition + frames;
    AdvancePlayhead(e, blockPosition, frames);
}

// ---------------------------------------------------------------------------
// MixClipWithFades
// ---------------------------------------------------------------------------

bool PlanClipVoice(const PlaybackVoice& voice, int voiceIndex, const AudioEngine& engine, int sampleRate,
                   float extraGain, VoiceMixPlan& plan) {
    if (voice.muted.load() || voice.sampleCount <= 0) return false;
    const float g0 = PlayingGain(voice, extraGain);
    if (!(g0 >= 1e-6f)) return false;
    // A negative index has no stored fades: the defaults apply.
    const size_t index = voiceIndex >= 0 ? size_t(voiceIndex) : SIZE_MAX;
    return PlanVoiceMix(voice, EngineVoiceFades(engine, index, voice.length), voice.startTime, sampleRate, g0, 0.0f,
                        true, IntensityLift::UnlessBed, plan);
}

void MixClipWithFades(const PlaybackVoice& voice, int voiceIndex, const AudioEngine& engine,
                      float* outLeft, float* outRight, int64_t outFrames, int sampleRate,
                      float extraGain, double timeOffset) {
    if (!outLeft || !outRight || outFrames < 1 || sampleRate < 1) return;
    VoiceMixPlan plan;
    if (!PlanClipVoice(voice, voiceIndex, engine, sampleRate, extraGain, plan)) return;
    VoiceMixTargets targets;
    targets.left = outLeft;
    targets.right = outRight;
    MixVoiceInto(plan, VoiceStartSample(timeOffset, sampleRate), outFrames, targets);
}

// ---------------------------------------------------------------------------
// Audition hand-over
// ---------------------------------------------------------------------------

void StartAudition(AudioEngine& engine, std::shared_ptr<const std::vector<float>> samples,
                   int sampleRate) {
    const int rate = std::max(sampleRate, 1);
    const size_t count = samples ? samples->size() : 0;
    // The mixer counts output frames: the sound's length at the engine rate.
    const double frames = std::ceil(double(count) * double(std::max(engine.sampleRate.load(), 1)) / rate);
    // Stopped first, so no block plays the new sound at the old position or
    // rate; the old buffer is released here, not on the audio thread.
    engine.auditionLength.store(0);
    engine.auditionSamples.Replace(std::move(samples));
    engine.auditionRate.store(rate);
    engine.auditionPosition.store(0);
    engine.auditionLength.store(int32_t(std::min(frames, double(INT32_MAX))));
}

void StopAudition(AudioEngine& engine) {
    engine.auditionLength.store(0);
    engine.auditionSamples.Replace(nullptr);
}

// ---------------------------------------------------------------------------
// PeakLimiterOf
// ---------------------------------------------------------------------------

PeakLimiterSettings PeakLimiterOf(const AudioEngine& engine) {
    return {engine.limiterThreshold, engine.limiterAttack, engine.limiterRelease};
}
