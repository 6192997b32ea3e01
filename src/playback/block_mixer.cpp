// block_mixer.cpp — voices through fades, curves, pan, groups, sends, master,
// reverb, limiter and soft clip, one block at a time.
//
// Index
//   Reference-audio hook
//   Voice gain shapes     EffectiveVoiceFades, EngineVoiceFades, VoiceFadeGain,
//                         CurveValueAt, VoiceEnvelope
//   Block settings        MixSettings: every fader, switch and send read once per block
//   Audio-thread helpers  MixAudition, AdvancePlayhead
//   MixVoice              one voice into one block
//   MixAudioBlock
//   MixClipWithFades
//   Playhead              SeekPlayback, GetPlaybackTime, AdvanceTimeByFrames, RequestReverbClear
//   Audition hand-over    StartAudition, StopAudition
//   SanitizeSamples
//
// Times inside a block are in double precision and voice positions are
// computed from whole sample counts, so a voice an hour into the project plays
// exactly as it would at zero.
#include "playback/block_mixer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "playback/reverb.h"
#include "render/clip_processing.h"

// ---------------------------------------------------------------------------
// Reference-audio hook
// ---------------------------------------------------------------------------

namespace {
std::atomic<ReferenceAudioHook> gReferenceAudioHook{nullptr};
}  // namespace

void SetReferenceAudioHook(ReferenceAudioHook hook) { gReferenceAudioHook.store(hook); }
ReferenceAudioHook GetReferenceAudioHook() { return gReferenceAudioHook.load(); }

// ---------------------------------------------------------------------------
// Voice gain shapes
// ---------------------------------------------------------------------------

namespace {

constexpr float kDefaultFadeIn = 0.04f;
constexpr float kDefaultFadeOut = 0.05f;
constexpr float kEnvelopeFloor = 1e-15f;

}  // namespace

VoiceFades EffectiveVoiceFades(float length, float storedIn, float storedOut, float minFade) {
    const float hi = std::max(minFade, 0.45f * length);
    float fin = std::isfinite(storedIn) ? std::clamp(storedIn, minFade, hi) : minFade;
    float fout = std::isfinite(storedOut) ? std::clamp(storedOut, minFade, hi) : minFade;
    const float room = 0.9f * length;
    if (fin + fout > room) {
        const float scale = room > 0 ? room / (fin + fout) : 0.0f;
        fin *= scale;
        fout *= scale;
    }
    return {fin, fout};
}

VoiceFades EngineVoiceFades(const AudioEngine& engine, size_t index, float length, float minFade) {
    const float fin = index < engine.voiceFadeIn.size() ? engine.voiceFadeIn[index] : kDefaultFadeIn;
    const float fout = index < engine.voiceFadeOut.size() ? engine.voiceFadeOut[index] : kDefaultFadeOut;
    return EffectiveVoiceFades(length, fin, fout, minFade);
}

// Fade-in (a smooth S rising to 1) times fade-out (a quartic fall to the end).
// Past the end of the voice the gain is 0.
float VoiceFadeGain(double t, double len, const VoiceFades& fades) {
    double g = 1.0;
    if (t < fades.in) {
        const double u = t / fades.in;
        const double y = u * (1.0 - u);
        const double s = u + y + 1.4196 * y * y;
        g = s * s;
    }
    const double left = len - t;
    if (left < fades.out) {
        if (left <= 0) return 0.0f;
        const double v = left / fades.out;
        g *= (v * v) * (v * v);
    }
    return float(g);
}

float CurveValueAt(const float* curve, int count, double pos) {
    pos = std::clamp(pos, 0.0, double(count - 1));
    const int i = std::min(int(pos), count - 2);
    const float f = float(pos - double(i));
    return curve[i] + f * (curve[i + 1] - curve[i]);
}

