// fill_resynthesis.cpp — trimming, excerpts, loops and grain resynthesis of fill sources.
//
// Index
//   Random and keys     LCG step, djb2 identity hash, FillKey
//   Source and output   FillSource (channels + mono analysis signal), FillOutput, FillFrames,
//                       PrepareVoiceOutput, DropVoiceAudio, AddSpliceMarker, ChunkLog, LayChunk
//   Trim                TrimBody: quiet head and tail by block RMS
//   Excerpt             WriteExcerpt
//   Loop builder        BuildLoop
//   Analysis            FillFrame, AnalyseBody, FeatureDistance
//   Grain loop          ResynthesizeGrains: sizes, candidates, alignment, crossfades
//   FillSourceIdentity / ResynthesizeFill
//   Replay              FillChunkPlanFits, ProcessResultClip, LoadFillAudio
//
// Every random draw comes from one 32-bit state seeded by FillKey, in a fixed
// order, so a fill is reproducible from its source's identity, offset,
// duration and seed. The key never sees the source's path: a project copied
// to another folder, or saved elsewhere, must sound the same.
// Chunks are laid by one routine (LayChunk) for both the resynthesis and the
// replay of a stored plan: that is what makes a replay identical to the
// original sample for sample.
#include "render/fill_resynthesis.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <new>

#include "document/voice_audio.h"
#include "render/processed_clip_cache.h"

// ---------------------------------------------------------------------------
// Random and keys
// ---------------------------------------------------------------------------

namespace {

constexpr float kHalfPi = 1.57079632679489661923f;

inline uint32_t LcgStep(uint32_t x) { return x * 1103515245u + 12345u; }
inline int64_t Draw(uint32_t x) { return int64_t(x >> 16); }

// djb2 over the identity's bytes.
uint32_t IdentityHash(const std::string& identity) {
    uint32_t h = 5381;
    for (unsigned char c : identity) h = h * 33u + c;
    return h;
}

// Truncation toward zero that stays defined for any finite float.
int64_t TruncI64(float v) {
    if (!(std::fabs(v) < 9.0e18f)) return 0;
    return int64_t(v);
}

uint32_t FillKey(const std::string& identity, float offset, float duration, uint32_t seed) {
    const int64_t a = TruncI64(offset * 10000.0f);
    const int64_t b = TruncI64(duration * 1000.0f);
    return uint32_t(a ^ b) ^ (seed * 0x9E3779B1u) ^ IdentityHash(identity);
}


// ---------------------------------------------------------------------------
// Source and output
// ---------------------------------------------------------------------------

// The source channels at the engine rate. `mono` is the signal that trimming,
// analysis and alignment look at: the left channel of a mono source, the mean
// of both channels of a stereo one (built on demand).
struct FillSource {
    const float* left = nullptr;
    const float* right = nullptr;  // null for a mono source
    int64_t frames = 0;
    const float* mono = nullptr;
    std::vector<float> mix;

    FillSource(const std::vector<float>& l, const std::vector<float>* r) {
        left = l.data();
        frames = int64_t(l.size());
        if (r && !r->empty()) {
            right = r->data();
            frames = std::min(frames, int64_t(r->size()));
        }
        mono = left;
    }

    void BuildMono() {
        if (!right || !mix.empty()) return;
        mix.resize(size_t(frames));
        for (int64_t i = 0; i < frames; ++i) mix[size_t(i)] = 0.5f * (left[i] + right[i]);
        mono = mix.data();
    }
};

struct FillOutput {
    float* left = nullptr;
    float* right = nullptr;  // null for a mono voice
    int64_t frames = 0;

