// Per-file caches (info, waveform peaks, level curve, sounding segments),
// file brightness and the clip overview.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

std::vector<float> Sine(int rate, double seconds, double amplitude, double freq = 440.0) {
    return MakeSignal({SignalKind::Sine, rate, 1, seconds, freq, amplitude});
}

std::string Write(const TempDir& dir, const char* name, const std::vector<float>& s, int channels = 1,
                  int rate = 48000) {
    std::string path = dir.File(name);
    EXPECT_TRUE(WriteSamples(path, s, channels, rate, SampleFormat::Float32));
    return path;
}

}  // namespace

// ---- A 10-minute file shared by the long-file tests ------------------------

class LongFileCaches : public ::testing::Test {
protected:
    // 10 minutes at 8 kHz: silent except a sine over the last second.
    static constexpr int kRate = 8000;
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        std::vector<float> s(static_cast<size_t>(600 * kRate), 0.0f);
        for (size_t i = 599 * kRate; i < s.size(); ++i)
            s[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / kRate));
        path_ = dir_->File("ten_minutes.wav");
        ASSERT_TRUE(WriteSamples(path_, s, 1, kRate, SampleFormat::Pcm16));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static std::string path_;
};
TempDir* LongFileCaches::dir_ = nullptr;
std::string LongFileCaches::path_;

TEST_F(LongFileCaches, EveryCacheSeesTheEndOfTheFile) {
    WaveformPeakCache peaks;
    auto waveform = GetWaveformPeaks(path_.c_str(), peaks);
    ASSERT_NE(waveform, nullptr);
    ASSERT_EQ(waveform->peaks.size(), 16000u);
    EXPECT_FLOAT_EQ(waveform->duration, 600.0f);
    EXPECT_EQ(waveform->peaks[0], 0.0f);
    EXPECT_NEAR(waveform->peaks.back(), 0.5f, 0.01f);

    // 12000 points; the last 20 cover the sine (RMS 0.354), the rest is silent.
    LevelCurveCache levels;
    PeakMemoryProbe probe;
    LevelCurvePtr curve = GetLevelCurve(path_, 20, levels);
    const int64_t curveMemory = probe.PeakGrowthBytes();
    ASSERT_EQ(curve->size(), 12000u);
    for (size_t p = 11980; p < 12000; ++p) EXPECT_NEAR((*curve)[p], 0.3536f, 0.01f) << p;
    float before = 0.0f;
    for (size_t p = 0; p < 11980; ++p) before = std::max(before, (*curve)[p]);
    EXPECT_EQ(before, 0.0f);

    // One segment from 599 s to the end, found without holding the signal:
    // the whole mono file would be 19 MB of floats.
    AmplitudeEnvelopeCache envelopes;
    PeakMemoryProbe envelopeProbe;
    SoundSegmentListPtr segments = GetAmplitudeEnvelope(path_, 600.0f, 0.05f, envelopes);
    const int64_t envelopeMemory = envelopeProbe.PeakGrowthBytes();
    ASSERT_EQ(segments->size(), 1u);
    EXPECT_NEAR((*segments)[0].start, 599.0f, 1024.0f / kRate);
    EXPECT_FLOAT_EQ((*segments)[0].end, 600.0f);
    EXPECT_NEAR((*segments)[0].weight, 0.5f, 0.02f);
    if (probe.Available()) {
        EXPECT_LT(curveMemory, 4 * 1024 * 1024);
        EXPECT_LT(envelopeMemory, 6 * 1024 * 1024);
    }
}

// ---- Sizes and values of the cached readings -------------------------------

