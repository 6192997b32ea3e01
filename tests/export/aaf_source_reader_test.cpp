// AAF source region readers: where a region starts and ends in its file, the
// lead-in actually read, rate conversion, channel handling, and the files
// and regions they refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "export/aaf_source_reader.h"
#include "render/clip_processing.h"
#include "support/aaf_region_readers.h"
#include "support/peak_memory.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

// A file whose frame j holds (j + 1) / 2^20 on channel 0 and the negated
// value times (c + 1) on channel c, so every sample says where it came from.
// 24-bit holds these exactly.
std::vector<float> RampFrames(int64_t frames, int channels) {
    std::vector<float> out(size_t(frames) * size_t(channels));
    for (int64_t j = 0; j < frames; ++j)
        for (int c = 0; c < channels; ++c)
            out[size_t(j) * size_t(channels) + size_t(c)] =
                float(j + 1) / 1048576.0f * (c == 0 ? 1.0f : -float(c + 1));
    return out;
}

std::string RampFile(const TempDir& dir, const std::string& name, int rate, int channels, double seconds) {
    const std::string path = dir.File(name);
    const auto frames = int64_t(std::llround(seconds * rate));
    EXPECT_TRUE(WriteSamples(path, RampFrames(frames, channels), channels, rate));
    return path;
}

float RampValue(int64_t frame, int channel) {
    return float(frame + 1) / 1048576.0f * (channel == 0 ? 1.0f : -float(channel + 1));
}

}  // namespace

TEST(AafSourceReader, RegionBoundsHandlesAndFileEnds) {
    TempDir dir;
    const std::string path = RampFile(dir, "ramp.wav", 48000, 1, 10.0);  // 480000 frames
    std::vector<float> out;
    int32_t handle = -1;

    // A handle that reaches before the file's start is cut there; the lead-in is what was read.
    ASSERT_TRUE(ReadAafSourceRegion(path, 2.0f, 1.0f, 5.0f, 0.5f, 48000, out, handle));
    EXPECT_EQ(handle, 96000);
    ASSERT_EQ(out.size(), size_t(96000 + 48000 + 24000));
    EXPECT_EQ(out[0], RampValue(0, 0));
    EXPECT_EQ(out[size_t(handle)], RampValue(96000, 0));  // the clip's first sample
    EXPECT_EQ(out.back(), RampValue(167999, 0));

    // A full handle inside the file: the region starts one handle early.
    ASSERT_TRUE(ReadAafSourceRegion(path, 3.0f, 2.0f, 1.0f, 1.0f, 48000, out, handle));
    EXPECT_EQ(handle, 48000);
    ASSERT_EQ(out.size(), size_t(4 * 48000));
    EXPECT_EQ(out[0], RampValue(2 * 48000, 0));

    // A clip that reaches the file's end: the tail handle stops there.
    ASSERT_TRUE(ReadAafSourceRegion(path, 9.0f, 1.0f, 0.5f, 3.0f, 48000, out, handle));
    EXPECT_EQ(handle, 24000);
    ASSERT_EQ(out.size(), size_t(72000));
    EXPECT_EQ(out.back(), RampValue(479999, 0));

    // A whole-file read.
    ASSERT_TRUE(ReadAafSourceRegion(path, 0, kAafWholeFileSeconds, 0, 0, 48000, out, handle));
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(out.size(), size_t(480000));

    // Refused: an offset past the end, a missing file, an empty file, a file that is not audio.
    EXPECT_FALSE(ReadAafSourceRegion(path, 11.0f, 1.0f, 0, 0, 48000, out, handle));
    EXPECT_FALSE(ReadAafSourceRegion(dir.File("missing.wav"), 0, 1.0f, 0, 0, 48000, out, handle));
    ASSERT_TRUE(WriteSamples(dir.File("empty.wav"), {}, 1, 48000));
    EXPECT_FALSE(ReadAafSourceRegion(dir.File("empty.wav"), 0, 1.0f, 0, 0, 48000, out, handle));
    ASSERT_TRUE(WriteWholeFile(dir.File("text.wav"), "not audio at all"));
    EXPECT_FALSE(ReadAafSourceRegion(dir.File("text.wav"), 0, 1.0f, 0, 0, 48000, out, handle));
}

