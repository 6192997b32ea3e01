// The span mix against a per-sample reference written from the mixer's
// formulas: random voices with fades, curves, intensity, pan, groups, sends,
// mutes and solos (switched between blocks, each switch a 5 ms ramp), mixed
// block by block (with and without the reverb) and by
// the offline twin, equal to 1e-6.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "playback/mixer_rig.h"
#include "playback/reverb.h"

namespace {

// ---- The reference: every sample on its own -------------------------------

double RefCurve(const float* c, int n, double pos) {
    pos = std::clamp(pos, 0.0, double(n - 1));
    const int i = std::min(int(pos), n - 2);
    return c[i] + (pos - i) * (c[i + 1] - c[i]);
}

struct RefFades {
    double in, out;
};

RefFades RefVoiceFades(const AudioEngine& e, size_t v, double len) {
    double fin = v < e.voiceFadeIn.size() ? e.voiceFadeIn[v] : 0.04;
    double fout = v < e.voiceFadeOut.size() ? e.voiceFadeOut[v] : 0.05;
    const double hi = std::max(0.015, 0.45 * len);
    fin = std::clamp(fin, 0.015, hi);
    fout = std::clamp(fout, 0.015, hi);
    if (fin + fout > 0.9 * len) {
        const double k = 0.9 * len / (fin + fout);
        fin *= k;
        fout *= k;
    }
    return {fin, fout};
}

// Fades times curves times `gain` at voice sample j.
double RefGain(const PlaybackVoice& v, const RefFades& f, int64_t j, int rate, double gain, bool decon) {
    const double t = double(j) / rate, len = v.length;
    double a = 1, b = 1, c = 1;
    if (t < f.in) {
        const double u = t / f.in, y = u * (1 - u);
        a = (u + y + 1.4196 * y * y) * (u + y + 1.4196 * y * y);
    }
    if (len - t < f.out) b = len - t <= 0 ? 0 : std::pow((len - t) / f.out, 4);
    if (len > 0) {
        const double q = t / len;
        if (v.intensityCurve) {
            c = std::clamp(RefCurve(v.intensityCurve, 256, q * 255) * v.intensityScale, 0.0, 1.0);
            if (!v.intensityIsBed) c = 0.7 * c + 0.3;
        } else if (v.hasIntGain) {
            c = RefCurve(v.intGain.data(), 256, q * 255);
        }
        if (v.hasFillGain) {
            const double span = v.fillGainSpan > 0 ? v.fillGainSpan : len;
            c *= RefCurve(v.fillGain.data(), 128, std::min(1.0, t / span) * 127);
        }
        if (decon && v.hasDeconGain) c *= RefCurve(v.deconGain.data(), 32, q * 31);
    }
    return a * b * c * gain;
}

struct RefBlock {
    std::vector<double> left, right, sendL, sendR;
    double groupPeakL[3] = {}, groupPeakR[3] = {};