TEST(FileCaches, WaveformBucketsAndLevelPointsFollowTheDuration) {
    TempDir dir;
    // 6 kHz: 8 samples a cycle, so each 75-frame bucket reaches the crest and
    // holds over nine cycles (RMS within 1 % of 0.354).
    const std::string tenth = Write(dir, "tenth.wav", Sine(48000, 0.1, 0.5, 6000.0));
    const std::string second = Write(dir, "second.wav", Sine(48000, 1.0, 0.5));
    const std::string blip = Write(dir, "blip.wav", Sine(48000, 0.01, 0.5));
    WaveformPeakCache peaks;
    auto w = GetWaveformPeaks(tenth.c_str(), peaks);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->peaks.size(), 64u);
    EXPECT_EQ(w->rms.size(), 64u);
    EXPECT_EQ(w->sampleRate, 48000);
    EXPECT_NEAR(w->duration, 0.1f, 1e-6f);
    EXPECT_NEAR(*std::max_element(w->peaks.begin(), w->peaks.end()), 0.5f, 1e-3f);
    EXPECT_NEAR(*std::max_element(w->rms.begin(), w->rms.end()), 0.354f, 0.01f);
    EXPECT_EQ(FindWaveformPeaks(tenth, peaks), w);

    LevelCurveCache levels;
    EXPECT_EQ(GetLevelCurve(second, 20, levels)->size(), 20u);
    EXPECT_EQ(GetLevelCurve(blip, 20, levels)->size(), 1u);

    // The level of a frame is the mean of its channels' magnitudes: a 0.5 sine
    // on the left and silence on the right reads as a 0.25 sine (RMS 0.177).
    std::vector<float> stereo(2 * 48000, 0.0f);
    std::vector<float> left = Sine(48000, 1.0, 0.5);
    for (size_t i = 0; i < left.size(); ++i) stereo[2 * i] = left[i];
    const std::string halfStereo = Write(dir, "half.wav", stereo, 2);
    LevelCurvePtr curve = GetLevelCurve(halfStereo, 20, levels);
    ASSERT_EQ(curve->size(), 20u);
    for (float v : *curve) EXPECT_NEAR(v, 0.1768f, 0.002f);
}

TEST(FileCaches, UnreadableFilesAreNotCached) {
    TempDir dir;
    const std::string missing = dir.File("missing.wav");
    WaveformPeakCache peaks;
    LevelCurveCache levels;
    AmplitudeEnvelopeCache envelopes;
    EXPECT_EQ(GetWaveformPeaks(nullptr, peaks), nullptr);
    EXPECT_EQ(GetWaveformPeaks("", peaks), nullptr);
    EXPECT_EQ(GetWaveformPeaks(missing.c_str(), peaks), nullptr);
    ASSERT_NE(GetLevelCurve(missing, 20, levels), nullptr);
    EXPECT_TRUE(GetLevelCurve(missing, 20, levels)->empty());
    EXPECT_TRUE(GetAmplitudeEnvelope(missing, 1.0f, 0.05f, envelopes)->empty());
    EXPECT_EQ(peaks.Size(), 0u);
    EXPECT_EQ(levels.Size(), 0u);
    EXPECT_EQ(envelopes.Size(), 0u);
    // Written later, the file is read on the next request.
    Write(dir, "missing.wav", Sine(48000, 0.5, 0.5));
    EXPECT_NE(GetWaveformPeaks(missing.c_str(), peaks), nullptr);
    EXPECT_EQ(GetLevelCurve(missing, 20, levels)->size(), 10u);
}

TEST(FileCaches, AFailedInfoLookupIsRetriedOnlyWhenTheRegistryChanges) {
    TempDir dir;
    AudioFileInfoCache cache;
    const std::string path = dir.File("later.wav");
    AudioFileInfo info = GetAudioFileInfo(cache, path, 7);
    EXPECT_EQ(info.channels, 0);
    EXPECT_EQ(info.duration, 0.0f);
    EXPECT_EQ(cache.Size(), 1u);  // the failure is remembered

    std::vector<float> stereo(2 * 72000, 0.1f);
    Write(dir, "later.wav", stereo, 2);
    EXPECT_EQ(GetAudioFileInfo(cache, path, 7).channels, 0);  // same generation: still {0, 0}
    info = GetAudioFileInfo(cache, path, 8);                   // relinked or restored
    EXPECT_EQ(info.channels, 2);
    EXPECT_FLOAT_EQ(info.duration, 1.5f);
    EXPECT_EQ(cache.Size(), 1u);
    // A successful lookup stands whatever the generation.
    std::remove(path.c_str());
    EXPECT_EQ(GetAudioFileInfo(cache, path, 9).channels, 2);

    // The process-wide form follows the file registry's generation.
    const std::string restored = dir.File("restored.wav");
    EXPECT_EQ(GetAudioFileInfo(restored).channels, 0);
    Write(dir, "restored.wav", stereo, 2);
    EXPECT_EQ(GetAudioFileInfo(restored).channels, 0);
    {
        FileRegistry& registry = FileRegistry::Instance();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.RaiseGeneration();
    }
    EXPECT_EQ(GetAudioFileInfo(restored).channels, 2);
}

