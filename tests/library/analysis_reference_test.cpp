// The analysis's level and spectral features against a plain double-precision
// reference written here: the same blocks, window and sums, with every
// spectrum computed in double by a textbook FFT. Twelve generated files cover
// noise, a tone, silence and a clipped tone, 16 and 24 bit, WAV, FLAC and AIFF,
// mono and stereo. Whatever the analysis does to go faster (the order of its
// sums, how it decodes), what it stores must stay within 1e-5 of what the
// plain computation gives; only the flatness of spectra whose quiet bins sit
// in the single-precision transform's rounding noise is held to the bound
// that noise allows (FlatnessBound). The loops built for AVX2 and those built
// for any processor agree to the bit, and so do analyses run on many threads
// at once.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <thread>
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

// How far the analysis's flatness may lie from the exact one, as natural
// logarithms of their ratio.
//
// The analysis transforms in single precision (unit roundoff u = 2^-24).
// Along any path from a windowed sample to a bin a value is rounded at most
// 39 times: 3 for the windowed sample (the mix, the window, their product),
// 6 in each of the five radix-4 stages of the 1024-point complex transform
// inside the 2048-point real one (the twiddle; the two products and the sum
// of a complex product; two butterfly sums) and 6 in the split into the
// real spectrum. Each rounding is an error of variance at most u^2/3 of the
// value it rounds; errors of different roundings are uncorrelated and the
// transform keeps energy (up to its scale), so each bin carries noise e of
// mean square at most s^2 = 13 u^2 x sum of the block's windowed samples
// squared (s is about 1.6 times the rms error the transform shows on these
// files).
//
// Added to a bin of exact magnitude M, such noise
// - raises the expected log magnitude by at most b = 1/2 ln(1 + s^2/M^2):
//   E ln|X + e| <= 1/2 ln E|X + e|^2 = 1/2 ln(M^2 + s^2) (Jensen);
// - never lowers it: the mean of ln|X + e| over the phase of e is at least
//   ln|X| (ln|z| is subharmonic);
// - scatters it with a variance of about b at most (s^2 / 2M^2 for small
//   noise, pi^2/24 once the noise buries the bin).
// The flatness is exp(g) / a, g the mean over blocks of each block's mean log
// magnitude, a the same of the mean magnitude. So g rises by at most
// `raise` (the mean of b), and scatters by `scatter` (its standard deviation
// from the b, allowed four times either way); a moves by at most the mean s
// over the mean a (`meanShift`), as each bin moves by |e|.
//
// Where every bin stands far above the noise (the noise files) all three are
// far below 1e-5, and 1e-5 holds. Between a clipped tone's harmonics some
// bins come near it (raise about 4e-5 to 1e-4 here), and a pure tone's quiet
// bins lie at or below it (in 24 bit the quantisation leaves them about 1e-6,
// s is about 2.5e-6): its stored flatness can only be known to within the
// factor exp(raise), about 2.2 for the 24-bit tone.
struct FlatnessBound {
    double raise = 0, scatter = 0, meanShift = 0;
    double Above() const { return std::max(1e-5, raise + 4 * scatter + meanShift); }
    double Below() const { return std::max(1e-5, 4 * scatter + meanShift); }
};

