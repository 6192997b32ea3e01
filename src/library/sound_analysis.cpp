// sound_analysis.cpp — AnalyzeSoundFile and its helpers.
//
// Index
//   [Constants]    block size, window, band edges
//   [Header]       BitsPerSampleFromFormat, file stem, description from bext and tags
//   [Accumulator]  SpanAnalysis: running sums over the samples and the 2048-point spectra
//   [Features]     turning the sums into entry fields
//   [Entry point]  AnalyzeSoundFile
//
// The analysis reads at most the first 30 s of a file as a mono mix (mean of
// the channels), in consecutive 2048-frame blocks without overlap. Every
// block feeds the level, peak, sign-change and time sums; every full block
// also goes through a Hann-windowed real FFT (KISS FFT, single precision)
// for the spectral features. The mix comes straight from the file's own
// sample format (MonoDecoder) in double; the transform's configuration is
// the thread's own, built once (thread_fft.h); each block's sums are taken
// in one vectorised pass in double (analysis_sums.h).
#include "library/sound_analysis.h"

#include <kiss_fftr.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "library/analysis_sums.h"
#include "library/file_identity.h"
#include "library/file_registry.h"
#include "library/loudness_pitch.h"
#include "library/mono_decode.h"
#include "library/sound_file_open.h"
#include "library/sound_library.h"
#include "library/thread_fft.h"

// ---------------------------------------------------------------------------
// [Constants]
// ---------------------------------------------------------------------------

namespace {

constexpr int kBlock = kAnalysisBlockFrames;
constexpr int kBins = kBlock / 2;  // bins 0..1023; the Nyquist bin is not used
constexpr float kMaxSeconds = 30.0f;
// Blocks per read: the decoder is asked for long runs, the analysis then
// walks them block by block.
constexpr int kBlocksPerRead = 8;

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

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

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
    VectorBuild build = VectorBuild::Plain;  // the loops' build, for the whole file
    SpectrumLayout layout;
    kiss_fftr_cfg fft = nullptr;  // the thread's own

    // Time domain, over every sample.
    int64_t sampleCount = 0;
    double energy = 0.0;
    double timeSum = 0.0;  // sum of index x m^2
    double peak = 0.0;
    int64_t peakIndex = 0;
    int64_t signChanges = 0;
    double previousSample = 0.0;
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
    // Written before they are read; left uninitialised, as a file's
    // analysis should not begin by clearing some 60 KB.
    std::array<float, kBlock> pitchFrame;
    std::array<float, kBlock> windowed;
    std::array<kiss_fft_cpx, kBins + 1> spectrum;
    std::array<double, kBins> mag, previousMag;

    bool Setup(int sampleRate) {
        fft = ThreadRealFft(kBlock);
        if (!fft) return false;
        rate = static_cast<float>(sampleRate);
        const float binHz = rate / kBlock;
        const float edges[6] = {20.0f, 150.0f, 750.0f, 2000.0f, 6000.0f, 16000.0f};
        layout.bins = kBins;
        for (int i = 0; i < 6; ++i) layout.bandEdge[i] = EdgeBin(edges[i], binHz);
        layout.highFrom = layout.bandEdge[3];
        layout.harmonicFrom = EdgeBin(50.0f, binHz);
        layout.binHz = binHz;
        return true;
    }

    // One block of mono samples starting at absolute frame `pos`.
    void AddBlock(const double* mono, int n, int64_t pos) {
        // The very first sample has no predecessor: it compares with itself.
        SampleSums sums;
        AddSampleSums(build, mono, n, static_cast<double>(pos), sampleCount == 0 ? mono[0] : previousSample, peak,
                      sums);
        timeSum += sums.timeEnergy;
        signChanges += sums.signChanges;
        // The first occurrence of the largest magnitude wins.
        if (sums.peak > peak) {
            peak = sums.peak;
            peakIndex = pos + sums.peakAt;
        }
        previousSample = mono[n - 1];
        sampleCount += n;

        energy += sums.energy;
        const double rms = std::sqrt(sums.energy / std::max(n, 1));
        blockRms.push_back(rms);
        largestBlockRms = std::max(largestBlockRms, rms);
        if (n == kBlock) AddSpectrum(mono, rms);
    }

