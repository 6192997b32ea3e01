// sound_analysis.cpp — AnalyzeSoundFile and its helpers.
//
// Index
//   [Constants]    block size, window, band edges, lane sums, sample clean-up, mono mix
//   [Header]       BitsPerSampleFromFormat, file stem, description from bext and tags
//   [Accumulator]  SpanAnalysis: running sums over the samples and the 2048-point spectra
//   [Features]     turning the sums into entry fields
//   [Entry point]  AnalyzeSoundFile
//
// The analysis reads at most the first 30 s of a file as a mono mix (mean of
// the channels), in consecutive 2048-frame blocks without overlap. Every
// block feeds the level, peak, sign-change and time sums; every full block
// also goes through a Hann-windowed real FFT for the spectral features. Sums
// over the whole span run in double, per-spectrum sums in float.
#include "library/sound_analysis.h"

#include <kiss_fftr.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "library/file_identity.h"
#include "library/file_registry.h"
#include "library/loudness_pitch.h"
#include "library/sound_file_open.h"
#include "library/sound_library.h"

// ---------------------------------------------------------------------------
// [Constants]
// ---------------------------------------------------------------------------

namespace {

constexpr int kBlock = 2048;
constexpr int kBins = kBlock / 2;  // bins 0..1023; the Nyquist bin is not used
constexpr float kMaxSeconds = 30.0f;
// Blocks per read: libsndfile is asked for large runs, the analysis then
// walks them block by block.
constexpr int kBlocksPerRead = 16;
// Samples beyond +-1e6 (+120 dBFS) exist only in broken float files; they are
// clamped so that no sum, spectrum or ratio can overflow to infinity.
constexpr float kSampleLimit = kMaxSampleMagnitude;

const std::array<float, kBlock>& HannWindow() {
    static const std::array<float, kBlock> window = [] {
        std::array<float, kBlock> w{};
        for (int i = 0; i < kBlock; ++i) w[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * i / kBlock)));
        return w;
    }();
    return window;
}

int EdgeBin(float frequency, float binHz) {
    const float b = std::trunc(frequency / binHz);
    if (!(b > 0.0f)) return 0;
    return b >= kBins - 1 ? kBins - 1 : static_cast<int>(b);
}

// Sum of term(k) for k in [lo, hi) over eight lanes, which the compiler
// turns into vector code (a single float accumulator cannot be reordered).
template <class Term>
inline float LaneSum(int lo, int hi, Term term) {
    float lane[8] = {};
    int k = lo;
    for (; k + 8 <= hi; k += 8) {
        for (int j = 0; j < 8; ++j) lane[j] += term(k + j);
    }
    float sum = ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
    for (; k < hi; ++k) sum += term(k);
    return sum;
}

// Non-finite samples of broken float files count as silence; absurdly large
// ones are clamped. Written without branches so that it becomes vector code.
void SanitizeSamples(float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float v = samples[i];
        const bool finite = std::fabs(v) <= std::numeric_limits<float>::max();  // false for NaN too
        const float clamped = v < -kSampleLimit ? -kSampleLimit : (v > kSampleLimit ? kSampleLimit : v);
        samples[i] = finite ? clamped : 0.0f;
    }
}

// Mean of the channels, summed in channel order and scaled by 1 / channels.
void MixToMono(const float* interleaved, int64_t frames, int channels, float* mono) {
    const float scale = 1.0f / static_cast<float>(channels);
    if (channels == 1) {
        std::copy(interleaved, interleaved + frames, mono);
    } else if (channels == 2) {
        for (int64_t i = 0; i < frames; ++i) mono[i] = (interleaved[2 * i] + interleaved[2 * i + 1]) * scale;
    } else {
        for (int64_t i = 0; i < frames; ++i) {
            const float* frame = interleaved + i * channels;
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c) sum += frame[c];
            mono[i] = sum * scale;
        }
    }
}

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

struct FftrDeleter {
    void operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }
};
using FftrPtr = std::unique_ptr<kiss_fftr_state, FftrDeleter>;

