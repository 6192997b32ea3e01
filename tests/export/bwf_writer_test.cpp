// Broadcast WAV writer: samples, bext fields, limits and failed writes.
#include "export/bwf_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
    EXPECT_EQ(probe.originator, "Tessaloom");

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

// libsndfile writes version 2 with a coding-history line of its own: every
// file leaves the writers as version 1 with none, and every reader agrees.
TEST(BwfWriter, BextIsVersionOneWithAnEmptyCodingHistoryInEveryReader) {
    TempDir dir;
    const std::vector<float> samples = RandomSamples(5000, 3);
    ASSERT_TRUE(WriteBWFStereo(dir.File("s.wav"), samples.data(), samples.data(), 5000, 44100, 12.5, "stereo"));
    ASSERT_TRUE(WriteBWFClipMono(dir.File("m.wav"), samples.data(), 5000, 96000, 1.0, "mono"));
    for (const char* name : {"s.wav", "m.wav"}) {
        SCOPED_TRACE(name);
        const BwfReadBack r = ReadBwfFile(dir.File(name));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.bextVersion, 1);
        EXPECT_EQ(r.bextSize, 602u);
        EXPECT_EQ(r.codingHistory, "");
        EXPECT_EQ(r.sndfileBextVersion, 1);
        EXPECT_EQ(r.sndfileCodingHistorySize, 0);
        EXPECT_EQ(r.chunks.back(), "data");
        EXPECT_EQ(r.frames, 5000);
        const ProbeReadBack probe = ProbeWav(dir.File(name));
        ASSERT_TRUE(probe.ok) << probe.message;
        EXPECT_FALSE(probe.hasCodingHistory);
    }
    EXPECT_EQ(ProbeWav(dir.File("s.wav")).timeReference, int64_t(44100 * 12.5));
    EXPECT_EQ(ProbeWav(dir.File("m.wav")).timeReference, 96000);
    const BwfReadBack s = ReadBwfFile(dir.File("s.wav"));
    for (size_t i = 0; i < 5000; ++i) ASSERT_NEAR(double(s.codes[2 * i]), double(samples[i]) * 8388607.0, 1.0);
}

