// The analysis's level and spectral features against a plain double-precision
// reference written here: the same blocks, window and sums, with every
// spectrum computed in double by a textbook FFT. Twelve generated files cover
// noise, a tone, silence and a clipped tone, 16 and 24 bit, WAV, FLAC and AIFF,
// mono and stereo. Whatever the analysis does to go faster (its transform,
// the order of its sums, how it decodes), what it stores must stay within
// 1e-5 of what the plain computation gives. The loops built for AVX2 and
// those built for any processor agree to the bit.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "platform/processor.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kBlock = 2048;
constexpr int kBins = kBlock / 2;

// Recursive radix-2 transform in double: slow, short and obviously right.
void ReferenceFft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    if (n == 1) return;
    std::vector<std::complex<double>> even(n / 2), odd(n / 2);
    for (size_t i = 0; i < n / 2; ++i) {
        even[i] = a[2 * i];
        odd[i] = a[2 * i + 1];
    }
    ReferenceFft(even);
    ReferenceFft(odd);
    for (size_t k = 0; k < n / 2; ++k) {
        const std::complex<double> t = std::polar(1.0, -2.0 * M_PI * double(k) / double(n)) * odd[k];
        a[k] = even[k] + t;
        a[k + n / 2] = even[k] - t;
    }
}

int EdgeBin(double frequency, double binHz) {
    const double b = std::trunc(frequency / binHz);
    return b <= 0 ? 0 : std::min(int(b), kBins - 1);
}

struct Reference {
    bool measured = false;
    double rmsDb = 0, temporalCentroid = 0, bandEnergy[5] = {}, bandCentroid = 0, brightness = 0;
    double highFreqRatio = 0, spectralFlatness = 0;
    bool hasTemporal = false, hasBands = false, hasBrightness = false, hasFlatness = false;
};

// The features of the first 30 s of the file's mono mix, every sum in double.
Reference Measure(const std::string& path) {
    Reference r;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return r;
    const int64_t span = std::min<int64_t>(int64_t(float(info.samplerate) * 30.0f), info.frames);
    std::vector<double> frames(size_t(span) * info.channels);
    const int64_t got = sf_readf_double(f, frames.data(), span);
    sf_close(f);
    std::vector<double> mono(size_t(std::max<int64_t>(got, 0)));
    for (int64_t i = 0; i < got; ++i) {
        double sum = 0;
        for (int c = 0; c < info.channels; ++c) sum += frames[size_t(i * info.channels + c)];
        mono[size_t(i)] = sum / info.channels;
    }

    const double binHz = double(float(info.samplerate) / kBlock);
    int edge[6];
    const double edges[6] = {20, 150, 750, 2000, 6000, 16000};
    for (int b = 0; b < 6; ++b) edge[b] = EdgeBin(edges[b], binHz);

    double energy = 0, timeSum = 0, bandSum[5] = {}, a = 0, weighted = 0, total = 0, high = 0;
    double logMeans = 0, magMeans = 0;
    int flatBlocks = 0;
    size_t fullBlocks = 0;
    for (size_t i = 0; i < mono.size(); ++i) {
        energy += mono[i] * mono[i];
        timeSum += double(i) * mono[i] * mono[i];
    }
    for (size_t pos = 0; pos + kBlock <= mono.size(); pos += kBlock, ++fullBlocks) {
        std::vector<std::complex<double>> x(kBlock);
        for (int i = 0; i < kBlock; ++i) x[i] = mono[pos + i] * 0.5 * (1.0 - std::cos(2.0 * M_PI * i / kBlock));
        ReferenceFft(x);
        std::vector<double> m(kBins);
        for (int k = 0; k < kBins; ++k) m[k] = std::abs(x[k]);
        for (int b = 0; b < 5; ++b)
            for (int k = edge[b]; k < edge[b + 1]; ++k) bandSum[b] += m[k];
        double logSum = 0, magSum = 0;
        int counted = 0;
        for (int k = 0; k < kBins; ++k) {
            total += m[k];
            if (k >= edge[3]) high += m[k];
            if (k == 0) continue;
            a += m[k];
            weighted += k * binHz * m[k];
            if (m[k] > 1e-12) {
                logSum += std::log(m[k]);
                magSum += m[k];
                ++counted;
            }
        }
        if (counted > 0 && magSum > 0) {
            logMeans += logSum / counted;
            magMeans += magSum / counted;
            ++flatBlocks;
        }
    }
    if (mono.empty() || fullBlocks == 0) return r;
    r.measured = true;
    const double rms = std::sqrt(energy / double(mono.size()));
    r.rmsDb = rms > 0 ? 20 * std::log10(rms) : -100;
    if (energy > 0) {
        r.hasTemporal = true;
        r.temporalCentroid = std::clamp(timeSum / energy / double(mono.size()), 0.0, 1.0);
    }
    const double strongest = *std::max_element(bandSum, bandSum + 5);
    if (strongest > 0) {
        r.hasBands = true;
        double sum = 0, centre = 0;
        for (int b = 0; b < 5; ++b) {
            r.bandEnergy[b] = bandSum[b] / strongest;
            sum += r.bandEnergy[b];
            centre += (0.1 + 0.2 * b) * r.bandEnergy[b];
        }
        r.bandCentroid = centre / sum;
    }
    if (a > 0) {
        r.hasBrightness = true;
        const double hz = std::max(100.0, weighted / a);
        r.brightness = std::clamp((std::log10(hz) - 2.0) / (std::log10(8000.0) - 2.0), 0.0, 1.0);
    }
    r.highFreqRatio = total > 0 ? high / total : 0;
    if (flatBlocks > 0 && magMeans / flatBlocks > 1e-12) {
        r.hasFlatness = true;
        r.spectralFlatness = std::clamp(std::exp(logMeans / flatBlocks) / (magMeans / flatBlocks), 0.0, 1.0);
    }
    return r;
}