// ---------------------------------------------------------------------------
// [Header]
// ---------------------------------------------------------------------------

// File name without its last extension. A leading dot does not start an
// extension, and "." and ".." stay whole (std::filesystem's stem rules).
std::string FileStem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

// Broadcast-wave description first, then the title, comment and artist tags,
// unless the description already holds the beginning of the tag text.
void ReadDescription(SNDFILE* file, std::string& description) {
    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof(bext));
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE) {
        description.assign(bext.description, strnlen(bext.description, sizeof(bext.description)));
    }

    std::string tags;
    for (int kind : {SF_STR_TITLE, SF_STR_COMMENT, SF_STR_ARTIST}) {
        const char* text = sf_get_string(file, kind);
        if (!text || !*text) continue;
        if (!tags.empty()) tags += ' ';
        tags += text;
    }
    if (tags.empty()) return;
    if (description.empty()) {
        description = tags;
        return;
    }
    const std::string_view head(tags.data(), std::min<size_t>(20, tags.size()));
    if (description.find(head) == std::string::npos) {
        description += ' ';
        description += tags;
    }
}

// ---------------------------------------------------------------------------
// [Accumulator]
// ---------------------------------------------------------------------------

struct SpanAnalysis {
    float rate = 0.0f;
    float binHz = 0.0f;
    int bandEdge[6] = {};
    int edge50 = 0;
    int edge2000 = 0;
    kiss_fftr_state* fft = nullptr;

    // Time domain, over every sample.
    int64_t sampleCount = 0;
    double energy = 0.0;
    double timeSum = 0.0;  // sum of index x m^2
    float peak = 0.0f;
    int64_t peakIndex = 0;
    int64_t signChanges = 0;
    bool previousNonNegative = true;
    std::vector<double> blockRms;
    double largestBlockRms = 0.0;

    // Frequency domain, over full blocks.
    int fullBlocks = 0;
    double bandSum[5] = {};
    double centroidA = 0.0, centroidB = 0.0;
    double totalMag = 0.0, highMag = 0.0;
    double fluxSum = 0.0;
    int fluxCount = 0;
    double flatLogMean = 0.0, flatMagMean = 0.0;
    int flatCount = 0;
    double harmSum = 0.0;
    int harmCount = 0;
    bool havePitchFrame = false;
    std::array<float, kBlock> pitchFrame{};

    std::array<float, kBlock> windowed{};
    std::array<kiss_fft_cpx, kBins + 1> spectrum{};
    std::array<float, kBins> mag{};
    std::array<float, kBins> previousMag{};

    void Setup(int sampleRate, kiss_fftr_state* cfg) {
        rate = static_cast<float>(sampleRate);
        binHz = rate / kBlock;
        const float edges[6] = {20.0f, 150.0f, 750.0f, 2000.0f, 6000.0f, 16000.0f};
        for (int i = 0; i < 6; ++i) bandEdge[i] = EdgeBin(edges[i], binHz);
        edge50 = EdgeBin(50.0f, binHz);
        edge2000 = bandEdge[3];
        fft = cfg;
    }