    float Mono(int64_t i) const { return right ? 0.5f * (left[i] + right[i]) : left[i]; }
};

// trunc(rate * seconds) in single precision; 0 when that is not a positive
// frame count a voice can hold.
int64_t FillFrames(int rate, float seconds) {
    if (rate < 1) return 0;
    const float v = float(rate) * seconds;
    if (!(v >= 1.0f) || v >= 2147483520.0f) return 0;
    return int64_t(v);
}

// `need` frames of silence in the voice (both channels when stereo), no
// markers, an empty chunk log.
FillOutput PrepareVoiceOutput(VoiceAudio& voice, int64_t need, bool stereo) {
    voice.left.assign(size_t(need), 0.0f);
    if (stereo)
        voice.right.assign(size_t(need), 0.0f);
    else
        voice.right.clear();
    voice.stereo = stereo ? 1 : 0;
    voice.sampleCount = int32_t(need);
    voice.spliceCount = 0;
    voice.chunkCount = 0;
    voice.fillSeeded = 0;
    FillOutput out;
    out.left = voice.left.data();
    out.right = stereo ? voice.right.data() : nullptr;
    out.frames = need;
    return out;
}

// What a failed build leaves: no samples, markers or chunks.
void DropVoiceAudio(VoiceAudio& voice) {
    voice.left.clear();
    voice.right.clear();
    voice.sampleCount = 0;
    voice.spliceCount = 0;
    voice.chunkCount = 0;
    voice.fillSeeded = 0;
}

// A marker at `position` with `length`, both fractions of the output length.
void AddSpliceMarker(VoiceAudio& voice, float position, float length, bool insideOnly) {
    if (voice.spliceCount >= kMaxSpliceMarkers) return;
    if (insideOnly && !(position > 0.0f && position < 1.0f)) return;
    voice.spliceTimes[size_t(voice.spliceCount)] = position;
    voice.spliceFades[size_t(voice.spliceCount)] = length;
    ++voice.spliceCount;
}

// Collects chunk records in the voice; a log that would lose records is
// withdrawn whole, because a replay of part of a plan ends in silence.
struct ChunkLog {
    VoiceAudio& voice;
    bool overflow = false;