    explicit RefBlock(int64_t frames)
        : left(size_t(frames)), right(size_t(frames)), sendL(size_t(frames)), sendR(size_t(frames)) {}
};

// Voice vi of the engine, starting at `start` seconds, times `gain`, into
// `frames` frames from project sample `position`: voice sample j at project
// sample trunc(rate x start) + j. Its peaks raise those of group `g`.
// `from` and `to` are the voice's switch level at the block's start and the
// level its mute and solo switches ask for: it moves there linearly over 5 ms.
void ReferenceVoice(const AudioEngine& e, size_t vi, double start, double gain, double send, bool decon, int g,
                    int64_t position, int64_t frames, double from, double to, RefBlock& out) {
    const PlaybackVoice& v = e.voices[vi];
    const int rate = e.sampleRate.load();
    const int64_t s0 = int64_t(std::trunc(double(rate) * start));
    const int64_t count = std::min<int64_t>(v.sampleCount, int64_t(v.left.size()));
    const bool stereo = v.stereo && v.right.size() >= size_t(v.sampleCount);
    const RefFades f = RefVoiceFades(e, vi, v.length);
    const double p = (v.pan + 1) / 2, gl = std::sqrt(1 - p), gr = std::sqrt(p);
    for (int64_t i = std::max<int64_t>(0, s0 - position); i < frames && position + i - s0 < count; ++i) {
        const int64_t j = position + i - s0;
        const double ramp = (i + 1) / (0.005 * rate);
        const double level = to > from ? std::min(to, from + ramp) : std::max(to, from - ramp);
        const double G = RefGain(v, f, j, rate, gain, decon) * level;
        const double sl = v.left[size_t(j)] * G;
        double L = gl * sl, R = gr * sl;
        if (stereo) {
            const double sr = v.right[size_t(j)] * G;
            L += (1 - gr) / 2 * sr;
            R = (1 - gl) / 2 * sl + gr * sr;
        }
        out.left[size_t(i)] += L;
        out.right[size_t(i)] += R;
        out.groupPeakL[g] = std::max(out.groupPeakL[g], std::fabs(L));
        out.groupPeakR[g] = std::max(out.groupPeakR[g], std::fabs(R));
        out.sendL[size_t(i)] += send * L;
        out.sendR[size_t(i)] += send * R;
    }
}

// One block of the mixer before its reverb and limiter. `levels` holds each
// voice's switch level between blocks (negative before its first block).
RefBlock ReferenceBlock(const AudioEngine& e, int64_t position, int frames, std::vector<double>& levels) {
    RefBlock out(frames);
    const bool bypass = e.bypassDeconfliction.load() != 0;
    const bool anySolo = e.groupSolo[0] || e.groupSolo[1] || e.groupSolo[2];
    levels.resize(e.voices.size(), -1.0);
    for (size_t vi = 0; vi < e.voices.size(); ++vi) {
        const PlaybackVoice& v = e.voices[vi];
        if (v.evicted) continue;
        const int g = std::clamp(v.group, 0, 2);
        const bool heard = (e.soloVoice >= 0 ? int(vi) == e.soloVoice : v.muted.load() == 0) &&
                           !e.groupMute[g] && !(anySolo && !e.groupSolo[g]);
        const double to = heard ? 1.0 : 0.0;
        const double from = levels[vi] < 0 ? to : levels[vi];
        const double ramp = frames / (0.005 * e.sampleRate.load());
        levels[vi] = to > from ? std::min(to, from + ramp) : std::max(to, from - ramp);
        if (from == 0 && to == 0) continue;
        const double gain = double(v.normGain) * v.gain.load() * v.eventGain.load() * e.groupGain[g].load();
        const double send = v.reverbSend >= 0 ? v.reverbSend : e.reverb.groupSends[g].load();
        ReferenceVoice(e, vi, bypass ? v.plainStartTime : v.startTime, gain, send, !bypass, g, position, frames,
                       from, to, out);
    }
    for (int i = 0; i < frames; ++i) {
        out.left[size_t(i)] *= e.masterGain.load();
        out.right[size_t(i)] *= e.masterGain.load();
    }
    return out;
}

// ---- Random material -------------------------------------------------------

struct RandomProject {
    std::unique_ptr<AudioEngine> engine = MakePlayingEngine();
    RandomVoices maker;
    std::mt19937& rng = maker.rng;

    explicit RandomProject(unsigned seed, int voices = 40) : maker(seed) {
        for (int i = 0; i < voices; ++i) {
            float fadeIn = 0, fadeOut = 0;
            PlaybackVoice v = maker.Make(fadeIn, fadeOut);
            InstallPlaybackVoice(*engine, std::move(v), fadeIn, fadeOut);
        }
        // A few voices have no stored fades: the defaults apply.
        engine->voiceFadeIn.resize(engine->voices.size() - 3);
        engine->voiceFadeOut.resize(engine->voices.size() - 2);
    }

    float Uniform(float lo, float hi) { return maker.Uniform(lo, hi); }
    bool Chance(float p) { return maker.Chance(p); }

    void RandomMixer() {
        AudioEngine& e = *engine;
        for (int g = 0; g < 3; ++g) {
            e.groupGain[g] = Uniform(0.5f, 1.2f);
            e.groupMute[g] = Chance(0.1f);
            e.groupSolo[g] = Chance(0.1f);
            e.reverb.groupSends[g] = Uniform(0, 0.5f);
        }
        e.masterGain = Uniform(0.6f, 1.1f);
        e.bypassDeconfliction = Chance(0.3f);
        e.soloVoice = Chance(0.1f) ? int(rng() % e.voices.size()) : -1;
    }
};

// The mixer's output goes on from where it was: no ramp at the first block.
void AlreadyPlayingAt(AudioEngine& e, int64_t position) {
    e.position = position;
    e.declickGain = 1;
    e.declickNext = position;
}

}  // namespace

