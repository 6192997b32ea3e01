// Sound files from strangers through the one open gate and the readers
// behind it: a pipe or a device never blocks or opens, a header's claimed
// length never sizes memory, and NaN or infinite samples never get past the
// read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <vector>

#include "library/file_caches.h"
#include "library/region_measure.h"
#include "library/sound_analysis.h"
#include "library/sound_file_open.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

bool AllFinite(const std::vector<float>& values) {
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

TEST(UntrustedSound, SpecialFilesAreRefusedAtOnceWithTheirKind) {
    TempDir dir;
    const std::string fifo = dir.File("layer.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case { std::string path; const char* kind; };
    for (const Case& c : {Case{fifo, "named pipe"}, Case{"/dev/zero", "device"}, Case{dir.path(), "folder"}}) {
        SF_INFO info{};
        std::string problem;
        // Before, the pipe blocked here forever while holding the open lock.
        EXPECT_EQ(OpenSoundFileForReading(c.path, &info, &problem), nullptr) << c.path;
        EXPECT_NE(problem.find(c.kind), std::string::npos) << problem;
        WaveformPeaks peaks;
        LevelCurve curve;
        EXPECT_FALSE(ReadWaveformPeaks(c.path, peaks));
        EXPECT_FALSE(ReadLevelCurve(c.path, 20, curve));
    }
}

TEST(UntrustedSound, AClaimedLengthIsCutToWhatTheFileCanHold) {
    TempDir dir;
    const std::string ogg = dir.File("damaged.ogg");
    AudioSpec spec;
    spec.container = "ogg";
    spec.sampleRate = 8000;
    spec.seconds = 0.5;
    ASSERT_TRUE(WriteTestAudio(ogg, spec));
    // 2^40 frames at 8 kHz would ask the level curve for 2.7 billion points.
    ASSERT_TRUE(ClaimOggFrames(ogg, uint64_t(1) << 40));
    const auto bytes = int64_t(ReadWholeFile(ogg).size());

    SF_INFO info{};
    SNDFILE* file = OpenSoundFileForReading(ogg, &info);
    ASSERT_NE(file, nullptr);
    sf_close(file);
    EXPECT_GT(info.frames, 0);
    EXPECT_LE(info.frames, bytes * kMaxFramesPerByte);

    LevelCurve curve;
    ASSERT_TRUE(ReadLevelCurve(ogg, 20, curve));
    EXPECT_LE(int64_t(curve.size()), bytes * kMaxFramesPerByte / 8000 * 20 + 1);
    // What the file really holds still reads: the first half second sounds.
    EXPECT_GT(curve.front(), 0.01f);
    SoundSegmentList segments;
    EXPECT_TRUE(ReadAmplitudeEnvelope(ogg, 1.0f, 0.01f, segments));
}

TEST(UntrustedSound, NonFiniteSamplesReadAsSilence) {
    TempDir dir;
    const std::string path = dir.File("broken_float.wav");
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    // Stereo: a tone with NaN, +inf and -inf scattered through both channels.
    std::vector<float> samples = SineSamples(2 * 48000, 48000, {440.0}, 0.5);
    for (size_t i = 0; i < samples.size(); i += 997) samples[i] = (i / 997) % 3 == 0 ? nan : (i / 997) % 3 == 1 ? inf : -inf;
    ASSERT_TRUE(WriteFloatWavAsIs(path, samples, 2, 48000));

    WaveformPeaks peaks;
    ASSERT_TRUE(ReadWaveformPeaks(path, peaks));
    EXPECT_TRUE(AllFinite(peaks.peaks));
    EXPECT_TRUE(AllFinite(peaks.rms));
    EXPECT_LE(*std::max_element(peaks.peaks.begin(), peaks.peaks.end()), 0.51f);

    LevelCurve curve;
    ASSERT_TRUE(ReadLevelCurve(path, 20, curve));
    EXPECT_TRUE(AllFinite(curve));
    EXPECT_GT(curve[curve.size() / 2], 0.1f);

    SoundSegmentList segments;
    ASSERT_TRUE(ReadAmplitudeEnvelope(path, 1.0f, 0.01f, segments));
    ASSERT_FALSE(segments.empty());
    for (const SoundSegment& s : segments) EXPECT_TRUE(std::isfinite(s.weight) && std::isfinite(s.end));

    for (float measured : {FindPeakTime(path, 0.0f, 1.0f), FindOnsetTime(path, 0.0f, 1.0f),
                           EstimateFadeInLength(path, 0.0f, 1.0f), EstimateFadeOutLength(path, 0.0f, 1.0f, 1.0f)})
        EXPECT_TRUE(std::isfinite(measured));

    LibraryEntry entry;
    ASSERT_TRUE(AnalyzeSoundFile(path, entry));
    EXPECT_TRUE(std::isfinite(entry.rmsDb) && std::isfinite(entry.brightness) && std::isfinite(entry.crestDb));
}

// A FLAC file cut to half its bytes still claims its whole length in its
// stream header: every reader takes the length that decodes, as it takes a
// cut WAV's length from the data it holds. An intact file keeps its claim.
TEST(UntrustedSound, ACutFileIsAsLongAsWhatDecodes) {
    TempDir dir;
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.sampleRate = 22050;
    spec.channels = 2;
    spec.seconds = 9.6413;
    spec.format = SampleFormat::Pcm16;
    for (const char* container : {"flac", "wav"}) {
        SCOPED_TRACE(container);
        spec.container = container;
        const std::string whole = dir.File(std::string("whole.") + container);
        const std::string cut = dir.File(std::string("cut.") + container);
        ASSERT_TRUE(WriteTestAudio(whole, spec));
        const std::string bytes = ReadWholeFile(whole);
        ASSERT_TRUE(WriteWholeFile(cut, bytes.substr(0, bytes.size() / 2)));

        // What decodes, read to the end without trusting any length.
        SF_INFO info{};
        SNDFILE* raw = sf_open(cut.c_str(), SFM_READ, &info);
        ASSERT_NE(raw, nullptr);
        std::vector<float> block(size_t(4096) * 2);
        int64_t decoded = 0;
        for (sf_count_t got; (got = sf_readf_float(raw, block.data(), 4096)) > 0;) decoded += got;
        sf_close(raw);
        ASSERT_GT(decoded, int64_t(spec.sampleRate * 3));
        ASSERT_LT(decoded, int64_t(spec.sampleRate * 6));

        SF_INFO gated{};
        SNDFILE* file = OpenSoundFileForReading(cut, &gated);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(gated.frames, decoded);
        // The file reads from its first frame after the check.
        std::vector<float> first(2);
        EXPECT_EQ(sf_readf_float(file, first.data(), 1), 1);
        sf_close(file);

        LibraryEntry entry;
        ASSERT_TRUE(AnalyzeSoundFile(cut, entry));
        EXPECT_FLOAT_EQ(entry.duration, float(decoded) / float(spec.sampleRate));
        ASSERT_TRUE(AnalyzeSoundFile(whole, entry));
        EXPECT_FLOAT_EQ(entry.duration, float(std::llround(spec.seconds * spec.sampleRate)) / float(spec.sampleRate));
    }
}