    void Append(int64_t s, int64_t l, int64_t x) {
        if (voice.chunkCount >= kMaxFillChunks) {
            overflow = true;
            return;
        }
        voice.chunks[size_t(voice.chunkCount++)] = FillChunk{int32_t(s), int32_t(l), int32_t(x)};
    }
    void Finish() {
        if (overflow) voice.chunkCount = 0;
    }
};

// Lays source frames s .. s + l - 1 at output position P - x: the first x
// frames crossfade (equal power) with what is there, the rest replace it.
// Writes outside the output and reads outside the source are skipped.
void LayChunk(const FillOutput& out, const FillSource& src, int64_t P, int64_t s, int64_t l,
              int64_t x) {
    for (int64_t i = 0; i < l; ++i) {
        const int64_t o = P - x + i;
        const int64_t si = s + i;
        if (o < 0 || o >= out.frames || si < 0 || si >= src.frames) continue;
        if (i < x) {
            const float a = (float(i) / float(x)) * kHalfPi;
            const float sa = std::sin(a), ca = std::cos(a);
            out.left[o] = sa * src.left[si] + ca * out.left[o];
            if (out.right) out.right[o] = sa * (src.right ? src.right[si] : src.left[si]) + ca * out.right[o];
        } else {
            out.left[o] = src.left[si];
            if (out.right) out.right[o] = src.right ? src.right[si] : src.left[si];
        }
    }
}

// ---------------------------------------------------------------------------
// Trim
// ---------------------------------------------------------------------------

struct Body {
    int64_t start = 0;
    int64_t end = 0;
    int64_t Length() const { return end - start; }
};

// Drops the quiet head and tail: blocks of 50 ms (at least 256 frames) are
// measured, and the body runs from the first to the last run of three blocks
// at or above 0.7 of the median level of the middle three fifths. A body
// shorter than half a second, or a silent source, is used whole.
Body TrimBody(const float* mono, int64_t total, int rate) {
    Body body{0, total};
    const int64_t block = std::max<int64_t>(int64_t(double(rate) * 0.05), 256);
    const int64_t blocks = std::max<int64_t>(1, total / block);
    std::vector<double> rms(static_cast<size_t>(blocks));
    double loudest = 0;
    for (int64_t b = 0; b < blocks; ++b) {
        const int64_t from = b * block, to = std::min(total, (b + 1) * block);
        double sum = 0;
        for (int64_t i = from; i < to; ++i) sum += double(mono[i]) * double(mono[i]);
        rms[size_t(b)] = to > from ? std::sqrt(sum / double(to - from)) : 0.0;
        loudest = std::max(loudest, rms[size_t(b)]);
    }
    if (loudest > 1e-8) {
        for (double& r : rms) r /= loudest;
        const int64_t lo = blocks / 5, hi = std::min(blocks, 4 * blocks / 5);
        if (hi > lo) {
            std::vector<double> middle(rms.begin() + lo, rms.begin() + hi);
            std::sort(middle.begin(), middle.end());
            const double threshold = 0.7 * middle[middle.size() / 2];
            int run = 0;
            for (int64_t i = 0; i < blocks; ++i) {
                run = rms[size_t(i)] >= threshold ? run + 1 : 0;
                if (run == 3) {
                    body.start = std::max<int64_t>(i - 2, 0) * block;
                    break;
                }
            }
            run = 0;
            for (int64_t j = blocks - 1; j >= 0; --j) {
                run = rms[size_t(j)] >= threshold ? run + 1 : 0;
                if (run == 3) {
                    body.end = std::min((j + 3) * block, total);
                    break;
                }
            }
        }
    }
    if (body.Length() < int64_t(double(rate) * 0.5)) body = Body{0, total};
    return body;
}

// ---------------------------------------------------------------------------
// Excerpt
// ---------------------------------------------------------------------------

// One contiguous stretch of the body, placed by one draw from the key.
void WriteExcerpt(const FillSource& src, Body body, int64_t need, uint32_t key, const FillOutput& out) {
    const int64_t r = Draw(LcgStep(key));
    const int64_t pos = body.start + r % std::max<int64_t>(1, body.Length() - need);
    std::copy(src.left + pos, src.left + pos + need, out.left);
    if (out.right) std::copy(src.right + pos, src.right + pos + need, out.right);
}

// ---------------------------------------------------------------------------
// Loop builder
// ---------------------------------------------------------------------------

// Tiles the body end to end, each pass crossfading over the tail of the last.
// A requested loop of a long body gets long seams (up to 2 s, an eighth of the
// body); a short body gets seams of at most 20 ms.
void BuildLoop(const FillSource& src, Body body, int rate, bool loop, const FillOutput& out,
               VoiceAudio& voice) {
    const int64_t len = body.Length();
    const int64_t quarter = int64_t(double(rate) * 0.25);
    int64_t xf;
    if (loop && len >= int64_t(double(rate) * 0.3)) {
        const int64_t eighth = len / 8;
        xf = std::min(len / 3, eighth >= quarter
                                   ? std::min(eighth, std::max(int64_t(2.0 * double(rate)), quarter))
                                   : quarter);
    } else {
        xf = std::min(len / 4, int64_t(double(rate) * 0.02));
    }
    xf = std::max<int64_t>(xf, 1);
    // A one-frame body cannot advance past its own seam; its fill stays
    // silent rather than holding one sample value for the whole length.
    if (len - xf < 1) return;

    const float need = float(out.frames);
    int64_t pos = 0;
    bool first = true;
    while (pos < out.frames) {
        const int64_t x = first ? 0 : xf;
        LayChunk(out, src, pos + x, body.start, len, x);
        if (!first) AddSpliceMarker(voice, float(pos) / need, float(xf) / need, false);
        first = false;
        pos += len - xf;
    }
}

// ---------------------------------------------------------------------------
// Analysis
// ---------------------------------------------------------------------------

struct FillFrame {
    int32_t position = 0;  // first source frame
    float rms = 0;
    float centroid = 0;    // 0..1
    float hfRatio = 0;     // 0..1
    float zcr = 0;
};

struct FillAnalysis {
    std::vector<FillFrame> frames;
    int64_t hop = 0;
    int64_t win = 0;
    bool evolving = false;
};

float FeatureDistance(const FillFrame& a, const FillFrame& b) {
    const float dr = a.rms - b.rms, dc = a.centroid - b.centroid;
    const float dh = a.hfRatio - b.hfRatio, dz = a.zcr - b.zcr;
    return std::sqrt(4.0f * dr * dr + 2.0f * dc * dc + 2.0f * dh * dh + dz * dz);
}

struct FftrDeleter {
    void operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }
};