TEST(AafSourceReader, ConvertsLinearlyToTheExportRate) {
    TempDir dir;
    const std::string path = RampFile(dir, "cd.wav", 44100, 2, 3.0);
    std::vector<float> left, right;
    int32_t handle = -1;
    bool stereo = false;
    ASSERT_TRUE(ReadAafSourceRegionStereo(path, 1.0f, 1.0f, 0.5f, 0.5f, 48000, left, right, handle, stereo));
    EXPECT_TRUE(stereo);
    // The lead-in is counted at the export rate.
    EXPECT_EQ(handle, 24000);
    const int64_t n = 2 * 44100;  // frames read at the source rate
    const auto expected = size_t(std::trunc(double(n) * 48000.0 / 44100.0));
    ASSERT_EQ(left.size(), expected);
    ASSERT_EQ(right.size(), expected);
    // Output sample j lies at source position j x 44100 / 48000 of the region,
    // between its two neighbours.
    const int64_t first = 22050;
    for (size_t j : {size_t(0), size_t(1), size_t(777), size_t(50001), expected - 1}) {
        const double p = double(j) * (44100.0 / 48000.0);
        const auto i0 = std::min<int64_t>(int64_t(p), n - 1);
        const int64_t i1 = std::min<int64_t>(i0 + 1, n - 1);
        const float f = float(p - double(i0));
        EXPECT_NEAR(left[j], (1 - f) * RampValue(first + i0, 0) + f * RampValue(first + i1, 0), 1e-9) << j;
        EXPECT_NEAR(right[j], (1 - f) * RampValue(first + i0, 1) + f * RampValue(first + i1, 1), 1e-9) << j;
    }
}

TEST(AafSourceReader, ChannelHandlingOfTheThreeReaders) {
    TempDir dir;
    const std::string six = RampFile(dir, "six.wav", 48000, 6, 0.5);
    const std::string mono = RampFile(dir, "mono.wav", 48000, 1, 0.5);
    int32_t handle = 0;

    std::vector<float> out;
    ASSERT_TRUE(ReadAafSourceRegion(six, 0.1f, 0.1f, 0, 0, 48000, out, handle));
    ASSERT_EQ(out.size(), size_t(4800));
    float mean = 0;
    for (int c = 0; c < 6; ++c) mean += RampValue(4800, c);
    EXPECT_NEAR(out[0], mean / 6.0f, 1e-9);

    std::vector<float> left, right;
    bool stereo = false;
    ASSERT_TRUE(ReadAafSourceRegionStereo(six, 0.1f, 0.1f, 0, 0, 48000, left, right, handle, stereo));
    EXPECT_TRUE(stereo);
    EXPECT_EQ(left[10], RampValue(4810, 0));
    EXPECT_EQ(right[10], RampValue(4810, 1));

    std::vector<std::vector<float>> channels;
    int32_t count = 0;
    ASSERT_TRUE(ReadAafSourceRegionChannels(six, 0.1f, 0.1f, 0, 0, 48000, channels, handle, count));
    EXPECT_EQ(count, 6);
    ASSERT_EQ(channels.size(), 6u);
    for (int c = 0; c < 6; ++c) {
        ASSERT_EQ(channels[size_t(c)].size(), size_t(4800));
        EXPECT_EQ(channels[size_t(c)][100], RampValue(4900, c)) << c;
    }

    // A mono source in the stereo reader: left is the channel, right is emptied.
    right.assign(5, 1.0f);
    stereo = true;
    ASSERT_TRUE(ReadAafSourceRegionStereo(mono, 0, 0.1f, 0, 0, 48000, left, right, handle, stereo));
    EXPECT_FALSE(stereo);
    EXPECT_TRUE(right.empty());
    EXPECT_EQ(left[3], RampValue(3, 0));

    // The channel count is known once the header was read, even when the region is not.
    count = 0;
    EXPECT_FALSE(ReadAafSourceRegionChannels(six, 5.0f, 1.0f, 0, 0, 48000, channels, handle, count));
    EXPECT_EQ(count, 6);
}