    // One block of mono samples starting at absolute frame `pos`.
    void AddBlock(const float* mono, int n, int64_t pos) {
        // Two partial sums per quantity: a single double accumulator is a
        // serial chain that would cost more than everything else here.
        double e0 = 0.0, e1 = 0.0, t0 = 0.0, t1 = 0.0;
        int i = 0;
        for (; i + 2 <= n; i += 2) {
            const double ea = static_cast<double>(mono[i]) * mono[i];
            const double eb = static_cast<double>(mono[i + 1]) * mono[i + 1];
            e0 += ea;
            e1 += eb;
            t0 += static_cast<double>(pos + i) * ea;
            t1 += static_cast<double>(pos + i + 1) * eb;
        }
        for (; i < n; ++i) {
            const double e = static_cast<double>(mono[i]) * mono[i];
            e0 += e;
            t0 += static_cast<double>(pos + i) * e;
        }
        const double blockEnergy = e0 + e1;
        timeSum += t0 + t1;

        // The first occurrence of the largest magnitude wins: find the
        // block's largest first, then its first index only when it is a new peak.
        float lanePeak[8] = {};
        int j8 = 0;
        for (; j8 + 8 <= n; j8 += 8) {
            for (int k = 0; k < 8; ++k) lanePeak[k] = std::max(lanePeak[k], std::fabs(mono[j8 + k]));
        }
        float blockPeak = *std::max_element(lanePeak, lanePeak + 8);
        for (; j8 < n; ++j8) blockPeak = std::max(blockPeak, std::fabs(mono[j8]));
        if (blockPeak > peak) {
            peak = blockPeak;
            int j = 0;
            while (std::fabs(mono[j]) != blockPeak) ++j;
            peakIndex = pos + j;
        }

        // Sign changes without branches (noise flips sign at random). The
        // very first sample has no predecessor: it compares with itself.
        if (sampleCount == 0 && n > 0) previousNonNegative = mono[0] >= 0.0f;
        int64_t changes = 0;
        bool previous = previousNonNegative;
        for (int j = 0; j < n; ++j) {
            const bool nonNegative = mono[j] >= 0.0f;
            changes += nonNegative != previous;
            previous = nonNegative;
        }
        previousNonNegative = previous;
        signChanges += changes;
        sampleCount += n;

        energy += blockEnergy;
        const double rms = std::sqrt(blockEnergy / std::max(n, 1));
        blockRms.push_back(rms);
        largestBlockRms = std::max(largestBlockRms, rms);
        if (n == kBlock) AddSpectrum(mono, rms);
    }

    void AddSpectrum(const float* mono, double rms) {
        const std::array<float, kBlock>& window = HannWindow();
        for (int i = 0; i < kBlock; ++i) windowed[i] = mono[i] * window[i];
        kiss_fftr(fft, windowed.data(), spectrum.data());
        for (int k = 0; k < kBins; ++k) mag[k] = std::sqrt(spectrum[k].r * spectrum[k].r + spectrum[k].i * spectrum[k].i);

        for (int b = 0; b < 5; ++b) bandSum[b] += LaneSum(bandEdge[b], bandEdge[b + 1], [&](int k) { return mag[k]; });

        const float a = LaneSum(1, kBins, [&](int k) { return mag[k]; });
        const float weighted = LaneSum(1, kBins, [&](int k) { return (static_cast<float>(k) * binHz) * mag[k]; });
        centroidA += a;
        centroidB += weighted;

        totalMag += a + mag[0];
        highMag += LaneSum(edge2000, kBins, [&](int k) { return mag[k]; });

        if (fullBlocks > 0) {
            const float change = LaneSum(0, kBins, [&](int k) {
                const float d = mag[k] - previousMag[k];
                return d * d;
            });
            fluxSum += std::sqrt(change);
            ++fluxCount;
        }
        previousMag = mag;

        float logSum = 0.0f, magSum = 0.0f;
        int counted = 0;
        for (int k = 1; k < kBins; ++k) {
            if (mag[k] > 1e-12f) {
                logSum += std::log(mag[k]);
                magSum += mag[k];
                ++counted;
            }
        }
        if (counted >= 1 && magSum > 0.0f) {
            flatLogMean += logSum / counted;
            flatMagMean += magSum / counted;
            ++flatCount;
        }

        AddHarmonicity(a);

        if (!havePitchFrame && blockRms.size() >= 2 && rms > 0.5 * largestBlockRms && rms > 0.01) {
            std::copy(mono, mono + kBlock, pitchFrame.begin());
            havePitchFrame = true;
        }
        ++fullBlocks;
    }