constexpr int kCentroidSize = 512;
constexpr int kCentroidBins = kCentroidSize / 2;

// Level, spectral centroid, high-frequency share and zero-crossing rate of
// overlapping frames (hop 50 ms, window four hops) across the body. Level and
// zero-crossing rate are normalised to their maxima. The body counts as
// evolving when neighbouring frames differ by more than 0.12 on average.
FillAnalysis AnalyseBody(const float* mono, Body body, int rate) {
    FillAnalysis an;
    const int64_t len = body.Length();
    an.hop = std::max<int64_t>(int64_t(double(rate) * 0.05), 64);
    an.win = std::min(len, 4 * an.hop);
    const int64_t count = std::max<int64_t>(1, (len - an.win) / an.hop + 1);
    an.frames.resize(size_t(count));

    std::unique_ptr<kiss_fftr_state, FftrDeleter> fft(kiss_fftr_alloc(kCentroidSize, 0, nullptr, nullptr));
    std::array<float, kCentroidSize> window{};
    for (int i = 0; i < kCentroidSize; ++i)
        window[size_t(i)] = float(0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 * i / (kCentroidSize - 1)));
    std::array<float, kCentroidSize> windowed{};
    std::array<kiss_fft_cpx, kCentroidBins + 1> spectrum{};

    float maxRms = 0, maxZcr = 0;
    for (int64_t k = 0; k < count; ++k) {
        FillFrame& f = an.frames[size_t(k)];
        const int64_t p = body.start + k * an.hop;
        const int64_t e = std::min(body.end, p + an.win);
        const int64_t n = e - p;
        f.position = int32_t(p);

        double squares = 0, lo = 0, hi = 0;
        double y = n > 0 ? mono[p] : 0.0;
        int64_t crossings = 0;
        for (int64_t t = p; t < e; ++t) {
            const double x = mono[t];
            squares += x * x;
            if (t > p && ((mono[t - 1] >= 0.0f) != (mono[t] >= 0.0f))) ++crossings;
            y += (x - y) * 0.05;
            lo += y * y;
            hi += (x - y) * (x - y);
        }
        f.rms = float(std::sqrt(squares / double(std::max<int64_t>(1, n))));
        f.zcr = float(double(crossings) / double(std::max<int64_t>(1, n - 1)));
        f.hfRatio = hi + lo <= 1e-12 ? 0.5f : float(hi / (hi + lo));

        if (n >= kCentroidSize && fft) {
            const float* w = mono + p + (n - kCentroidSize) / 2;
            for (int i = 0; i < kCentroidSize; ++i) windowed[size_t(i)] = w[i] * window[size_t(i)];
            kiss_fftr(fft.get(), windowed.data(), spectrum.data());
            double weighted = 0, sum = 0;
            for (int b = 1; b <= kCentroidBins; ++b) {
                const double m = std::hypot(double(spectrum[size_t(b)].r), double(spectrum[size_t(b)].i));
                weighted += double(b) * m;
                sum += m;
            }
            f.centroid = sum <= 1e-12 ? 0.5f
                                      : std::clamp(float(weighted / (double(kCentroidBins) * sum)), 0.0f, 1.0f);
        } else {
            f.centroid = std::clamp(5.0f * f.zcr, 0.0f, 1.0f);
        }
        maxRms = std::max(maxRms, f.rms);
        maxZcr = std::max(maxZcr, f.zcr);
    }
    maxRms = std::max(maxRms, 1e-12f);
    maxZcr = std::max(maxZcr, 1e-12f);
    for (FillFrame& f : an.frames) {
        f.rms /= maxRms;
        f.zcr /= maxZcr;
    }
    if (count >= 3) {
        double sum = 0;
        for (int64_t k = 1; k < count; ++k)
            sum += FeatureDistance(an.frames[size_t(k - 1)], an.frames[size_t(k)]);
        an.evolving = sum / double(count - 1) > 0.12;
    }
    return an;
}

// ---------------------------------------------------------------------------
// Grain loop
// ---------------------------------------------------------------------------

struct FillCandidate {
    int32_t frame = 0;
    float cost = 0;
};

