// Sound file analysis on files generated at run time: header, identity and
// description, the level, time and spectral features, the pitch frame, and
// the files that must not produce features (short, silent, broken).
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct Metadata {
    bool bext = false;
    std::string bextDescription;
    std::string title, comment, artist;
};

// libsndfile directly: the shared fixtures write no metadata and clip floats.
bool WriteWav(const std::string& path, const std::vector<float>& interleaved, int channels, int rate,
              int subtype, const Metadata& meta = {}) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    if (meta.bext) {
        SF_BROADCAST_INFO bi;
        std::memset(&bi, 0, sizeof(bi));
        std::memcpy(bi.description, meta.bextDescription.data(),
                    std::min(meta.bextDescription.size(), sizeof(bi.description)));
        sf_command(f, SFC_SET_BROADCAST_INFO, &bi, sizeof(bi));
    }
    if (!meta.title.empty()) sf_set_string(f, SF_STR_TITLE, meta.title.c_str());
    if (!meta.comment.empty()) sf_set_string(f, SF_STR_COMMENT, meta.comment.c_str());
    if (!meta.artist.empty()) sf_set_string(f, SF_STR_ARTIST, meta.artist.c_str());
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / channels);
    const bool ok = sf_writef_float(f, interleaved.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

std::vector<float> Tone(double freq, double amplitude, int frames, int rate) {
    std::vector<float> out(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) out[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * freq * i / rate));
    return out;
}

// Values no analysis would produce, to see which fields were left alone.
LibraryEntry MarkedEntry() {
    LibraryEntry e;
    for (float& b : e.bandEnergy) b = 0.77f;
    e.brightness = 0.11f;
    e.bandCentroid = 0.22f;
    e.temporalCentroid = 0.33f;
    e.spectralFlux = 0.44f;
    e.spectralFlatness = 0.55f;
    e.harmonicity = 0.66f;
    e.onsetPosition = 0.12f;
    e.attackTime = 9.5f;
    e.pitchConfidence = 0.25f;
    e.rmsDb = 5.0f;
    e.description = "kept";
    return e;
}

void ExpectAllFinite(const LibraryEntry& e) {
    const float values[] = {e.duration, e.sampleRate, e.bandEnergy[0], e.bandEnergy[1], e.bandEnergy[2],
                            e.bandEnergy[3], e.bandEnergy[4], e.brightness, e.highFreqRatio, e.bandCentroid,
                            e.crestDb, e.peakPosition, e.zeroCrossingRate, e.dynamicsDb, e.rmsDb,
                            e.temporalCentroid, e.spectralFlux, e.pitchHz, e.pitchCents, e.pitchConfidence,
                            e.spectralFlatness, e.harmonicity, e.onsetPosition, e.attackTime};
    for (size_t i = 0; i < sizeof(values) / sizeof(values[0]); ++i) EXPECT_TRUE(std::isfinite(values[i])) << i;
}

}  // namespace

TEST(AnalyzeSoundFile, SineGivesHeaderLevelSpectrumAndPitch) {
    TempDir dir;
    const std::string path = dir.File("tone.a4.wav");
    AudioSpec spec;
    spec.seconds = 2.0;
    spec.amplitude = 0.5;
    ASSERT_TRUE(WriteTestAudio(path, spec));

    LibraryEntry e;
    ASSERT_TRUE(AnalyzeSoundFile(path, e));
    EXPECT_EQ(e.path, path);
    EXPECT_EQ(e.name, "tone.a4");
    EXPECT_FLOAT_EQ(e.duration, 2.0f);
    EXPECT_FLOAT_EQ(e.sampleRate, 48000.0f);
    EXPECT_EQ(e.channels, 1);
    EXPECT_EQ(e.bits, 24);

    EXPECT_NEAR(e.pitchHz, 440.0f, 1.0f);
    EXPECT_EQ(e.midiNote, 69);
    EXPECT_GT(e.pitchConfidence, 0.9f);

    EXPECT_NEAR(e.rmsDb, 20 * std::log10(0.5 / std::sqrt(2.0)), 0.05);
    EXPECT_NEAR(e.crestDb, 3.01f, 0.05f);
    EXPECT_EQ(e.dynamicsDb, e.crestDb);
    EXPECT_NEAR(e.zeroCrossingRate, 4 * 880.0f / 48000.0f, 0.001f);
    EXPECT_NEAR(e.temporalCentroid, 0.5f, 0.01f);
    // 440 Hz lies in the 150-750 Hz band, which is the reference.
    EXPECT_FLOAT_EQ(e.bandEnergy[1], 1.0f);
    for (int b : {0, 2, 3, 4}) EXPECT_LT(e.bandEnergy[b], 0.05f) << b;
    EXPECT_NEAR(e.brightness, std::log10(4.4) / std::log10(80.0), 0.02);
    EXPECT_LT(e.highFreqRatio, 0.02f);
    EXPECT_LT(e.spectralFlatness, 0.05f);
    EXPECT_GT(e.harmonicity, 0.9f);
}