    // Share of the magnitude around the strongest bin above 50 Hz and its
    // first eight multiples.
    void AddHarmonicity(float total) {
        int p = 0;
        float best = 0.0f;
        for (int k = edge50; k < kBins; ++k) {
            if (mag[k] > best) {
                best = mag[k];
                p = k;
            }
        }
        if (p < 1 || !(mag[p] > 1e-10f)) return;
        float harm = 0.0f;
        for (int h = 1; h <= 8 && h * p < kBins; ++h) {
            const int lo = std::max(h * p - 2, 1);
            const int hi = std::min(h * p + 2, kBins - 1);
            for (int k = lo; k <= hi; ++k) harm += mag[k];
        }
        if (total > 0.0f) {
            harmSum += harm / total;
            ++harmCount;
        }
    }
};

// ---------------------------------------------------------------------------
// [Features]
// ---------------------------------------------------------------------------

void WriteFeatures(const SpanAnalysis& s, int64_t analysedFrames, LibraryEntry& entry) {
    const double rms = std::sqrt(s.energy / static_cast<double>(s.sampleCount));
    if (rms > 0.0) {
        entry.rmsDb = static_cast<float>(20.0 * std::log10(rms));
        entry.crestDb = static_cast<float>(20.0 * std::log10(s.peak / rms));
    } else {
        entry.rmsDb = -100.0f;
        entry.crestDb = 0.0f;
    }
    entry.dynamicsDb = entry.crestDb;
    entry.peakPosition = analysedFrames > 0
        ? static_cast<float>(static_cast<double>(s.peakIndex) / static_cast<double>(analysedFrames)) : 0.0f;
    entry.zeroCrossingRate =
        static_cast<float>(std::clamp(4.0 * static_cast<double>(s.signChanges) / s.sampleCount, 0.0, 1.0));
    if (s.energy > 0.0 && analysedFrames > 0) {
        entry.temporalCentroid =
            static_cast<float>(std::clamp(s.timeSum / s.energy / static_cast<double>(analysedFrames), 0.0, 1.0));
    }

    const double strongest = *std::max_element(s.bandSum, s.bandSum + 5);
    if (strongest > 0.0) {
        for (int b = 0; b < 5; ++b) entry.bandEnergy[b] = static_cast<float>(s.bandSum[b] / strongest);
    }
    // Over the stored values, so a kept band profile keeps a matching centroid.
    const float* e = entry.bandEnergy;
    const double eSum = static_cast<double>(e[0]) + e[1] + e[2] + e[3] + e[4];
    if (eSum > 0.0) {
        entry.bandCentroid = static_cast<float>((0.1 * e[0] + 0.3 * e[1] + 0.5 * e[2] + 0.7 * e[3] + 0.9 * e[4]) / eSum);
    }

    if (s.centroidA > 0.0) {
        const double centroidHz = std::max(100.0, s.centroidB / s.centroidA);
        const double b = (std::log10(centroidHz) - 2.0) / (std::log10(8000.0) - 2.0);
        entry.brightness = static_cast<float>(std::clamp(b, 0.0, 1.0));
    }
    entry.highFreqRatio = s.totalMag > 0.0 ? static_cast<float>(s.highMag / s.totalMag) : 0.0f;
    if (s.fluxCount > 0) {
        entry.spectralFlux = static_cast<float>(std::clamp(s.fluxSum / s.fluxCount / 30.0, 0.0, 1.0));
    }
    if (s.flatCount > 0) {
        const double g = s.flatLogMean / s.flatCount;
        const double a = s.flatMagMean / s.flatCount;
        if (a > 1e-12) entry.spectralFlatness = static_cast<float>(std::clamp(std::exp(g) / a, 0.0, 1.0));
    }
    if (s.harmCount > 0) {
        entry.harmonicity = static_cast<float>(std::clamp(s.harmSum / s.harmCount, 0.0, 1.0));
    }

    if (s.havePitchFrame) {
        float confidence = 0.0f;
        const float f = AnalyzeTonality(s.pitchFrame.data(), kBlock, s.rate, confidence);
        entry.pitchConfidence = confidence;
        if (f > 20.0f && f < 10000.0f && confidence > 0.3f) {
            entry.pitchHz = f;
            FrequencyToMidiNote(f, entry.midiNote, entry.pitchCents);
        }
    }

    const std::vector<double>& env = s.blockRms;
    if (env.size() >= 3) {
        const double threshold = 0.15 * s.largestBlockRms;
        size_t i0 = 0;
        for (size_t i = 0; i < env.size(); ++i) {
            if (env[i] > threshold) { i0 = i; break; }
        }
        const size_t iMax = static_cast<size_t>(std::max_element(env.begin(), env.end()) - env.begin());
        entry.onsetPosition = static_cast<float>(static_cast<double>(i0) / env.size());
        const double blocks = static_cast<double>(iMax) - static_cast<double>(i0);
        entry.attackTime = static_cast<float>(std::max(0.0, blocks * kBlock / s.rate));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// [Header] public part
// ---------------------------------------------------------------------------

int32_t BitsPerSampleFromFormat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8: return 8;
        case SF_FORMAT_PCM_16: return 16;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32: return 32;
        case SF_FORMAT_PCM_U8: return 8;
        case SF_FORMAT_FLOAT: return 32;
        case SF_FORMAT_DOUBLE: return 64;
        default: return 16;
    }
}