// Normalised correlation of the output's last w frames (every second frame)
// with the source at `at`; 0 when either side is silent.
double SeamCorrelation(const FillOutput& out, const FillSource& src, int64_t o0, int64_t at, int64_t w) {
    double dot = 0, so = 0, ss = 0;
    for (int64_t i = 0; i < w; i += 2) {
        const double o = out.Mono(o0 + i), s = src.mono[at + i];
        dot += o * s;
        so += o * o;
        ss += s * s;
    }
    const double root = std::sqrt(so * ss);
    return root <= 1e-12 ? 0.0 : dot / root;
}

// Chains grains of the body until the output is full. Each grain's successor
// starts at a frame that resembles (and, in an evolving sound, continues the
// trend of) the grain's end, far enough from the grain and from the previous
// one not to repeat audibly; the seam is nudged to the best-correlated shift
// and crossfaded longer where the match is poor.
void ResynthesizeGrains(const FillSource& src, Body body, const FillAnalysis& an, int rate,
                        uint32_t key, uint32_t seed, const FillOutput& out, VoiceAudio& voice) {
    const int64_t need = out.frames;
    const int64_t start = body.start, end = body.end, len = body.Length();
    const int64_t hop = an.hop;
    const int64_t frames = int64_t(an.frames.size());
    const bool evolving = an.evolving;

    // Grain sizes: about need / reps, so that the body is walked through a
    // whole number of times, never below 0.3 s.
    const int64_t reps = std::max<int64_t>(1, (need + len - 1) / len);
    const int64_t minGrain = int64_t(double(rate) * 0.3);
    const float base = float(std::max(std::min(len, need / reps), minGrain));
    const int64_t grainFloor = std::max<int64_t>(int64_t(double(base) * 0.9), 2 * hop);
    const int64_t grainMin = std::min(len, grainFloor);
    const float grainMax = float(double(base) * 1.1);
    const int64_t range = std::max<int64_t>(
        1, std::max(std::min(std::max(int64_t(grainMax), grainFloor + hop), len), grainMin) - grainMin);
    const int64_t xfMax = std::min(grainMin / 3, int64_t(double(rate) * (evolving ? 2.0 : 0.5)));
    const int64_t xfMin = std::max<int64_t>(64, std::min(xfMax, int64_t(double(rate) * (evolving ? 0.5 : 0.3))));
    const int64_t minSep = std::min(std::max(int64_t(double(len) * 0.2), minGrain), len / 3);

    uint32_t x = key;
    const int32_t signedSeed = int32_t(seed);
    int64_t next = start + std::max<int64_t>(0, std::min(std::max<int64_t>(0, len - grainMin),
                                                         (len / 4) * int64_t(signedSeed % 4)));
    const int64_t lastStart = std::max(start, end - grainMin);
    const int64_t halfWin = an.win / 2;
    int64_t pos = 0;
    int64_t prevEnd = -1;
    ChunkLog log{voice};
    std::vector<FillCandidate> candidates;
    candidates.reserve(size_t(frames));
    const float needF = float(need);

    while (pos < need) {
        int64_t cur = next >= start ? std::min(next, std::max(start, lastStart)) : start;
        int64_t glen = grainMin + Draw(LcgStep(x)) % range;
        glen = std::max(std::min(end - cur, glen), std::min(end - cur, grainMin));

        // The frame at the grain's end, and where its level and brightness head.
        const int64_t feNum = cur + glen - start - halfWin;
        const int64_t fe = feNum < 0 ? 0 : std::min(feNum / hop, frames - 1);
        const FillFrame& endFrame = an.frames[size_t(fe)];
        float trendR = 0, trendH = 0;
        if (evolving && fe >= 1) {
            trendR = endFrame.rms - an.frames[size_t(fe - 1)].rms;
            trendH = endFrame.hfRatio - an.frames[size_t(fe - 1)].hfRatio;
        }

        candidates.clear();
        for (int64_t k = 0; k < frames; ++k) {
            const FillFrame& f = an.frames[size_t(k)];
            const int64_t q = f.position;
            if (std::llabs(q - (cur + glen)) < minSep) continue;
            if (std::llabs(q - cur) < minSep / 2) continue;
            if (prevEnd >= 0 && std::llabs(q - prevEnd) < minSep / 2) continue;
            if (q + grainMin > end) continue;
            float cost = FeatureDistance(endFrame, f);
            if (evolving && k >= 1) {
                const FillFrame& prev = an.frames[size_t(k - 1)];
                cost += 2.0f * std::fabs(trendR - (f.rms - prev.rms)) +
                        1.5f * std::fabs(trendH - (f.hfRatio - prev.hfRatio));
            }
            candidates.push_back(FillCandidate{int32_t(k), cost});
        }
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const FillCandidate& a, const FillCandidate& b) { return a.cost < b.cost; });

        x = LcgStep(LcgStep(x));
        float cost = 1.0f;
        if (candidates.empty()) {
            next = start + Draw(x) % std::max<int64_t>(1, lastStart - start);
        } else {
            const size_t k = std::min(candidates.size(), size_t(evolving ? 2 : 4));
            double total = 0;
            for (size_t j = 0; j < k; ++j) total += 1.0 / (double(candidates[j].cost) + 0.001);
            const double u = double(Draw(x)) / 65535.0 * total;
            size_t pick = 0;
            double running = 0;
            for (size_t j = 0; j < k; ++j) {
                running += 1.0 / (double(candidates[j].cost) + 0.001);
                if (running >= u) {
                    pick = j;
                    break;
                }
            }
            next = an.frames[size_t(candidates[pick].frame)].position;
            cost = candidates[pick].cost;
        }

        const int64_t xf = xfMin + int64_t(float(xfMax - xfMin) * std::clamp(2.0f * cost, 0.3f, 1.0f));
        glen = std::min(end - cur, std::min(xf + (need - pos), glen));
        int64_t xl = pos >= 1 ? std::min({glen, pos, xf}) : 0;
        // Every grain must add output, however short it came out.
        if (xl >= glen) xl = glen - 1;

        if (xl > 0 && pos > 128) {
            const int64_t maxShift = std::min({xl / 4, int64_t(128), cur - start, end - glen - cur});
            if (maxShift > 4) {
                const int64_t w = std::min(xl / 2, int64_t(256));
                const int64_t o0 = pos - w;
                if (o0 >= 0 && w > 16) {
                    double best = -1e30;
                    int64_t shift = 0;
                    for (int64_t s = -maxShift; s <= maxShift; ++s) {
                        if (cur + s < start || cur + s + w >= end) continue;
                        const double c = SeamCorrelation(out, src, o0, cur + s, w);
                        if (c > best) {
                            best = c;
                            shift = s;
                        }
                    }
                    cur = std::clamp(cur + shift, start, std::max(start, end - glen));
                }
            }
        }

        if (xl > 0)
            AddSpliceMarker(voice, (float(pos) - 0.5f * float(xl)) / needF, float(xl) / needF, true);
        LayChunk(out, src, pos, cur, glen, xl);
        log.Append(cur, glen, xl);
        pos += glen - xl;
        prevEnd = cur + glen;
    }
    log.Finish();
}

}  // namespace