TEST(AnalyzeSoundFile, WhiteNoiseIsFlatBrightAndHasNoPitch) {
    TempDir dir;
    const std::string path = dir.File("noise.wav");
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.seconds = 3.0;
    spec.channels = 2;
    ASSERT_TRUE(WriteTestAudio(path, spec));

    LibraryEntry e;
    ASSERT_TRUE(AnalyzeSoundFile(path, e));
    EXPECT_LE(e.pitchConfidence, 0.3f);
    EXPECT_EQ(e.pitchHz, 0.0f);
    EXPECT_EQ(e.midiNote, -1);
    // Equal expected magnitude in every bin: the share above 2 kHz is the
    // share of bins at or above edge(2000) = 85.
    EXPECT_NEAR(e.highFreqRatio, (1024 - 85) / 1024.0f, 0.02f);
    // Rayleigh-distributed magnitudes: geometric / arithmetic mean is
    // exp((ln 2 - Euler's gamma) / 2) / sqrt(pi / 2) = 0.846.
    EXPECT_NEAR(e.spectralFlatness, 0.846f, 0.02f);
    EXPECT_GT(e.brightness, 0.9f);
    EXPECT_LT(e.harmonicity, 0.2f);
    EXPECT_GT(e.spectralFlux, 0.0f);
}

TEST(AnalyzeSoundFile, SilenceWritesNeutralLevelsAndKeepsUnmeasurableFeatures) {
    TempDir dir;
    const std::string path = dir.File("silence.wav");
    AudioSpec spec;
    spec.kind = SignalKind::Silence;
    spec.seconds = 1.0;
    ASSERT_TRUE(WriteTestAudio(path, spec));

    LibraryEntry e = MarkedEntry();
    e.peakPosition = 0.9f;
    e.zeroCrossingRate = 0.9f;
    e.highFreqRatio = 0.9f;
    ASSERT_TRUE(AnalyzeSoundFile(path, e));
    EXPECT_EQ(e.rmsDb, -100.0f);
    EXPECT_EQ(e.crestDb, 0.0f);
    EXPECT_EQ(e.peakPosition, 0.0f);
    EXPECT_EQ(e.zeroCrossingRate, 0.0f);
    EXPECT_EQ(e.highFreqRatio, 0.0f);
    for (float b : e.bandEnergy) EXPECT_EQ(b, 0.77f);
    EXPECT_FLOAT_EQ(e.bandCentroid, 0.5f);  // from the kept, equal band values
    EXPECT_EQ(e.brightness, 0.11f);
    EXPECT_EQ(e.temporalCentroid, 0.33f);
    EXPECT_EQ(e.spectralFlatness, 0.55f);
    EXPECT_EQ(e.harmonicity, 0.66f);
    EXPECT_EQ(e.pitchConfidence, 0.25f);  // no block loud enough for a pitch frame
    ExpectAllFinite(e);

    // Near silence: one-bit dither in 16 bits, and float values so small that
    // their spectrum underflows to zero while the level does not.
    std::mt19937 rng(11);
    std::vector<float> dither(48000), tiny(48000);
    for (size_t i = 0; i < dither.size(); ++i) {
        dither[i] = static_cast<float>(static_cast<int>(rng() % 3) - 1) / 32768.0f;
        tiny[i] = (i % 7 < 3 ? 1.0e-30f : -1.0e-30f);
    }
    ASSERT_TRUE(WriteWav(dir.File("dither.wav"), dither, 1, 48000, SF_FORMAT_PCM_16));
    ASSERT_TRUE(WriteWav(dir.File("tiny.wav"), tiny, 1, 48000, SF_FORMAT_FLOAT));
    for (const char* name : {"dither.wav", "tiny.wav"}) {
        LibraryEntry n = MarkedEntry();
        ASSERT_TRUE(AnalyzeSoundFile(dir.File(name), n)) << name;
        EXPECT_GT(n.rmsDb, -700.0f) << name;
        EXPECT_LT(n.rmsDb, -90.0f) << name;
        ExpectAllFinite(n);
    }
}

