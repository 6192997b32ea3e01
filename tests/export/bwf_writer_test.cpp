// Broadcast WAV writer: samples, bext fields, limits and failed writes.
#include "export/bwf_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "export/bwf_readback.h"
#include "support/temp_dir.h"

namespace {

constexpr float kLsb = 1.0f / 8388608.0f;

bool Exists(const std::string& path) { return !ReadWholeFile(path).empty(); }

std::vector<float> RandomSamples(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.99f, 0.99f);
    std::vector<float> out(n);
    for (float& x : out) x = d(rng);
    return out;
}

}  // namespace

TEST(BwfWriter, StereoSamplesComeBackExactTo24BitsWithChannelsInPlace) {
    TempDir dir;
    const std::string path = dir.File("mix.wav");
    const std::vector<float> left = RandomSamples(20000, 1);
    const std::vector<float> right = RandomSamples(20000, 2);
    ASSERT_TRUE(WriteBWFStereo(path, left.data(), right.data(), 20000, 48000, 0.0, nullptr));

    const BwfReadBack r = ReadBwfFile(path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.channels, 2);
    EXPECT_EQ(r.sampleRate, 48000);
    EXPECT_EQ(r.bitsPerSample, 24);
    ASSERT_EQ(r.frames, 20000);
    // Each stored code is within one 24-bit step of the sample, in its own
    // channel, across the 8192-frame block seams.
    for (size_t i = 0; i < 20000; ++i) {
        ASSERT_NEAR(double(r.codes[2 * i]), double(left[i]) * 8388607.0, 1.0) << "frame " << i;
        ASSERT_NEAR(double(r.codes[2 * i + 1]), double(right[i]) * 8388607.0, 1.0) << "frame " << i;
    }
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST(BwfWriter, BextCarriesDescriptionOriginatorAndTimeReference) {
    TempDir dir;
    const std::vector<float> one(100, 0.25f);

    // No description: the default; the originator is the program.
    ASSERT_TRUE(WriteBWFStereo(dir.File("a.wav"), one.data(), one.data(), 100, 48000, 3600.5, nullptr));
    BwfReadBack a = ReadBwfFile(dir.File("a.wav"));
    ASSERT_TRUE(a.hasBext);
    EXPECT_EQ(a.description, "Tessaloom export");
    EXPECT_EQ(a.originator, "Tessaloom");
    EXPECT_EQ(a.timeReferenceLow, 172824000u);
    EXPECT_EQ(a.timeReferenceHigh, 0u);
    const ProbeReadBack probe = ProbeWav(dir.File("a.wav"));
    ASSERT_TRUE(probe.ok) << probe.message;
    EXPECT_EQ(probe.timeReference, 172824000);

    // 300 bytes of ASCII are cut to 255.
    const std::string ascii(300, 'x');
    ASSERT_TRUE(WriteBWFClipMono(dir.File("b.wav"), one.data(), 100, 48000, 0.0, ascii.c_str()));
    EXPECT_EQ(ReadBwfFile(dir.File("b.wav")).description, std::string(255, 'x'));

    // A two-byte character across byte 255 is dropped whole.
    const std::string accented = std::string(254, 'y') + "\xC3\xA9" + "tail";
    ASSERT_TRUE(WriteBWFStereo(dir.File("c.wav"), one.data(), one.data(), 100, 48000, 0.0, accented.c_str()));
    EXPECT_EQ(ReadBwfFile(dir.File("c.wav")).description, std::string(254, 'y'));

    // A negative start lands at zero rather than wrapping around.
    ASSERT_TRUE(WriteBWFClipMono(dir.File("d.wav"), one.data(), 100, 48000, -2.0, "neg"));
    EXPECT_EQ(ReadBwfFile(dir.File("d.wav")).TimeReference(), 0u);

    // Beyond 32 bits: the high word holds the rest.
    const int64_t far = 5000000123LL;
    ASSERT_TRUE(WriteBWFClipMonoAtSample(dir.File("e.wav"), one.data(), 100, 48000, far, "far"));
    const BwfReadBack e = ReadBwfFile(dir.File("e.wav"));
    EXPECT_EQ(e.timeReferenceHigh, 1u);
    EXPECT_EQ(e.TimeReference(), uint64_t(far));
}

TEST(BwfWriter, TimeReferenceOfSecondsAndRates) {
    EXPECT_EQ(BwfTimeReference(48000, 3600.5), 172824000u);
    EXPECT_EQ(BwfTimeReference(44100, 1.0 / 3.0), 14700u);  // truncated
    EXPECT_EQ(BwfTimeReference(48000, -0.001), 0u);
    EXPECT_EQ(BwfTimeReference(48000, std::nan("")), 0u);
}

TEST(BwfWriter, NonFiniteAndOverRangeSamplesAreCleaned) {
    TempDir dir;
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> in = {std::nanf(""), inf, 1.7f, 1.0f, -1.7f, -1.0f, -inf, 0.5f};
    ASSERT_TRUE(WriteBWFStereo(dir.File("s.wav"), in.data(), in.data(), int64_t(in.size()), 48000, 0, nullptr));
    const std::vector<float> copy = in;
    ASSERT_TRUE(WriteBWFClipMono(dir.File("m.wav"), copy.data(), int32_t(copy.size()), 48000, 0, nullptr));
    EXPECT_TRUE(std::isnan(copy[0]));  // the caller's buffer is left alone
    EXPECT_EQ(copy[2], 1.7f);

    for (const char* name : {"s.wav", "m.wav"}) {
        const BwfReadBack r = ReadBwfFile(dir.File(name));
        ASSERT_TRUE(r.ok) << name;
        const std::vector<float> got = ChannelOf(r.samples, r.channels, 0);
        EXPECT_EQ(got[0], 0.0f) << name;
        EXPECT_EQ(got[1], 0.0f) << name << ": +inf stored as 0";
        EXPECT_EQ(got[2], got[3]) << name << ": 1.7 stored as full scale";
        EXPECT_EQ(r.codes[size_t(3 * r.channels)], 8388607) << name;
        EXPECT_EQ(got[4], got[5]) << name << ": -1.7 stored as negative full scale";
        EXPECT_EQ(got[6], 0.0f) << name << ": -inf stored as 0";
        EXPECT_NEAR(got[7], 0.5f, kLsb) << name;
    }
}

TEST(BwfWriter, OneHourIsTheLimitAndNothingLongerIsCreated) {
    TempDir dir;
    constexpr int kRate = 100;  // a low rate keeps an hour small
    const int64_t hour = int64_t(kRate) * 3600;
    const std::vector<float> samples(size_t(hour) + 1, 0.1f);

    EXPECT_TRUE(WriteBWFStereo(dir.File("hour.wav"), samples.data(), samples.data(), hour, kRate, 0, nullptr));
    EXPECT_EQ(ReadBwfFile(dir.File("hour.wav")).frames, hour);
    EXPECT_FALSE(WriteBWFStereo(dir.File("over.wav"), samples.data(), samples.data(), hour + 1, kRate, 0, nullptr));
    EXPECT_FALSE(Exists(dir.File("over.wav")));
    EXPECT_FALSE(Exists(dir.File("over.wav.tmp")));

    EXPECT_TRUE(WriteBWFClipMono(dir.File("mono.wav"), samples.data(), int32_t(hour), kRate, 0, nullptr));
    EXPECT_FALSE(WriteBWFClipMono(dir.File("mono_over.wav"), samples.data(), int32_t(hour + 1), kRate, 0, nullptr));
    EXPECT_FALSE(Exists(dir.File("mono_over.wav")));

    EXPECT_FALSE(WriteBWFStereo(dir.File("empty.wav"), samples.data(), samples.data(), 0, kRate, 0, nullptr));
    EXPECT_FALSE(Exists(dir.File("empty.wav")));
}

// A full disk, played by a file-size limit: the write fails, nothing partial
// remains and the file that was there before is untouched.
TEST(BwfWriter, WriteCutShortByAFileSizeLimitLeavesTheEarlierFile) {
    TempDir dir;
    const std::string path = dir.File("mix.wav");
    ASSERT_TRUE(WriteWholeFile(path, "an earlier export"));
    const std::vector<float> samples(100000, 0.3f);

    bool stereo = true, mono = true;
    {
        ScopedFileSizeLimit limit(64 * 1024);
        stereo = WriteBWFStereo(path, samples.data(), samples.data(), 100000, 48000, 0, nullptr);
        mono = WriteBWFClipMono(path, samples.data(), 100000, 48000, 0, nullptr);
    }
    EXPECT_FALSE(stereo);
    EXPECT_FALSE(mono);
    EXPECT_EQ(ReadWholeFile(path), "an earlier export");
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST(BwfWriter, UnwritablePlaceFailsWithoutAFile) {
    TempDir dir;
    const std::vector<float> samples(10, 0.1f);
    EXPECT_FALSE(WriteBWFStereo(dir.File("missing/x.wav"), samples.data(), samples.data(), 10, 48000, 0, nullptr));
    EXPECT_FALSE(WriteBWFClipMono(dir.File("missing/x.wav"), samples.data(), 10, 48000, 0, nullptr));
}