// A chunk whose coding history is too short to leave room for a JUNK chunk
// header: the rest of the file moves up and the RIFF size follows.
TEST(BwfWriter, RewriteMovesTheTailWhenTheFreedBytesCannotHoldAChunk) {
    TempDir dir;
    auto le32 = [](std::string& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(char(v >> (8 * i)));
    };
    for (uint32_t history : {0u, 3u, 6u, 40u}) {
        SCOPED_TRACE(history);
        std::string body(602, '\0');
        body.replace(0, 5, "title");
        body[346] = 2;
        body[412] = 0x7f;  // a loudness value, which version 1 does not have
        body += std::string(history, 'h');
        std::string fmt("\x01\x00\x01\x00\x80\xbb\x00\x00\x00\x77\x01\x00\x02\x00\x10\x00", 16);
        const std::string data = "\x01\x02\x03\x04\x05\x06";
        std::string file = "RIFF";
        le32(file, 0);
        file += "WAVEfmt ";
        le32(file, 16);
        file += fmt + "bext";
        le32(file, uint32_t(body.size()));
        file += body;
        if (body.size() & 1) file.push_back('\0');
        file += "data";
        le32(file, uint32_t(data.size()));
        file += data;
        std::string riffSize;
        le32(riffSize, uint32_t(file.size() - 8));
        file.replace(4, 4, riffSize);
        const std::string path = dir.File("hand.wav");
        ASSERT_TRUE(WriteWholeFile(path, file));

        ASSERT_TRUE(RewriteBextChunk(path));
        const BwfReadBack r = ReadBwfFile(path);
        EXPECT_EQ(r.bextVersion, 1);
        EXPECT_EQ(r.bextSize, 602u);
        EXPECT_EQ(r.description, "title");
        const std::string after = ReadWholeFile(path);
        EXPECT_EQ(uint8_t(after[20 + 16 + 8 + 412]), 0) << "loudness bytes cleared";
        const bool junk = history >= 8;
        const std::vector<std::string> chunks =
            junk ? std::vector<std::string>{"fmt ", "bext", "JUNK", "data"} : std::vector<std::string>{"fmt ", "bext", "data"};
        EXPECT_EQ(r.chunks, chunks);
        EXPECT_EQ(after.size(), junk ? file.size() : 12 + 24 + 8 + 602 + 8 + data.size());
        EXPECT_EQ(after.substr(after.size() - data.size()), data);
        const uint32_t riff = uint8_t(after[4]) | uint32_t(uint8_t(after[5])) << 8;
        EXPECT_EQ(riff, after.size() - 8);
        EXPECT_EQ(ReadBwfFile(path).frames, 3) << "libsndfile still reads the data";
    }
    // A WAV file without bext is left as it is; anything else is no WAV file.
    std::string plain = "RIFF";
    le32(plain, 4 + 8 + 2);
    plain += "WAVEdata";
    le32(plain, 2);
    plain += "\x01\x02";
    ASSERT_TRUE(WriteWholeFile(dir.File("plain.wav"), plain));
    EXPECT_TRUE(RewriteBextChunk(dir.File("plain.wav")));
    EXPECT_EQ(ReadWholeFile(dir.File("plain.wav")), plain);
    ASSERT_TRUE(WriteWholeFile(dir.File("text.wav"), "not a wave file"));
    EXPECT_FALSE(RewriteBextChunk(dir.File("text.wav")));
    EXPECT_FALSE(RewriteBextChunk(dir.File("missing.wav")));
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

// A temporary file a crash left, a link planted at the temporary name, and a
// stop: the writers make their temporary file new (the link goes, its target
// keeps its bytes), and a raised stop gives the file up between blocks,
// leaving neither the file nor its temporary file.
TEST(BwfWriter, TemporaryFilesAreMadeNewAndAStopLeavesNothing) {
    TempDir dir;
    const std::vector<float> one(20000, 0.25f);
    const std::string outside = dir.File("outside.txt");
    ASSERT_TRUE(WriteWholeFile(outside, "the designer's own"));
    const std::string linked = dir.File("linked.wav");
    ASSERT_EQ(::symlink(outside.c_str(), (linked + ".tmp").c_str()), 0);
    const std::string stale = dir.File("stale.wav");
    ASSERT_TRUE(WriteWholeFile(stale + ".tmp", "half of a file a crash left"));
    ASSERT_TRUE(WriteBWFStereo(linked, one.data(), one.data(), 20000, 48000, 0.0, nullptr));
    ASSERT_TRUE(WriteBWFClipMono(stale, one.data(), 20000, 48000, 0.0, nullptr));
    EXPECT_EQ(ReadWholeFile(outside), "the designer's own");
    EXPECT_EQ(ReadBwfFile(linked).frames, 20000);
    EXPECT_EQ(ReadBwfFile(stale).frames, 20000);
    struct stat st {};
    EXPECT_NE(::lstat((linked + ".tmp").c_str(), &st), 0);
    EXPECT_NE(::lstat((stale + ".tmp").c_str(), &st), 0);

    std::atomic<bool> stop{true};
    EXPECT_FALSE(WriteBWFStereo(dir.File("stopped.wav"), one.data(), one.data(), 20000, 48000, 0.0, nullptr, &stop));
    EXPECT_FALSE(WriteBWFClipMono(dir.File("stopped1.wav"), one.data(), 20000, 48000, 0.0, nullptr, &stop));
    // Stopped between two blocks of a file written a block at a time.
    stop = false;
    BwfMonoWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("stopped2.wav"), 48000, 0, nullptr, &stop));
    ASSERT_TRUE(writer.Write(one.data(), 8192));
    stop = true;
    EXPECT_FALSE(writer.Write(one.data() + 8192, 8192));
    EXPECT_FALSE(writer.Finish());
    for (const char* name : {"stopped.wav", "stopped1.wav", "stopped2.wav"}) {
        EXPECT_NE(::lstat(dir.File(name).c_str(), &st), 0) << name;
        EXPECT_NE(::lstat((dir.File(name) + ".tmp").c_str(), &st), 0) << name;
    }
}