TEST(AnalyzeSoundFile, MonoMixImpulsePositionAndEnvelope) {
    TempDir dir;
    // Left channel only: the mono mix halves the amplitude.
    std::vector<float> tone = Tone(1000.0, 0.5, 48000, 48000);
    std::vector<float> stereo;
    for (float v : tone) { stereo.push_back(v); stereo.push_back(0.0f); }
    ASSERT_TRUE(WriteWav(dir.File("left.wav"), stereo, 2, 48000, SF_FORMAT_FLOAT));
    LibraryEntry left;
    ASSERT_TRUE(AnalyzeSoundFile(dir.File("left.wav"), left));
    EXPECT_NEAR(left.rmsDb, 20 * std::log10(0.25 / std::sqrt(2.0)), 0.01);
    EXPECT_EQ(left.bits, 32);

    // One impulse at frame 30000 of 96000: peak and energy centroid both sit there.
    std::vector<float> click(96000, 0.0f);
    click[30000] = 0.8f;
    ASSERT_TRUE(WriteWav(dir.File("click.wav"), click, 1, 48000, SF_FORMAT_FLOAT));
    LibraryEntry c;
    ASSERT_TRUE(AnalyzeSoundFile(dir.File("click.wav"), c));
    EXPECT_FLOAT_EQ(c.peakPosition, 0.3125f);
    EXPECT_FLOAT_EQ(c.temporalCentroid, 0.3125f);
    EXPECT_EQ(c.zeroCrossingRate, 0.0f);
    EXPECT_NEAR(c.crestDb, 10 * std::log10(96000.0), 0.01);  // peak / (peak / sqrt(n))

    // Silent 0.5 s, linear rise to a peak at the centre of block 34, then a
    // fall. Block 15 is the first above 0.15 of the loudest, block 34 the
    // loudest; 96000 frames make 46 full blocks and one short one.
    const double peakTime = 34.5 * 2048 / 48000.0;
    std::vector<float> swell(96000);
    for (int i = 0; i < 96000; ++i) {
        const double t = i / 48000.0;
        double env = 0.0;
        if (t >= 0.5 && t < peakTime) env = (t - 0.5) / (peakTime - 0.5);
        else if (t >= peakTime) env = std::max(0.0, 1.0 - (t - peakTime) / 0.5);
        swell[i] = static_cast<float>(env * std::sin(2.0 * M_PI * 1000.0 * t));
    }
    ASSERT_TRUE(WriteWav(dir.File("swell.wav"), swell, 1, 48000, SF_FORMAT_FLOAT));
    LibraryEntry s;
    ASSERT_TRUE(AnalyzeSoundFile(dir.File("swell.wav"), s));
    EXPECT_FLOAT_EQ(s.onsetPosition, 15.0f / 47.0f);
    EXPECT_FLOAT_EQ(s.attackTime, 19 * 2048 / 48000.0f);
}