struct Reference {
    bool measured = false;
    double rmsDb = 0, temporalCentroid = 0, bandEnergy[5] = {}, bandCentroid = 0, brightness = 0;
    double highFreqRatio = 0, spectralFlatness = 0;
    bool hasTemporal = false, hasBands = false, hasBrightness = false, hasFlatness = false;
    FlatnessBound flatnessBound;
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
    // The flatness bound's sums over blocks: of the mean b, of the variance
    // of the block's mean log, of the noise's rms s.
    double raiseSum = 0, varianceSum = 0, noiseSum = 0;
    const double u = std::ldexp(1.0, -24);
    size_t fullBlocks = 0;
    for (size_t i = 0; i < mono.size(); ++i) {
        energy += mono[i] * mono[i];
        timeSum += double(i) * mono[i] * mono[i];
    }
    for (size_t pos = 0; pos + kBlock <= mono.size(); pos += kBlock, ++fullBlocks) {
        std::vector<std::complex<double>> x(kBlock);
        double windowedEnergy = 0;
        for (int i = 0; i < kBlock; ++i) {
            x[i] = mono[pos + i] * 0.5 * (1.0 - std::cos(2.0 * M_PI * i / kBlock));
            windowedEnergy += std::norm(x[i]);
        }
        const double noise2 = 13.0 * u * u * windowedEnergy;
        ReferenceFft(x);
        std::vector<double> m(kBins);
        for (int k = 0; k < kBins; ++k) m[k] = std::abs(x[k]);
        for (int b = 0; b < 5; ++b)
            for (int k = edge[b]; k < edge[b + 1]; ++k) bandSum[b] += m[k];
        double logSum = 0, magSum = 0, raise = 0;
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
                raise += 0.5 * std::log1p(noise2 / (m[k] * m[k]));
                ++counted;
            }
        }
        if (counted > 0 && magSum > 0) {
            logMeans += logSum / counted;
            magMeans += magSum / counted;
            raiseSum += raise / counted;
            varianceSum += raise / (double(counted) * counted);
            noiseSum += std::sqrt(noise2);
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
        r.flatnessBound.raise = raiseSum / flatBlocks;
        r.flatnessBound.scatter = std::sqrt(varianceSum) / flatBlocks;
        r.flatnessBound.meanShift = noiseSum / magMeans;
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
        // Flatness is relative to itself: a tone's is small.
        if (!ref.hasFlatness) {
            EXPECT_EQ(e.spectralFlatness, kept) << name;
        } else {
            const double ratio = std::log(double(e.spectralFlatness) / ref.spectralFlatness);
            const FlatnessBound& bound = ref.flatnessBound;
            EXPECT_LE(ratio, bound.Above()) << name << " spectralFlatness: " << e.spectralFlatness << " against "
                                            << ref.spectralFlatness << ", raise " << bound.raise;
            EXPECT_GE(ratio, -bound.Below()) << name << " spectralFlatness: " << e.spectralFlatness << " against "
                                             << ref.spectralFlatness << ", scatter " << bound.scatter;
        }
    }
}

TEST(AnalysisReference, TheBuildsForAnyProcessorAndForAvx2GiveTheSameBits) {
    // The decoder and the pitch detector have two builds too. On a processor
    // without AVX2 both runs take the plain build.
    TempDir dir;
    const std::vector<std::string> paths = WriteCases(dir);
    for (const std::string& path : paths) {
        LibraryEntry plain, chosen;
        const bool plainOk = AnalyzeSoundFile(path, plain, VectorBuild::Plain);
        ASSERT_EQ(AnalyzeSoundFile(path, chosen, ProcessorVectorBuild()), plainOk) << path;
        const std::vector<float> a = Features(plain), b = Features(chosen);
        for (size_t f = 0; f < a.size(); ++f)
            EXPECT_EQ(std::memcmp(&a[f], &b[f], sizeof(float)), 0)
                << path << " field " << f << ": " << a[f] << " " << b[f];
    }
}

TEST(AnalysisReference, AnalysesOnManyThreadsAtOnceGiveTheBitsOfOneThread) {
    // Each thread transforms with a configuration of its own: threads that
    // shared one would overwrite each other's scratch and get wrong spectra.
    TempDir dir;
    const std::vector<std::string> paths = WriteCases(dir);
    std::vector<std::vector<float>> alone;
    for (const std::string& path : paths) {
        LibraryEntry e;
        ASSERT_TRUE(AnalyzeSoundFile(path, e)) << path;
        alone.push_back(Features(e));
    }
    constexpr int kThreads = 8;
    std::vector<std::vector<std::vector<float>>> found(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Every thread starts at another file, so that different files
            // are transformed at the same moment.
            for (size_t n = 0; n < 2 * paths.size(); ++n) {
                LibraryEntry e;
                AnalyzeSoundFile(paths[(n + size_t(t)) % paths.size()], e);
                found[size_t(t)].push_back(Features(e));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (size_t n = 0; n < found[size_t(t)].size(); ++n) {
            const std::vector<float>& expected = alone[(n + size_t(t)) % paths.size()];
            EXPECT_EQ(std::memcmp(found[size_t(t)][n].data(), expected.data(), expected.size() * sizeof(float)), 0)
                << "thread " << t << ", file " << paths[(n + size_t(t)) % paths.size()];
        }
    }
}