TEST(VoiceMixTest, BlocksEqualThePerSampleReference) {
    for (unsigned seed : {1u, 2u, 3u}) {
        for (bool reverb : {false, true}) {
            RandomProject p(seed);
            AudioEngine& e = *p.engine;
            e.reverb.enabled = reverb;
            InitReverb(e.reverbState, kRigRate);
            ReverbSetParams(e.reverbState, {0.4f, 0.6f, 0.3f, 0.01f, 0.7f, 0.5f});
            ReverbSettleParams(e.reverbState);
            auto reverbCopy = std::make_unique<ReverbState>(e.reverbState);
            AlreadyPlayingAt(e, -int64_t(kRigRate) / 10);
            std::vector<float> l, r, wetL, wetR, inL, inR;
            std::vector<double> levels;
            double largest = 0;
            // Blocks of awkward sizes, longer than the reverb bus among them.
            for (int block : {512, 1, 37, 4096, 5000, 256, 333, 2048, 7000, 512, 4000, 9000, 20000, 30000}) {
                p.RandomMixer();
                const int64_t at = e.position.load();
                const RefBlock want = ReferenceBlock(e, at, block, levels);
                l.assign(size_t(block), 0.0f);
                r.assign(size_t(block), 0.0f);
                MixAudioBlock(e, l.data(), r.data(), block);
                ASSERT_EQ(e.position.load(), at + block);

                const int sent = std::min(block, kMixBlockFrames);
                wetL.assign(size_t(sent), 0.0f);
                wetR.assign(size_t(sent), 0.0f);
                if (reverb) {
                    inL.assign(want.sendL.begin(), want.sendL.begin() + sent);
                    inR.assign(want.sendR.begin(), want.sendR.begin() + sent);
                    ReverbSetParams(*reverbCopy, {0.5f, 0.5f, 0.3f, 0.015f, 0.7f, 0.5f});
                    ProcessReverbBlock(*reverbCopy, inL.data(), inR.data(), wetL.data(), wetR.data(), sent);
                }
                for (int i = 0; i < block; ++i) {
                    const double wl = i < sent ? wetL[size_t(i)] : 0.0, wr = i < sent ? wetR[size_t(i)] : 0.0;
                    ASSERT_NEAR(l[size_t(i)], want.left[size_t(i)] + wl, 1e-6) << seed << " " << at << " " << i;
                    ASSERT_NEAR(r[size_t(i)], want.right[size_t(i)] + wr, 1e-6) << seed << " " << at << " " << i;
                    largest = std::max(largest, std::fabs(want.left[size_t(i)]));
                }
                for (int g = 0; g < 3; ++g) {
                    EXPECT_NEAR(e.stats.groupPeakL[g].load(), want.groupPeakL[g], 1e-6);
                    EXPECT_NEAR(e.stats.groupPeakR[g].load(), want.groupPeakR[g], 1e-6);
                }
            }
            // Loud enough to mean something, quiet enough that the limiter stays out.
            EXPECT_GT(largest, 0.05);
            EXPECT_LT(largest, 0.8);
        }
    }
}

TEST(VoiceMixTest, OfflineTwinEqualsThePerSampleReference) {
    RandomProject p(11, 60);
    const AudioEngine& e = *p.engine;
    for (double offset : {0.0, 0.73, -0.2}) {
        const int64_t frames = 2 * kRigRate + 77;
        std::vector<float> l(size_t(frames), 0.0f), r(size_t(frames), 0.0f);
        RefBlock want(frames);
        for (size_t vi = 0; vi < e.voices.size(); ++vi) {
            const PlaybackVoice& v = e.voices[vi];
            MixClipWithFades(v, int(vi), e, l.data(), r.data(), frames, kRigRate, 0.8f, offset);
            if (v.muted.load()) continue;
            const double gain = double(v.normGain) * v.gain.load() * v.eventGain.load() * 0.8;
            ReferenceVoice(e, vi, v.startTime, gain, 0, true, 0, int64_t(std::trunc(offset * kRigRate)), frames, 1,
                           1, want);
        }
        double largest = 0;
        for (size_t i = 0; i < size_t(frames); ++i) {
            ASSERT_NEAR(l[i], want.left[i], 1e-6) << offset << " " << i;
            ASSERT_NEAR(r[i], want.right[i], 1e-6) << offset << " " << i;
            largest = std::max(largest, std::fabs(want.left[i]));
        }
        EXPECT_GT(largest, 0.05);
    }
}