float VoiceEnvelope(const PlaybackVoice& v, double t, double len, bool useDecon, IntensityLift lift) {
    if (!(len > 0)) return 1.0f;
    const double q = t / len;
    float c = 1.0f;
    if (v.intensityCurve && v.intensityCount >= 2) {
        float raw = CurveValueAt(v.intensityCurve, v.intensityCount, q * (v.intensityCount - 1));
        if (lift == IntensityLift::Always) raw = std::clamp(raw, 0.0f, 1.0f);
        c = std::clamp(raw * v.intensityScale, 0.0f, 1.0f);
        // A fill never falls fully silent with its event's intensity; a bed does.
        if (!v.intensityIsBed || lift == IntensityLift::Always) c = 0.7f * c + 0.3f;
    } else if (v.hasIntGain) {
        c = CurveValueAt(v.intGain.data(), kVoiceIntGainPoints, q * (kVoiceIntGainPoints - 1));
    }
    if (v.hasFillGain) {
        const double span = v.fillGainSpan > 0 ? double(v.fillGainSpan) : len;
        c *= CurveValueAt(v.fillGain.data(), kVoiceFillGainPoints,
                     std::min(1.0, t / span) * (kVoiceFillGainPoints - 1));
    }
    if (useDecon && v.hasDeconGain)
        c *= CurveValueAt(v.deconGain.data(), kVoiceDeconGainPoints, q * (kVoiceDeconGainPoints - 1));
    return c;
}