// ---- Sounding segments ------------------------------------------------------

TEST(FileCaches, SegmentsFollowSoundAndSilence) {
    TempDir dir;
    AmplitudeEnvelopeCache cache;
    // 0.5 s full-scale sine, 1 s of digital silence, 0.5 s sine.
    std::vector<float> s = Sine(48000, 2.0, 1.0);
    std::fill(s.begin() + 24000, s.begin() + 72000, 0.0f);
    const std::string gap = Write(dir, "gap.wav", s);
    SoundSegmentListPtr segments = GetAmplitudeEnvelope(gap, 2.0f, 0.05f, cache);
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_NEAR((*segments)[0].start, 0.0f, 1e-6f);
    EXPECT_NEAR((*segments)[0].end, 0.5f, 1024.0f / 48000);
    EXPECT_NEAR((*segments)[1].start, 1.5f, 1024.0f / 48000);
    EXPECT_FLOAT_EQ((*segments)[1].end, 2.0f);  // still open at the end: the caller's duration
    for (const SoundSegment& seg : *segments) EXPECT_NEAR(seg.weight, 0.5f, 0.01f);
    EXPECT_EQ(GetAmplitudeEnvelope(gap, 2.0f, 0.05f, cache), segments);  // a hit

    // Silence, and channels that cancel in the mono mix: nothing, not cached.
    const std::string silent = Write(dir, "silent.wav", std::vector<float>(48000, 0.0f));
    std::vector<float> opposed(2 * 48000);
    for (size_t i = 0; i < 48000; ++i) opposed[2 * i] = -(opposed[2 * i + 1] = s[i]);
    const std::string cancelling = Write(dir, "opposed.wav", opposed, 2);
    EXPECT_TRUE(GetAmplitudeEnvelope(silent, 1.0f, 0.05f, cache)->empty());
    EXPECT_TRUE(GetAmplitudeEnvelope(cancelling, 1.0f, 0.05f, cache)->empty());
    EXPECT_EQ(cache.Size(), 1u);
}

TEST(FileCaches, QuietSoundIsFoundByLoweringTheThreshold) {
    TempDir dir;
    AmplitudeEnvelopeCache cache;
    // A lone full-scale sample sets the normalisation peak; the quiet noise
    // from 0.5 s on stays below 1e-5 of it everywhere. Its mean square, 4.4e-7,
    // lies well between two of the halved thresholds (6.25e-7 and 3.1e-7), so
    // it is found whole, as one run.
    std::vector<float> s(2 * 48000, 0.0f);
    std::vector<float> noise = MakeSignal({SignalKind::Noise, 48000, 1, 1.5, 0, 0.00115});
    std::copy(noise.begin(), noise.end(), s.begin() + 24000);
    s[4800] = 1.0f;
    const std::string quiet = Write(dir, "quiet.wav", s);
    SoundSegmentListPtr segments = GetAmplitudeEnvelope(quiet, 2.0f, 0.05f, cache);
    ASSERT_EQ(segments->size(), 1u);  // the lone sample is too short to count
    EXPECT_NEAR((*segments)[0].start, 0.5f, 1024.0f / 48000);
    EXPECT_FLOAT_EQ((*segments)[0].end, 2.0f);
    EXPECT_LT((*segments)[0].weight, 1e-5f);

    // Nothing but a click: no run is long enough at any threshold, so the
    // whole file becomes one segment with the loudest block energy.
    std::vector<float> click(48000, 0.0f);
    click[10000] = 0.5f;
    const std::string lone = Write(dir, "click.wav", click);
    segments = GetAmplitudeEnvelope(lone, 1.0f, 0.05f, cache);
    ASSERT_EQ(segments->size(), 1u);
    EXPECT_EQ((*segments)[0].start, 0.0f);
    EXPECT_EQ((*segments)[0].end, 1.0f);
    EXPECT_NEAR((*segments)[0].weight, 1.0f / 1024.0f, 1e-6f);
}