struct FileCase {
    const char* name;
    SignalKind kind;  // Clicks stands for the clipped tone
    const char* container;
    SampleFormat format;
    int channels;
};

// 1.5 s of the case's signal.
std::vector<float> Signal(const FileCase& c) {
    AudioSpec spec;
    spec.seconds = 1.5;
    spec.channels = c.channels;
    spec.frequency = 311.0;
    spec.kind = c.kind == SignalKind::Clicks ? SignalKind::Sine : c.kind;
    spec.amplitude = c.kind == SignalKind::Noise ? 0.7 : 0.6;
    std::vector<float> s = MakeSignal(spec);
    if (c.kind == SignalKind::Clicks) {
        for (float& v : s) v = std::clamp(3.0f * v, -1.0f, 1.0f);
    }
    if (c.channels == 2) {
        // Different channels, so that the mono mix is a real mean.
        for (size_t i = 1; i < s.size(); i += 2) s[i] *= 0.5f;
    }
    return s;
}

const FileCase kCases[] = {
    {"noise16", SignalKind::Noise, "wav", SampleFormat::Pcm16, 1},
    {"noise24", SignalKind::Noise, "flac", SampleFormat::Pcm24, 2},
    {"noise16s", SignalKind::Noise, "aiff", SampleFormat::Pcm16, 2},
    {"tone24", SignalKind::Sine, "wav", SampleFormat::Pcm24, 1},
    {"tone16", SignalKind::Sine, "flac", SampleFormat::Pcm16, 1},
    {"tone24s", SignalKind::Sine, "aiff", SampleFormat::Pcm24, 2},
    {"silence24", SignalKind::Silence, "wav", SampleFormat::Pcm24, 2},
    {"silence16", SignalKind::Silence, "flac", SampleFormat::Pcm16, 1},
    {"silence24a", SignalKind::Silence, "aiff", SampleFormat::Pcm24, 1},
    {"clipped16", SignalKind::Clicks, "wav", SampleFormat::Pcm16, 2},
    {"clipped24", SignalKind::Clicks, "flac", SampleFormat::Pcm24, 1},
    {"clipped16a", SignalKind::Clicks, "aiff", SampleFormat::Pcm16, 1},
};