// ---------------------------------------------------------------------------
// FillSourceIdentity / ResynthesizeFill
// ---------------------------------------------------------------------------

std::string FillSourceIdentity(const RenderResult& result) {
    // The name first: a layer stored without an id is given one at random
    // when its project opens, so its id alone would differ from run to run.
    return result.name.empty() ? result.fileId : result.name;
}

bool ResynthesizeFill(const std::string& path, const std::string& identity, float offset, float duration,
                      int targetRate, bool stereo, VoiceAudio& voice, uint32_t seed, bool loop) {
    const int64_t need = FillFrames(targetRate, duration);
    if (need < 1) return false;
    std::vector<float> left, right;
    int loadedRate = 0;
    bool loadedStereo = false;
    if (!LoadProcessedClip(path, offset, kMaxRegionSeconds, targetRate, stereo, left, right, loadedRate,
                           loadedStereo))
        return false;
    try {
        FillSource src(left, loadedStereo ? &right : nullptr);
        if (src.frames < 1) return false;
        src.BuildMono();
        const int rate = targetRate;
        const Body body = TrimBody(src.mono, src.frames, rate);
        const int64_t len = body.Length();
        const uint32_t key = FillKey(identity, offset, duration, seed);
        const FillOutput out = PrepareVoiceOutput(voice, need, src.right != nullptr);

        if (len >= 2 * need) {
            WriteExcerpt(src, body, need, key, out);
            voice.fillSeeded = 1;
        } else if (loop || len < int64_t(double(rate) * 0.3)) {
            BuildLoop(src, body, rate, loop, out, voice);
        } else {
            const FillAnalysis analysis = AnalyseBody(src.mono, body, rate);
            ResynthesizeGrains(src, body, analysis, rate, key, seed, out, voice);
            voice.fillSeeded = 1;
        }
        return true;
    } catch (const std::bad_alloc&) {
        DropVoiceAudio(voice);
        return false;
    }
}