TEST(AnalyzeSoundFile, ShortFilesStopAfterHeaderIdentityAndDescription) {
    TempDir dir;
    const std::string path = dir.File("blip.wav");
    Metadata meta;
    meta.title = "Blip";
    ASSERT_TRUE(WriteWav(path, Tone(1000.0, 0.5, 2047, 48000), 1, 48000, SF_FORMAT_PCM_16, meta));

    LibraryEntry e = MarkedEntry();
    e.description.clear();
    EXPECT_FALSE(AnalyzeSoundFile(path, e));
    EXPECT_EQ(e.path, path);
    EXPECT_EQ(e.name, "blip");
    EXPECT_FLOAT_EQ(e.duration, 2047 / 48000.0f);
    EXPECT_EQ(e.channels, 1);
    EXPECT_EQ(e.bits, 16);
    EXPECT_EQ(e.description, "Blip");
    EXPECT_EQ(e.fileId.size(), 16u);
    EXPECT_NE(e.hash, 0u);
    EXPECT_EQ(e.size, std::filesystem::file_size(path));
    EXPECT_EQ(e.rmsDb, 5.0f);  // no feature written
    EXPECT_EQ(e.brightness, 0.11f);

    // The same content again keeps its identity.
    LibraryEntry again;
    EXPECT_FALSE(AnalyzeSoundFile(path, again));
    EXPECT_EQ(again.fileId, e.fileId);

    // Exactly one block: level and spectrum, but no flux (one spectrum), no
    // pitch frame (the first block never is one) and no onset (one RMS value).
    const std::string one = dir.File("one_block.wav");
    ASSERT_TRUE(WriteWav(one, Tone(1000.0, 0.5, 2048, 48000), 1, 48000, SF_FORMAT_PCM_24));
    LibraryEntry b = MarkedEntry();
    ASSERT_TRUE(AnalyzeSoundFile(one, b));
    EXPECT_NEAR(b.rmsDb, -9.03f, 0.05f);
    EXPECT_FLOAT_EQ(b.bandEnergy[2], 1.0f);
    EXPECT_EQ(b.spectralFlux, 0.44f);
    EXPECT_EQ(b.pitchConfidence, 0.25f);
    EXPECT_EQ(b.onsetPosition, 0.12f);
    EXPECT_EQ(b.attackTime, 9.5f);
}

TEST(AnalyzeSoundFile, LongFileAnalysesOnlyItsFirst30Seconds) {
    TempDir dir;
    const std::string path = dir.File("long.wav");
    // 5 minutes at 8 kHz: quiet for the first 30 s, loud afterwards.
    const int rate = 8000;
    std::vector<float> samples = Tone(440.0, 0.01, rate * 300, rate);
    for (size_t i = rate * 30; i < samples.size(); ++i) samples[i] *= 90.0f;
    ASSERT_TRUE(WriteWav(path, samples, 1, rate, SF_FORMAT_PCM_16));

    LibraryEntry e;
    ASSERT_TRUE(AnalyzeSoundFile(path, e));
    EXPECT_FLOAT_EQ(e.duration, 300.0f);
    EXPECT_NEAR(e.rmsDb, 20 * std::log10(0.01 / std::sqrt(2.0)), 0.1);
    EXPECT_NEAR(e.temporalCentroid, 0.5f, 0.01f);
}

TEST(AnalyzeSoundFile, BandsAt96kHzEndAt16kHz) {
    TempDir dir;
    const int rate = 96000;
    // 17 kHz (bin 362) lies above the last band's end at bin 341; it counts
    // for the high share only. The weak 1 kHz tone is the strongest band;
    // a weaker 15.5 kHz tone (bin 331) still belongs to the last band.
    std::vector<float> above = Tone(17000.0, 0.5, rate, rate);
    const std::vector<float> low = Tone(1000.0, 0.05, rate, rate);
    const std::vector<float> inBand = Tone(15500.0, 0.03, rate, rate);
    for (size_t i = 0; i < above.size(); ++i) above[i] += low[i] + inBand[i];
    ASSERT_TRUE(WriteWav(dir.File("above.wav"), above, 1, rate, SF_FORMAT_PCM_24));
    LibraryEntry a;
    ASSERT_TRUE(AnalyzeSoundFile(dir.File("above.wav"), a));
    EXPECT_FLOAT_EQ(a.bandEnergy[2], 1.0f);
    EXPECT_GT(a.bandEnergy[4], 0.45f);
    EXPECT_LT(a.bandEnergy[4], 0.75f);  // 0.03 / 0.05, give or take the bin offsets
    EXPECT_GT(a.highFreqRatio, 0.8f);
}