// Writes every case into `dir`; the paths in case order.
std::vector<std::string> WriteCases(const TempDir& dir) {
    std::vector<std::string> paths;
    for (const FileCase& c : kCases) {
        paths.push_back(dir.File(std::string(c.name) + "." + c.container));
        EXPECT_TRUE(WriteSamples(paths.back(), Signal(c), c.channels, 48000, c.format, c.container)) << c.name;
    }
    return paths;
}

// Every feature the analysis measures, the pitch included.
std::vector<float> Features(const LibraryEntry& e) {
    return {e.rmsDb,         e.crestDb,       e.peakPosition,  e.zeroCrossingRate, e.temporalCentroid,
            e.bandEnergy[0], e.bandEnergy[1], e.bandEnergy[2], e.bandEnergy[3],    e.bandEnergy[4],
            e.bandCentroid,  e.brightness,    e.highFreqRatio, e.spectralFlux,     e.spectralFlatness,
            e.harmonicity,   e.pitchHz,       e.pitchConfidence, e.onsetPosition,  e.attackTime};
}

// Near within 1e-5 of the reference: relative to the value, or to the
// field's full scale when the value is smaller than that.
void ExpectClose(double value, double reference, double scale, const std::string& what) {
    EXPECT_LE(std::fabs(value - reference), 1e-5 * std::max(std::fabs(reference), scale))
        << what << ": " << value << " against " << reference;
}

}  // namespace

TEST(AnalysisReference, LevelBandsCentroidsAndFlatnessMatchADoublePrecisionReference) {
    TempDir dir;
    const std::vector<std::string> paths = WriteCases(dir);
    for (size_t i = 0; i < paths.size(); ++i) {
        const FileCase& c = kCases[i];
        const std::string& path = paths[i];
        const Reference ref = Measure(path);
        ASSERT_TRUE(ref.measured) << c.name;

        // Values the analysis cannot produce, to tell a kept field.
        LibraryEntry e;
        const float kept = 0.375f;
        for (float& b : e.bandEnergy) b = kept;
        e.bandCentroid = e.brightness = e.temporalCentroid = e.spectralFlatness = kept;
        ASSERT_TRUE(AnalyzeSoundFile(path, e)) << c.name;

        const std::string name = c.name;
        ExpectClose(e.rmsDb, ref.rmsDb, 1.0, name + " rmsDb");
        ExpectClose(e.temporalCentroid, ref.hasTemporal ? ref.temporalCentroid : kept, 1.0, name + " temporalCentroid");
        for (int b = 0; b < 5; ++b)
            ExpectClose(e.bandEnergy[b], ref.hasBands ? ref.bandEnergy[b] : kept, 1.0,
                        name + " bandEnergy " + std::to_string(b));
        // Over the stored band values: a kept profile of equal bands is centred.
        ExpectClose(e.bandCentroid, ref.hasBands ? ref.bandCentroid : 0.5, 1.0, name + " bandCentroid");
        ExpectClose(e.brightness, ref.hasBrightness ? ref.brightness : kept, 1.0, name + " brightness");
        ExpectClose(e.highFreqRatio, ref.highFreqRatio, 1.0, name + " highFreqRatio");
        // Flatness is relative to itself: a tone's is small, and only
        // precise spectra keep the quiet bins' logarithms right.
        ExpectClose(e.spectralFlatness, ref.hasFlatness ? ref.spectralFlatness : kept, 0.0, name + " spectralFlatness");
    }
}

TEST(AnalysisReference, TheBuildsForAnyProcessorAndForAvx2GiveTheSameBits) {
    // The pitch detector has two builds too. On a processor without AVX2
    // both runs take the plain build.
    TempDir dir;
    const std::vector<std::string> paths = WriteCases(dir);
    for (const std::string& path : paths) {
        LibraryEntry plain, chosen;
        UsePlainVectorCodeForTests(true);
        const bool plainOk = AnalyzeSoundFile(path, plain);
        UsePlainVectorCodeForTests(false);
        ASSERT_EQ(AnalyzeSoundFile(path, chosen), plainOk) << path;
        const std::vector<float> a = Features(plain), b = Features(chosen);
        for (size_t f = 0; f < a.size(); ++f)
            EXPECT_EQ(std::memcmp(&a[f], &b[f], sizeof(float)), 0)
                << path << " field " << f << ": " << a[f] << " " << b[f];
    }
}