// An essence file may hold at most an hour at the export rate; a region
// longer than that is refused before it is read (a tiny rate keeps the files small).
TEST(AafSourceReader, RefusesMoreThanAnHourOfOutput) {
    TempDir dir;
    const std::string over = dir.File("over.wav");
    const std::string under = dir.File("under.wav");
    ASSERT_TRUE(WriteSamples(over, std::vector<float>(size_t(100 * 3601), 0.1f), 1, 100, SampleFormat::Pcm16));
    ASSERT_TRUE(WriteSamples(under, std::vector<float>(size_t(100 * 3599), 0.1f), 1, 100, SampleFormat::Pcm16));
    std::vector<float> out;
    int32_t handle = 0;
    EXPECT_FALSE(ReadAafSourceRegion(over, 0, kAafWholeFileSeconds, 0, 0, 100, out, handle));
    EXPECT_TRUE(ReadAafSourceRegion(under, 0, kAafWholeFileSeconds, 0, 0, 100, out, handle));
    EXPECT_EQ(out.size(), size_t(359900));
    // Counted at the export rate, after conversion.
    EXPECT_FALSE(ReadAafSourceRegion(over, 0, kAafWholeFileSeconds, 0, 0, 200, out, handle));
    EXPECT_TRUE(ReadAafSourceRegion(under, 0, kAafWholeFileSeconds, 0, 0, 200, out, handle));
    EXPECT_EQ(out.size(), size_t(719800));
    std::vector<std::vector<float>> channels;
    int32_t count = 0;
    EXPECT_FALSE(ReadAafSourceRegionChannels(over, 0, kAafWholeFileSeconds, 0, 0, 100, channels, handle, count));
    // Half of it fits.
    EXPECT_TRUE(ReadAafSourceRegionChannels(over, 0, 1800.0f, 0, 0, 100, channels, handle, count));
    EXPECT_EQ(channels[0].size(), size_t(180000));
}

TEST(AafSourceReader, NonFiniteSamplesOfAFloatFileBecomeSilenceInEveryReader) {
    TempDir dir;
    const std::string path = dir.File("broken_float.wav");
    std::vector<float> samples = SineSamples(3 * 48000, 48000, {220.0}, 0.5);
    for (size_t i = 0; i < samples.size(); i += 89) samples[i] = i % 2 ? std::nanf("") : HUGE_VALF;
    ASSERT_TRUE(WriteFloatWavAsIs(path, samples, 3, 48000));
    auto finite = [](const std::vector<float>& v) {
        return !v.empty() && std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x) && std::fabs(x) <= 0.5f; });
    };
    std::vector<float> mono, left, right;
    std::vector<std::vector<float>> channels;
    int32_t handle = 0, count = 0;
    bool stereo = false;
    ASSERT_TRUE(ReadAafSourceRegion(path, 0.2f, 0.5f, 0.1f, 0.1f, 44100, mono, handle));
    EXPECT_TRUE(finite(mono));
    ASSERT_TRUE(ReadAafSourceRegionStereo(path, 0.2f, 0.5f, 0.1f, 0.1f, 48000, left, right, handle, stereo));
    EXPECT_TRUE(finite(left) && finite(right));
    ASSERT_TRUE(ReadAafSourceRegionChannels(path, 0.2f, 0.5f, 0.1f, 0.1f, 48000, channels, handle, count));
    ASSERT_EQ(count, 3);
    for (const std::vector<float>& c : channels) EXPECT_TRUE(finite(c));
}