    void AddSpectrum(const double* mono, double rms) {
        WindowBlock(build, mono, HannWindow().data(), windowed.data(), kBlock);
        kiss_fftr(fft, windowed.data(), spectrum.data());

        SpectrumSums sums;
        AddSpectrumSums(build, spectrum.data(), layout, fullBlocks > 0 ? previousMag.data() : nullptr, mag.data(), sums);
        for (int b = 0; b < 5; ++b) bandSum[b] += sums.band[b];
        centroidA += sums.magnitude;
        centroidB += sums.weighted;
        totalMag += sums.total;
        highMag += sums.high;
        if (fullBlocks > 0) {
            fluxSum += std::sqrt(sums.change);
            ++fluxCount;
        }
        previousMag = mag;

        if (sums.loudBins >= 1 && sums.loudSum > 0.0) {
            flatLogMean += sums.logSum / sums.loudBins;
            flatMagMean += sums.loudSum / sums.loudBins;
            ++flatCount;
        }

        AddHarmonicity(sums.magnitude, sums.strongest);

        if (!havePitchFrame && blockRms.size() >= 2 && rms > 0.5 * largestBlockRms && rms > 0.01) {
            for (int i = 0; i < kBlock; ++i) pitchFrame[i] = static_cast<float>(mono[i]);
            havePitchFrame = true;
        }
        ++fullBlocks;
    }

    // Share of the magnitude around the strongest bin above 50 Hz (p) and
    // its first eight multiples.
    void AddHarmonicity(double total, int p) {
        if (p < 1 || !(mag[p] > 1e-10)) return;
        double harm = 0.0;
        for (int h = 1; h <= 8 && h * p < kBins; ++h) {
            const int lo = std::max(h * p - 2, 1);
            const int hi = std::min(h * p + 2, kBins - 1);
            for (int k = lo; k <= hi; ++k) harm += mag[k];
        }
        if (total > 0.0) {
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
        const float f = AnalyzeTonality(s.pitchFrame.data(), kBlock, s.rate, confidence, s.build);
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

bool AnalyzeSoundFile(const std::string& path, LibraryEntry& entry, VectorBuild build) {
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

    std::unique_ptr<SpanAnalysis> analysis(new SpanAnalysis);
    if (!analysis->Setup(info.samplerate)) return false;
    analysis->build = build;

    const int channels = info.channels;
    const int64_t span = std::min<int64_t>(
        static_cast<int64_t>(static_cast<float>(info.samplerate) * kMaxSeconds), info.frames);
    // Long runs, but the decoder's buffers for a file with very many
    // channels stay near 8 MB.
    const int blocksPerRead = std::clamp((1 << 21) / (channels * kBlock), 1, kBlocksPerRead);
    const int64_t readFrames = static_cast<int64_t>(blocksPerRead) * kBlock;
    std::unique_ptr<double[]> mono(new double[static_cast<size_t>(readFrames)]);
    MonoDecoder decoder(file.get(), info, build);

    int64_t pos = 0;
    while (pos < span) {
        const int64_t got = decoder.Read(mono.get(), std::min(span - pos, readFrames));
        if (got < 1) break;
        for (int64_t off = 0; off < got; off += kBlock) {
            const int n = static_cast<int>(std::min<int64_t>(kBlock, got - off));
            analysis->AddBlock(mono.get() + off, n, pos);
            pos += n;
        }
    }

    file.reset();
    if (analysis->sampleCount == 0 || analysis->fullBlocks == 0) return false;

    WriteFeatures(*analysis, std::min(span, pos), entry);
    return true;
}

bool TooShortToAnalyse(const LibraryEntry& entry) {
    if (!(entry.sampleRate > 0) || entry.channels < 1 || !(entry.duration > 0)) return false;
    return std::llround(double(entry.duration) * double(entry.sampleRate)) < kAnalysisBlockFrames;
}