TEST(AnalyzeSoundFile, DescriptionJoinsBroadcastTextAndTags) {
    TempDir dir;
    const std::vector<float> tone = Tone(500.0, 0.3, 4096, 48000);
    struct Case {
        Metadata meta;
        std::string before, expected;
    };
    const Case cases[] = {
        // Tag text not found in the description: appended after a blank.
        {{true, "Door slam, heavy wooden", "Door slam", "recorded 2019", ""}, "",
         "Door slam, heavy wooden Door slam recorded 2019"},
        // The first 20 bytes of the tag text already occur: unchanged.
        {{true, "FX: Rain on tin roof, heavy, close", "Rain on tin roof, heavy", "", "Field"}, "",
         "FX: Rain on tin roof, heavy, close"},
        // No broadcast record: an empty description takes the tags alone,
        // a description the caller set is extended.
        {{false, "", "Wind", "", "Me"}, "", "Wind Me"},
        {{false, "", "Wind", "", ""}, "gust", "gust Wind"},
        // A broadcast record replaces the caller's text even when empty.
        {{true, "", "", "", ""}, "old", ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.File("desc" + std::to_string(n++) + ".wav");
        ASSERT_TRUE(WriteWav(path, tone, 1, 48000, SF_FORMAT_PCM_16, c.meta));
        LibraryEntry e;
        e.description = c.before;
        ASSERT_TRUE(AnalyzeSoundFile(path, e));
        EXPECT_EQ(e.description, c.expected) << n;
    }
}

TEST(AnalyzeSoundFile, BrokenInputNeverYieldsNonFiniteFeatures) {
    TempDir dir;
    // Garbage and missing files: false, entry untouched.
    std::mt19937 rng(5);
    std::string junk(10000, '\0');
    for (char& ch : junk) ch = static_cast<char>(rng());
    ASSERT_TRUE(WriteWholeFile(dir.File("junk.wav"), junk));
    for (const std::string& path : {dir.File("junk.wav"), dir.File("missing.wav")}) {
        LibraryEntry e = MarkedEntry();
        e.path = "before";
        EXPECT_FALSE(AnalyzeSoundFile(path, e));
        EXPECT_EQ(e.path, "before");
        EXPECT_TRUE(e.name.empty() && e.fileId.empty() && e.hash == 0 && e.channels == 0);
        EXPECT_EQ(e.description, "kept");
        EXPECT_EQ(e.rmsDb, 5.0f);
    }

    // A float file with NaN, infinities and absurd values among a tone: the
    // non-finite samples count as silence and every feature stays finite.
    std::vector<float> tone = Tone(700.0, 0.4, 48000, 48000);
    const float broken[3] = {NAN, INFINITY, -INFINITY};
    for (size_t i = 100; i < tone.size(); i += 997) tone[i] = broken[i % 3];
    ASSERT_TRUE(WriteWav(dir.File("nan.wav"), tone, 1, 48000, SF_FORMAT_FLOAT));
    LibraryEntry e;
    ASSERT_TRUE(AnalyzeSoundFile(dir.File("nan.wav"), e));
    ExpectAllFinite(e);
    EXPECT_NEAR(e.rmsDb, 20 * std::log10(0.4 / std::sqrt(2.0)), 0.1);
    EXPECT_NEAR(e.pitchHz, 700.0f, 3.0f);

    std::vector<float> huge = Tone(700.0, 0.4, 48000, 48000);
    for (size_t i = 0; i < huge.size(); i += 50) huge[i] = 3.0e38f;
    std::vector<float> stereo;
    for (float v : huge) { stereo.push_back(v); stereo.push_back(v); }
    ASSERT_TRUE(WriteWav(dir.File("huge.wav"), stereo, 2, 48000, SF_FORMAT_FLOAT));
    LibraryEntry h;
    ASSERT_TRUE(AnalyzeSoundFile(dir.File("huge.wav"), h));
    ExpectAllFinite(h);
}

TEST(BitsPerSampleFromFormat, ReadsTheSubtypeOnly) {
    const int rows[][2] = {{SF_FORMAT_WAV | SF_FORMAT_PCM_24, 24}, {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8},
                           {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 8},  {SF_FORMAT_W64 | SF_FORMAT_PCM_32, 32},
                           {SF_FORMAT_CAF | SF_FORMAT_DOUBLE, 64},  {SF_FORMAT_OGG | SF_FORMAT_VORBIS, 16},
                           {SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 16}};
    for (const auto& row : rows) EXPECT_EQ(BitsPerSampleFromFormat(row[0]), row[1]) << std::hex << row[0];
}