// ---- Brightness and overview ------------------------------------------------

TEST(FileBrightness, ComesFromTheLibrariesOrTheAnalysis) {
    TempDir dir;
    std::vector<LibraryIndex> libraries(2);
    LibraryEntry byId;
    byId.path = "/old/place/door.wav";
    byId.fileId = "00000000000000aa";
    byId.brightness = 0.25f;
    LibraryEntry byPath;
    byPath.path = "/lib/glass.wav";
    byPath.brightness = 1.7f;
    libraries[0].entries.push_back(byId);
    libraries[1].entries.push_back(byPath);

    EXPECT_FLOAT_EQ(GetFileBrightness("/new/door.wav", "00000000000000aa", &libraries, false), 0.25f);
    EXPECT_FLOAT_EQ(GetFileBrightness("/lib/glass.wav", "", &libraries, false), 1.0f);  // clamped
    EXPECT_FLOAT_EQ(GetFileBrightness("/lib/other.wav", "", &libraries, false), -1.0f);
    EXPECT_FLOAT_EQ(GetFileBrightness("/lib/other.wav", "", nullptr, false), -1.0f);
    // An empty id never matches an entry without one.
    EXPECT_FLOAT_EQ(GetFileBrightness("/lib/nothing.wav", "", &libraries, false), -1.0f);

    EXPECT_FLOAT_EQ(GetFileBrightness(dir.File("missing.wav"), "", &libraries, true), 0.5f);
    const std::string low = Write(dir, "low.wav", Sine(48000, 1.0, 0.5, 120.0));
    EXPECT_LT(GetFileBrightness(low, "", nullptr, true), 0.4f);  // a 120 Hz tone is dark
}

TEST(ClipOverview, BinsCoverTheVoiceAndEmptyBinsReadZero) {
    // 1000 mono frames over 2048 bins: a bin holds a frame only where
    // trunc(i x 1000 / 2048) advances.
    PlaybackVoice voice;
    voice.left.resize(1000);
    for (int f = 0; f < 1000; ++f) voice.left[f] = (f % 2 ? -1.0f : 1.0f) * (f + 1) / 1000.0f;
    voice.sampleCount = 1000;
    voice.peakOverview.fill(9.0f);
    voice.rmsOverview.fill(9.0f);
    BuildClipOverview(voice);
    const float step = 1000.0f / 2048.0f;
    int filled = 0;
    for (int i = 0; i < 2048; ++i) {
        int a = static_cast<int>(i * step), b = std::min(1000, static_cast<int>((i + 1) * step));
        if (b <= a) {
            EXPECT_EQ(voice.peakOverview[i], 0.0f) << i;
            EXPECT_EQ(voice.rmsOverview[i], 0.0f) << i;
            continue;
        }
        ++filled;
        ASSERT_EQ(b - a, 1) << i;  // fewer frames than bins: one frame per filled bin
        EXPECT_FLOAT_EQ(voice.peakOverview[i], (a + 1) / 1000.0f) << i;
        EXPECT_FLOAT_EQ(voice.rmsOverview[i], (a + 1) / 1000.0f) << i;
    }
    EXPECT_EQ(filled, 1000);  // every frame lands in exactly one bin

    // Stereo takes the louder side; a short right channel leaves the rest to the left.
    PlaybackVoice wide;
    wide.stereo = 1;
    wide.left.assign(4096, 0.25f);
    wide.right.assign(2048, -0.5f);
    wide.sampleCount = 4096;
    BuildClipOverview(wide);
    EXPECT_FLOAT_EQ(wide.peakOverview[0], 0.5f);
    EXPECT_FLOAT_EQ(wide.peakOverview[1023], 0.5f);
    EXPECT_FLOAT_EQ(wide.peakOverview[1024], 0.25f);
    EXPECT_FLOAT_EQ(wide.rmsOverview[2047], 0.25f);

    // An empty voice clears what was there.
    PlaybackVoice empty;
    empty.peakOverview.fill(3.0f);
    empty.rmsOverview.fill(3.0f);
    BuildClipOverview(empty);
    EXPECT_EQ(empty.peakOverview[5], 0.0f);
    EXPECT_EQ(empty.rmsOverview[2047], 0.0f);
}