// ---------------------------------------------------------------------------
// Replay
// ---------------------------------------------------------------------------

bool FillChunkPlanFits(const std::vector<FillChunk>& plan, int64_t sourceFrames, int64_t need) {
    if (plan.empty()) return false;
    int64_t pos = 0;
    for (const FillChunk& c : plan) {
        if (c.l < 1 || c.x < 0 || c.x >= c.l || c.x > pos) return false;
        if (c.s < 0 || int64_t(c.s) + int64_t(c.l) > sourceFrames) return false;
        pos += int64_t(c.l) - int64_t(c.x);
    }
    return pos >= need;
}

namespace {

// Resynthesises the result's fill and makes the voice's chunk log (complete,
// or empty for fills that need none or too many) its plan.
bool ResynthesizeAndKeepPlan(RenderResult& result, int targetRate, VoiceAudio& voice) {
    if (!ResynthesizeFill(result.filepath, FillSourceIdentity(result), result.sourceOffset, result.duration,
                          targetRate, result.stereo, voice, uint32_t(result.groupTrack), result.fillLoop))
        return false;
    result.fillChunks.assign(voice.chunks.begin(), voice.chunks.begin() + std::max(0, voice.chunkCount));
    return true;
}

}  // namespace

bool ProcessResultClip(RenderResult& result, int targetRate, VoiceAudio& voice,
                       const std::vector<float>* sourceLeft, const std::vector<float>* sourceRight,
                       bool sourceStereo) {
    const int64_t need = FillFrames(targetRate, result.duration);
    if (need < 1) return false;
    std::vector<float> loadedLeft, loadedRight;
    if (!sourceLeft) {
        int loadedRate = 0;
        // The plan counts frames from the region the resynthesis loaded, which
        // starts at the result's source offset.
        if (!LoadProcessedClip(result.filepath, result.sourceOffset, kMaxRegionSeconds, targetRate,
                               result.stereo, loadedLeft, loadedRight, loadedRate, sourceStereo))
            return false;
        sourceLeft = &loadedLeft;
        sourceRight = &loadedRight;
    }
    try {
        FillSource src(*sourceLeft, sourceStereo ? sourceRight : nullptr);
        if (src.frames < 1) return false;
        if (!FillChunkPlanFits(result.fillChunks, src.frames, need))
            return ResynthesizeAndKeepPlan(result, targetRate, voice);

        const FillOutput out = PrepareVoiceOutput(voice, need, src.right != nullptr);
        const float needF = float(need);
        ChunkLog log{voice};
        int64_t pos = 0;
        for (const FillChunk& c : result.fillChunks) {
            if (c.x > 0)
                AddSpliceMarker(voice, (float(pos) - 0.5f * float(c.x)) / needF, float(c.x) / needF, true);
            LayChunk(out, src, pos, c.s, c.l, c.x);
            log.Append(c.s, c.l, c.x);
            pos += int64_t(c.l) - int64_t(c.x);
        }
        log.Finish();
        return true;
    } catch (const std::bad_alloc&) {
        DropVoiceAudio(voice);
        return false;
    }
}

bool LoadFillAudio(RenderResult& result, int targetRate, VoiceAudio& voice) {
    if (!result.fillChunks.empty()) return ProcessResultClip(result, targetRate, voice);
    return ResynthesizeAndKeepPlan(result, targetRate, voice);
}