// The streaming reader hands a region over a block at a time: put end to
// end, its blocks are exactly the linear conversion of the whole region
// (checked against ResampleLinear over the file's own samples), whichever
// way the rates relate and however the region falls across its read
// blocks; and it never holds the region, whatever its length and channels.
TEST(AafSourceReader, StreamedBlocksAreTheWholeConversionInBoundedMemory) {
    TempDir dir;
    struct Case {
        int fileRate, exportRate;
        float offset, duration, handle;
    };
    // Regions of several read blocks (65536 frames), up, down and far down.
    for (const Case& c : {Case{44100, 48000, 0.3f, 4.0f, 0.25f}, Case{96000, 48000, 0.0f, 3.1f, 0.0f},
                          Case{48000, 8000, 1.0f, 3.0f, 0.7f}, Case{22050, 48000, 0.0f, kAafWholeFileSeconds, 0.0f}}) {
        SCOPED_TRACE(std::to_string(c.fileRate) + " -> " + std::to_string(c.exportRate));
        const std::string path = RampFile(dir, "r" + std::to_string(c.fileRate) + ".wav", c.fileRate, 3, 5.0);
        // The region as the file holds it, converted whole.
        const int64_t fileFrames = int64_t(std::llround(5.0 * c.fileRate));
        const double start = std::max(0.0, double(c.offset) - c.handle);
        const double end = std::min(double(c.offset) + double(c.duration) + c.handle, 5.0);
        const int64_t first = int64_t(std::trunc(double(c.fileRate) * start));
        const int64_t count = std::min(fileFrames, int64_t(std::trunc(end * c.fileRate))) - first;
        std::vector<std::vector<float>> expected(3);
        for (int ch = 0; ch < 3; ++ch) {
            for (int64_t j = 0; j < count; ++j) expected[size_t(ch)].push_back(RampValue(first + j, ch));
            const double ratio = double(c.exportRate) / c.fileRate;
            ResampleLinear(int(std::trunc(double(count) * ratio)), 1.0 / ratio, expected[size_t(ch)]);
        }

        std::vector<std::vector<float>> got(3);
        int blocks = 0;
        AafRegionStart told;
        AafRegionEnd end2;
        ASSERT_TRUE(StreamAafSourceRegion(
            path, c.offset, c.duration, c.handle, c.handle, c.exportRate, AafChannelMode::Every,
            [&](const AafRegionStart& s) {
                told = s;
                return true;
            },
            [&](const std::vector<const float*>& ch, int64_t n) {
                ++blocks;
                for (size_t k = 0; k < 3; ++k) got[k].insert(got[k].end(), ch[k], ch[k] + n);
                return true;
            },
            end2));
        EXPECT_GT(blocks, 2);
        EXPECT_EQ(told.outputChannels, 3);
        EXPECT_EQ(told.frames, int64_t(expected[0].size()));
        EXPECT_EQ(end2.frames, told.frames);
        EXPECT_EQ(end2.handleSamples, told.handleSamples);
        EXPECT_EQ(told.handleSamples, int32_t(std::trunc(double(c.exportRate) * (double(c.offset) - start))));
        for (size_t k = 0; k < 3; ++k) EXPECT_EQ(got[k], expected[k]) << "channel " << k;

        // A stop asked by the listener ends the read.
        int calls = 0;
        EXPECT_FALSE(StreamAafSourceRegion(
            path, c.offset, c.duration, c.handle, c.handle, c.exportRate, AafChannelMode::MonoMix, nullptr,
            [&](const std::vector<const float*>&, int64_t) { return ++calls < 2; }, end2));
        EXPECT_EQ(calls, 2);
    }

    // Forty minutes of eight channels (at a low rate, so the file stays
    // small) converted to 3 kHz: whole, the converted region alone would be
    // 8 x 7.2 M floats (230 MB); streamed, a few blocks.
    const std::string wide = dir.File("wide.wav");
    ASSERT_TRUE(WriteSamples(wide, std::vector<float>(size_t(1000) * 2400 * 8, 0.25f), 8, 1000, SampleFormat::Pcm16));
    PeakMemoryProbe probe;
    int64_t frames = 0;
    AafRegionEnd wideEnd;
    ASSERT_TRUE(StreamAafSourceRegion(
        wide, 0, kAafWholeFileSeconds, 0, 0, 3000, AafChannelMode::Every, nullptr,
        [&](const std::vector<const float*>&, int64_t n) {
            frames += n;
            return true;
        },
        wideEnd));
    EXPECT_EQ(frames, int64_t(3000) * 2400);
    if (probe.Available()) {
        EXPECT_LT(probe.PeakGrowthBytes(), int64_t(48) << 20);
    }
}
