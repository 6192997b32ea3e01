// The analysis's decoder: the same samples stored as 16- and 24-bit WAV
// (little-endian bytes), AIFF (big-endian bytes), FLAC (integers) and float
// WAV give the very same mono mix, for mono, stereo and three channels and
// for lengths that leave every tail of the eight-sample loop, with the loops
// built for any processor and those built for AVX2; reads in odd runs join
// up to the whole; broken floats read as silence.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

#include "library/mono_decode.h"
#include "library/sound_file_open.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

// Samples of `bits` resolution spread over the whole range (the extremes
// included), so that sign extension and byte order both show.
std::vector<float> Samples(int frames, int channels, int bits) {
    std::vector<float> out(static_cast<size_t>(frames * channels));
    const double full = std::ldexp(1.0, bits - 1);
    uint32_t x = 12345u + static_cast<uint32_t>(bits);
    for (size_t i = 0; i < out.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        double v = std::floor((x / 4294967296.0 * 2.0 - 1.0) * full);
        if (i % 97 == 0) v = -full;     // the most negative sample
        if (i % 89 == 0) v = full - 1;  // the most positive
        out[i] = static_cast<float>(v / full);
    }
    return out;
}

// The mix by the plain definition, from libsndfile's own reading in double.
std::vector<double> PlainMix(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<double> frames(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_double(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<double> mono(static_cast<size_t>(got));
    for (sf_count_t i = 0; i < got; ++i) {
        double sum = 0;
        for (int c = 0; c < info.channels; ++c) sum += frames[static_cast<size_t>(i * info.channels + c)];
        mono[static_cast<size_t>(i)] = sum * (1.0 / info.channels);
    }
    return mono;
}

std::vector<double> Decode(const std::string& path, int64_t run, VectorBuild build = ProcessorVectorBuild()) {
    SF_INFO info{};
    SNDFILE* f = OpenSoundFileForReading(path, &info);
    if (!f) return {};
    MonoDecoder decoder(f, info, build);
    std::vector<double> mono;
    std::vector<double> chunk(static_cast<size_t>(run));
    for (;;) {
        const int64_t n = decoder.Read(chunk.data(), run);
        if (n < 1) break;
        mono.insert(mono.end(), chunk.begin(), chunk.begin() + n);
    }
    sf_close(f);
    return mono;
}

}  // namespace

TEST(MonoDecoder, EveryFormatGivesTheSameMix) {
    TempDir dir;
    for (int bits : {16, 24})
        for (int channels : {1, 2, 3})
            for (int frames : {1, 7, 8, 9, 4099}) {
                const std::vector<float> samples = Samples(frames, channels, bits);
                const SampleFormat format = bits == 16 ? SampleFormat::Pcm16 : SampleFormat::Pcm24;
                const std::string what = std::to_string(bits) + " bit, " + std::to_string(channels) + " channels, " +
                                         std::to_string(frames) + " frames";
                std::vector<double> expected;
                for (const char* container : {"wav", "aiff", "flac"}) {
                    const std::string path = dir.File(what + "." + container);
                    ASSERT_TRUE(WriteSamples(path, samples, channels, 48000, format, container)) << what << container;
                    // Every container holds the same integers: the first file's
                    // plain mix is what every path must give.
                    if (expected.empty()) expected = PlainMix(path);
                    ASSERT_EQ(expected.size(), static_cast<size_t>(frames)) << what;
                    for (int64_t run : {int64_t(4096), int64_t(5)}) {
                        EXPECT_EQ(Decode(path, run), expected) << what << " " << container << " in runs of " << run;
                    }
                    // On a processor without AVX2 this is the same run again.
                    EXPECT_EQ(Decode(path, 4096, VectorBuild::Plain), expected) << what << " " << container << " plain";
                }
                const std::string floats = dir.File(what + " float.wav");
                ASSERT_TRUE(WriteSamples(floats, samples, channels, 48000, SampleFormat::Float32, "wav"));
                EXPECT_EQ(Decode(floats, 4096), expected) << what << " float";
            }
}

TEST(MonoDecoder, BrokenFloatsReadAsSilenceAndHugeOnesAreClamped) {
    TempDir dir;
    const std::string path = dir.File("broken.wav");
    const std::vector<float> samples = {NAN, 0.5f, INFINITY, -0.25f, 3e30f, 0.5f};
    ASSERT_TRUE(WriteFloatWavAsIs(path, samples, 2, 48000));
    const double clamped = (double(kMaxSampleMagnitude) + 0.5) * 0.5;
    EXPECT_EQ(Decode(path, 16), (std::vector<double>{0.25, -0.125, clamped}));
}