// ---- Erase, clear and concurrent use ---------------------------------------

TEST(FileCaches, AReadingInFlightDuringAClearIsNotStored) {
    LevelCurveCache cache;
    uint64_t epoch = 0;
    EXPECT_EQ(cache.Find("a.wav", &epoch), nullptr);  // a miss starts a decode...
    cache.Clear();                                     // ...the render clears meanwhile
    auto decoded = std::make_shared<const LevelCurve>(LevelCurve{1.0f});
    EXPECT_EQ(cache.Insert("a.wav", decoded, epoch), decoded);  // the caller still gets it
    EXPECT_EQ(cache.Size(), 0u);
    cache.Find("a.wav", &epoch);
    cache.Insert("a.wav", decoded, epoch);
    EXPECT_EQ(cache.Size(), 1u);
    // The first stored value stays; a second decode of the same path is returned the first.
    auto second = std::make_shared<const LevelCurve>(LevelCurve{2.0f});
    EXPECT_EQ(cache.Insert("a.wav", second, epoch), decoded);
    EXPECT_TRUE(cache.Erase("a.wav"));
    EXPECT_FALSE(cache.Erase("a.wav"));
}

TEST(FileCaches, ThreadsFillReadEraseAndClearTogether) {
    TempDir dir;
    constexpr int kFiles = 4;
    std::vector<std::string> paths;
    std::vector<WaveformPeaks> expected(kFiles);
    for (int k = 0; k < kFiles; ++k) {
        std::string name = "f" + std::to_string(k) + ".wav";
        paths.push_back(Write(dir, name.c_str(), Sine(8000, 0.2 + 0.3 * k, 0.2 + 0.2 * k)));
        ASSERT_TRUE(ReadWaveformPeaks(paths.back(), expected[k]));
    }
    WaveformPeakCache peaks;
    LevelCurveCache levels;
    AmplitudeEnvelopeCache envelopes;
    std::atomic<bool> stop{false};
    std::atomic<int> incomplete{0};
    std::atomic<int> seen{0};

    std::atomic<int> erased{0};
    std::thread filler([&] {
        // At least 200 rounds, and on until the other two have had their turns
        // (a loaded machine may start them late), within 5 s.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (int round = 0; round < 200 || ((seen.load() < 200 || erased.load() < 200) &&
                                            std::chrono::steady_clock::now() < deadline);
             ++round) {
            for (const std::string& p : paths) {
                GetWaveformPeaks(p.c_str(), peaks);
                if (GetLevelCurve(p, 20, levels)->empty()) incomplete.fetch_add(1);
                if (GetAmplitudeEnvelope(p, 1.0f, 0.05f, envelopes)->empty()) incomplete.fetch_add(1);
            }
        }
        stop.store(true);
    });
    std::thread reader([&] {
        while (!stop.load()) {
            for (int k = 0; k < kFiles; ++k) {
                auto w = FindWaveformPeaks(paths[k], peaks);
                if (!w) continue;
                seen.fetch_add(1);
                std::this_thread::yield();  // let the eraser drop it while it is held
                if (w->peaks != expected[k].peaks || w->rms != expected[k].rms ||
                    w->duration != expected[k].duration)
                    incomplete.fetch_add(1);
            }
        }
    });
    std::thread eraser([&] {
        int i = 0;
        while (!stop.load()) {
            // An erase voids the decodes in flight, so on a slow machine an
            // eraser that never pauses would keep the cache empty for good:
            // wait until a reader has held an entry since the last erase.
            const int lastSeen = seen.load();
            while (!stop.load() && seen.load() == lastSeen) std::this_thread::yield();
            EraseWaveformPeaks(paths[i % kFiles], peaks);
            erased.fetch_add(1);
            if (i % 3 == 0) ClearLevelCurveCache(levels);
            if (i % 5 == 0) ClearAmplitudeEnvelopeCache(envelopes);
            if (i % 7 == 0) ClearWaveformPeakCache(peaks);
            ++i;
            std::this_thread::yield();
        }
    });
    filler.join();
    reader.join();
    eraser.join();
    EXPECT_EQ(incomplete.load(), 0);
    EXPECT_GT(seen.load(), 0);
}