// ---------------------------------------------------------------------------
// [Entry point]
// ---------------------------------------------------------------------------

bool AnalyzeSoundFile(const std::string& path, LibraryEntry& entry) {
    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    SndfilePtr file(OpenSoundFileForReading(path, &info));
    if (!file || info.frames < 1 || info.samplerate < 1 || info.channels < 1) return false;

    entry.path = path;
    entry.name = FileStem(path);
    entry.sampleRate = static_cast<float>(info.samplerate);
    entry.channels = info.channels;
    entry.bits = BitsPerSampleFromFormat(info.format);
    entry.duration = static_cast<float>(info.frames) / static_cast<float>(info.samplerate);

    uint64_t hash = 0, size = 0;
    if (FingerprintFile(path, hash, size)) {
        const FileRef ref = FileRegistry::Instance().GetOrCreateFileId(path, hash, size);
        entry.hash = hash;
        entry.size = size;
        entry.fileId = ref.id;
    }

    ReadDescription(file.get(), entry.description);

    FftrPtr fft(kiss_fftr_alloc(kBlock, 0, nullptr, nullptr));
    if (!fft) return false;

    const int channels = info.channels;
    const int64_t span = std::min<int64_t>(
        static_cast<int64_t>(static_cast<float>(info.samplerate) * kMaxSeconds), info.frames);
    // Large reads, but the interleaved buffer of a file with very many
    // channels stays near 8 MB.
    const int blocksPerRead = std::clamp((1 << 21) / (channels * kBlock), 1, kBlocksPerRead);
    const int64_t readFrames = static_cast<int64_t>(blocksPerRead) * kBlock;
    std::vector<float> interleaved(static_cast<size_t>(readFrames) * channels);
    std::vector<float> mono(static_cast<size_t>(readFrames));

    auto analysis = std::make_unique<SpanAnalysis>();
    analysis->Setup(info.samplerate, fft.get());

    int64_t pos = 0;
    while (pos < span) {
        const int64_t want = std::min(span - pos, readFrames);
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), want);
        if (got < 1) break;
        SanitizeSamples(interleaved.data(), static_cast<size_t>(got) * channels);
        MixToMono(interleaved.data(), got, channels, mono.data());
        for (sf_count_t off = 0; off < got; off += kBlock) {
            const int n = static_cast<int>(std::min<sf_count_t>(kBlock, got - off));
            analysis->AddBlock(mono.data() + off, n, pos);
            pos += n;
        }
    }

    file.reset();
    fft.reset();
    if (analysis->sampleCount == 0 || analysis->fullBlocks == 0) return false;

    WriteFeatures(*analysis, std::min(span, pos), entry);
    return true;
}