namespace {

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

// Moves the playhead on from where this block started, unless it was seeked.
inline void AdvancePlayhead(AudioEngine& e, int64_t blockStart, int frames) {
    e.position.compare_exchange_strong(blockStart, blockStart + frames);
}

// ---------------------------------------------------------------------------
// MixVoice
// ---------------------------------------------------------------------------

struct BlockFrame {
    int64_t position;  // playhead at the block's first frame
    int frames;
    int rate;
    double start;  // seconds
    double end;
};

// Adds one voice into the block and its sends; raises the group peaks.
// Caller holds the engine lock.
void MixVoice(AudioEngine& e, size_t index, const MixSettings& m, const BlockFrame& block,
              float* left, float* right, float* peakL, float* peakR) {
    const PlaybackVoice& v = e.voices[index];
    const double rate = block.rate;
    const double start = m.bypassDecon ? v.plainStartTime : v.startTime;
    const double len = v.length;
    const double end = start + len;
    if (!(start < block.end && block.start < end)) return;

    const int g = std::clamp(v.group, 0, 2);
    if (m.groupMute[g] || (m.anyGroupSolo && !m.groupSolo[g])) return;
    const int last = int(std::min<int64_t>(v.sampleCount, int64_t(v.left.size()))) - 1;
    if (last < 0) return;

    const VoiceFades fades = EngineVoiceFades(e, index, v.length);
    const float voiceGain = v.normGain * v.gain.load(std::memory_order_relaxed) *
                            v.eventGain.load(std::memory_order_relaxed) * m.groupGain[g];
    const PanWeights pan(v.pan);
    const bool stereo = v.stereo && v.right.size() >= size_t(std::max(v.sampleCount, 0));
    const float send = v.reverbSend >= 0 ? v.reverbSend : m.groupSend[g];

    // Frames [s, e) of the block lie inside the voice. Offsets are taken from
    // whole sample positions, so they do not depend on how far in the block is.
    const double startSamples = start * rate;
    const double blockSamples = double(block.position);
    int s = 0, en = block.frames;
    if (start > block.start) s = int(std::clamp(std::trunc(startSamples - blockSamples + 0.5), 0.0, double(block.frames)));
    if (end < block.end) en = int(std::clamp(std::trunc(end * rate - blockSamples + 0.5), 0.0, double(block.frames)));
    s = std::clamp(s, 0, block.frames);
    en = std::clamp(en, s, block.frames);

    const float* srcL = v.left.data();
    const float* srcR = stereo ? v.right.data() : nullptr;
    const bool useDecon = !m.bypassDecon;
    const double invRate = 1.0 / rate;
    float pl = *peakL, pr = *peakR;
    const double x0 = (blockSamples + double(s)) - startSamples;
    for (int i = s; i < en; ++i) {
        const double x = x0 + double(i - s);
        if (x < 0) continue;
        const int64_t k = int64_t(x);
        if (k > last) break;
        const float f = float(x - double(k));
        const int64_t k1 = std::min<int64_t>(k + 1, last);
        const double t = x * invRate;
        const float gain = VoiceFadeGain(t, len, fades) * voiceGain * VoiceEnvelope(v, t, len, useDecon);
        const float sl = ((1.0f - f) * srcL[k] + f * srcL[k1]) * gain;
        float outL, outR;
        if (srcR) {
            const float sr = ((1.0f - f) * srcR[k] + f * srcR[k1]) * gain;
            outL = pan.gl * sl + pan.crossToL * sr;
            outR = pan.crossToR * sl + pan.gr * sr;
        } else {
            outL = pan.gl * sl;
            outR = pan.gr * sl;
        }
        left[i] += outL;
        right[i] += outR;
        pl = std::max(pl, std::fabs(outL));
        pr = std::max(pr, std::fabs(outR));
        if (i < kMixBlockFrames) {
            e.sendL[size_t(i)] += send * outL;
            e.sendR[size_t(i)] += send * outR;
        }
    }
    *peakL = pl;
    *peakR = pr;
}

// Envelope follower toward max(|L|, |R|), gain down to the threshold, then
// the soft clip. Caller holds the engine lock.
void LimitBlock(AudioEngine& e, float* left, float* right, int frames) {
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
    // Only this thread runs the reverb, so a clear asked for elsewhere happens here.
    if (e.reverbClearRequested.exchange(0)) ClearMixBuffers(e.reverbState);

    const MixSettings m(e);
    MixAudition(e, left, right, frames, rate, m.masterGain);

    const int64_t blockPosition = e.position.load();
    const ReferenceAudioHook hook = gReferenceAudioHook.load();
    const bool playing = e.playing.load() != 0;
    if (!playing || !e.cacheReady.load()) {
        e.peakL.store(0);
        e.peakR.store(0);
        for (int g = 0; g < 3; ++g) {
            e.groupPeakL[g].store(0);
            e.groupPeakR[g].store(0);
        }
        if (playing) {
            if (hook) hook(left, right, frames, double(blockPosition) / rate, rate);
            AdvancePlayhead(e, blockPosition, frames);
        }
        return;
    }

    const int n = std::min(frames, kMixBlockFrames);
    std::fill(e.sendL.begin(), e.sendL.begin() + n, 0.0f);
    std::fill(e.sendR.begin(), e.sendR.begin() + n, 0.0f);

    std::unique_lock<std::mutex> lock(e.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;  // silent (audition aside); the playhead waits

    const BlockFrame block{blockPosition, frames, rate, double(blockPosition) / rate,
                           double(blockPosition + frames) / rate};
    float groupPeakL[3] = {}, groupPeakR[3] = {};
    for (size_t v = 0; v < e.voices.size(); ++v) {
        const PlaybackVoice& voice = e.voices[v];
        if (m.soloVoice >= 0) {
            if (int64_t(v) != m.soloVoice) continue;
        } else if (voice.muted.load(std::memory_order_relaxed)) {
            continue;
        }
        if (voice.evicted) continue;
        const int g = std::clamp(voice.group, 0, 2);
        MixVoice(e, v, m, block, left, right, &groupPeakL[g], &groupPeakR[g]);
    }

    for (int i = 0; i < frames; ++i) {
        left[i] *= m.masterGain;
        right[i] *= m.masterGain;
    }
    if (m.reverbOn && n > 0) {
        ReverbSetParams(e.reverbState, m.reverb);
        ProcessReverbBlock(e.reverbState, e.sendL.data(), e.sendR.data(), e.wetL.data(), e.wetR.data(), n);
        for (int i = 0; i < n; ++i) {
            left[i] += e.wetL[size_t(i)];
            right[i] += e.wetR[size_t(i)];
        }
    }
    for (int i = 0; i < frames; ++i) {
        if (!std::isfinite(left[i])) left[i] = 0;
        if (!std::isfinite(right[i])) right[i] = 0;
    }
    LimitBlock(e, left, right, frames);
    lock.unlock();

    if (m.masterMute) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
    }
    float peakL = 0, peakR = 0;
    for (int i = 0; i < frames; ++i) {
        peakL = std::max(peakL, std::fabs(left[i]));
        peakR = std::max(peakR, std::fabs(right[i]));
    }
    e.peakL.store(peakL);
    e.peakR.store(peakR);
    for (int g = 0; g < 3; ++g) {
        e.groupPeakL[g].store(groupPeakL[g]);
        e.groupPeakR[g].store(groupPeakR[g]);
    }
    // The reference audio comes after the limiter and the mute, unmetered.
    if (hook) hook(left, right, frames, double(blockPosition) / rate, rate);
    AdvancePlayhead(e, blockPosition, frames);
}

// ---------------------------------------------------------------------------
// MixClipWithFades
// ---------------------------------------------------------------------------

void MixClipWithFades(const PlaybackVoice& voice, int voiceIndex, const AudioEngine& engine,
                      float* outLeft, float* outRight, int64_t outFrames, int sampleRate,
                      float extraGain, double timeOffset) {
    if (!outLeft || !outRight || outFrames < 1 || sampleRate < 1) return;
    if (voice.muted.load() || voice.sampleCount <= 0) return;
    const float g0 = voice.normGain * voice.gain.load() * voice.eventGain.load() * extraGain;
    if (!(g0 >= 1e-6f)) return;

    const double len = voice.length;
    // A negative index has no stored fades: the defaults apply.
    const size_t index = voiceIndex >= 0 ? size_t(voiceIndex) : SIZE_MAX;
    const VoiceFades fades = EngineVoiceFades(engine, index, voice.length);
    const PanWeights pan(voice.pan);
    const double rate = sampleRate;
    const double o = std::trunc((double(voice.startTime) - timeOffset) * rate);
    if (!std::isfinite(o)) return;
    const int64_t offset = int64_t(std::clamp(o, -9.0e18, 9.0e18));
    const int64_t count = std::min<int64_t>(voice.sampleCount, int64_t(voice.left.size()));
    const int64_t first = std::max<int64_t>(0, -offset);
    for (int64_t j = first; j < count; ++j) {
        const int64_t out = offset + j;
        if (out >= outFrames) break;
        const double t = double(j) / rate;
        const float gain = VoiceFadeGain(t, len, fades) * g0 * VoiceEnvelope(voice, t, len, true);
        const float sl = voice.left[size_t(j)] * gain;
        const int64_t need = std::min<int64_t>(voice.sampleCount - 1, j + 1);
        if (voice.stereo && int64_t(voice.right.size()) > need) {
            const float sr = voice.right[size_t(j)] * gain;
            outLeft[out] += pan.gl * sl + pan.crossToL * sr;
            outRight[out] += pan.crossToR * sl + pan.gr * sr;
        } else {
            outLeft[out] += pan.gl * sl;
            outRight[out] += pan.gr * sl;
        }
    }
}

// ---------------------------------------------------------------------------
// Playhead
// ---------------------------------------------------------------------------

void SeekPlayback(AudioEngine& engine, double seconds) {
    const double samples = std::trunc(double(engine.sampleRate.load()) * seconds);
    const int64_t position = samples > 0 && samples < 9.0e18 ? int64_t(samples) : 0;
    engine.position.exchange(position);
    RequestReverbClear(engine);
}

double GetPlaybackTime(const AudioEngine& engine) {
    const int rate = engine.sampleRate.load();
    return rate > 0 ? double(engine.position.load()) / double(rate) : 0.0;
}

void AdvanceTimeByFrames(float& time, float frameRate, float duration, int frames) {
    if (!(frameRate > 0) || !std::isfinite(frameRate)) return;
    const float upper = std::isfinite(duration) ? std::max(duration, 0.0f) : 0.0f;
    const float next = time + float(frames) / frameRate;
    time = std::isfinite(next) ? std::clamp(next, 0.0f, upper) : 0.0f;
}

void RequestReverbClear(AudioEngine& engine) { engine.reverbClearRequested.store(1); }

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
// SanitizeSamples
// ---------------------------------------------------------------------------

void SanitizeSamples(float* buffer, int64_t count) {
    if (!buffer) return;
    for (int64_t i = 0; i < count; ++i) {
        const float x = buffer[i];
        buffer[i] = std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f;
    }
}
