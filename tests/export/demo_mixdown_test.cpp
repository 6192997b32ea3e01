// The demo's two impacts, heard as a new user hears them: the demo rendered
// with eight seeds, each render built into voices and exported as the
// stereo mixdown, and every impact event's stretch of that mixdown measured
// by its spectrum. "Impact Metal" rings bright (its energy centred well
// above 1.5 kHz, a real share above 4 kHz); "Impact Heavy" is low (most of
// its energy under 250 Hz); and neither event has a layer of the other
// kind, the kind of each layer's file told by its own spectrum.
#include <gtest/gtest.h>

#include <kiss_fftr.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demo_content/demo_generator.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "library/thread_fft.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "operations/voice_sync.h"
#include "persistence/project_load.h"
#include "playback/audio_engine.h"
#include "render/render_pass.h"
#include "support/generated_demo.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Where the energy of a stretch of sound lies.
struct Spectrum {
    double centroid = 0;  // Hz
    double below250 = 0;  // share of the energy under 250 Hz
    double above4k = 0;   // share above 4 kHz
    double energy = 0;
};

// Hann-windowed 4096-point frames, half overlapping, over [first, last).
Spectrum Measure(const std::vector<float>& mono, int rate, size_t first, size_t last) {
    constexpr int kSize = 4096;
    Spectrum s;
    kiss_fftr_cfg fft = ThreadRealFft(kSize);
    if (!fft) return s;
    std::vector<float> frame(kSize);
    std::vector<kiss_fft_cpx> bins(kSize / 2 + 1);
    double weighted = 0, low = 0, high = 0;
    last = std::min(last, mono.size());
    for (size_t start = first; start < last; start += kSize / 2) {
        for (int i = 0; i < kSize; ++i) {
            const size_t at = start + size_t(i);
            const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * i / kSize);
            frame[size_t(i)] = at < last ? float(mono[at] * hann) : 0.0f;
        }
        kiss_fftr(fft, frame.data(), bins.data());
        for (int k = 1; k < kSize / 2; ++k) {
            const double hz = double(k) * rate / kSize;
            const double p = double(bins[size_t(k)].r) * bins[size_t(k)].r + double(bins[size_t(k)].i) * bins[size_t(k)].i;
            s.energy += p;
            weighted += p * hz;
            if (hz < 250) low += p;
            if (hz > 4000) high += p;
        }
    }
    if (s.energy > 0) {
        s.centroid = weighted / s.energy;
        s.below250 = low / s.energy;
        s.above4k = high / s.energy;
    }
    return s;
}

// A WAV file's channels summed to one; empty when it cannot be read.
std::vector<float> ReadMono(const std::string& path, int& rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    std::vector<float> interleaved(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    rate = info.samplerate;
    std::vector<float> mono(size_t(info.frames));
    for (size_t i = 0; i < mono.size(); ++i)
        for (int c = 0; c < info.channels; ++c) mono[i] += interleaved[i * size_t(info.channels) + size_t(c)];
    return mono;
}

Spectrum MeasureFile(const std::string& path) {
    int rate = 0;
    const std::vector<float> mono = ReadMono(path, rate);
    return Measure(mono, rate, 0, mono.size());
}

// What a sound is by its spectrum: a ringing metal strike, a heavy low
// thud, or something else.
enum class Kind { Metal, Heavy, Other };
Kind KindOf(const Spectrum& s) {
    if (s.centroid > 1500 && s.above4k > 0.08) return Kind::Metal;
    if (s.below250 > 0.5) return Kind::Heavy;
    return Kind::Other;
}

std::string KeywordsOf(const Event& event) { return std::string(event.keywords, strnlen(event.keywords, sizeof event.keywords)); }

}  // namespace

TEST(DemoMixdown, TheImpactsSoundLikeTheirNamesInEveryRender) {
    TempDir dir;
    GeneratedDemo demo;
    ASSERT_TRUE(GenerateDemo(dir.File("DemoContent"), demo));
    auto library = std::make_unique<SoundLibrary>();
    library->libraries.push_back(demo.library);
    std::map<std::string, Kind> kindOfFile;
    for (const LibraryEntry& entry : demo.library.entries) kindOfFile[entry.path] = KindOf(MeasureFile(entry.path));
    int metalFiles = 0, heavyFiles = 0;
    for (const auto& [path, kind] : kindOfFile) {
        metalFiles += kind == Kind::Metal;
        heavyFiles += kind == Kind::Heavy;
    }
    // More of each than a Spot stacks layers (five at most).
    EXPECT_GE(metalFiles, 6);
    EXPECT_GE(heavyFiles, 6);

    Project opened;
    ASSERT_TRUE(LoadProjectFile(demo.projectFile, opened).ok);
    int metalEvent = -1, heavyEvent = -1;
    for (size_t e = 0; e < opened.events.size(); ++e) {
        const std::string words = KeywordsOf(opened.events[e]);
        if (words.find("metal") != std::string::npos) metalEvent = int(e);
        if (words.find("heavy") != std::string::npos) heavyEvent = int(e);
    }
    ASSERT_GE(metalEvent, 0);
    ASSERT_GE(heavyEvent, 0);

    for (uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto project = std::make_unique<Project>(opened);
        auto engine = std::make_unique<AudioEngine>();
        auto app = std::make_unique<AppState>();
        RenderSeeds seeds;
        seeds.passSeed = seed * 2654435761u;
        seeds.fixedFillSalt = true;
        seeds.fillSalt = seed;
        RenderEventsWithSeeds(*project, *library, -1, -1, -1, false, false, seeds);

        // Each impact's layers: of its own kind only, and where it sounds.
        std::map<int, std::pair<float, float>> span;  // event → first start, last end
        for (const RenderResult& r : project->results) {
            if (r.eventIdx != metalEvent && r.eventIdx != heavyEvent) continue;
            const Kind want = r.eventIdx == metalEvent ? Kind::Metal : Kind::Heavy;
            ASSERT_TRUE(kindOfFile.count(r.filepath)) << r.filepath;
            EXPECT_EQ(kindOfFile[r.filepath], want) << fs::path(r.filepath).filename() << " under "
                                                    << KeywordsOf(project->events[size_t(r.eventIdx)]);
            auto [it, fresh] = span.try_emplace(r.eventIdx, r.startTime, r.startTime + r.duration);
            if (!fresh) {
                it->second.first = std::min(it->second.first, r.startTime);
                it->second.second = std::max(it->second.second, r.startTime + r.duration);
            }
        }
        ASSERT_EQ(span.size(), 2u) << "both impacts sound";

        // The mixdown, as the Export tab writes it.
        const DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
        RebuildCache(ctx, true);
        ExportSettings& s = app->exportSettings;
        s.exportFormatAAF = false;
        s.exportFormatWAV = true;
        s.exportWavMixdown = true;
        s.exportWavStems = s.exportWavTracks = s.exportWavClips = false;
        const std::string out = dir.File("mix" + std::to_string(seed));
        ExportContext ectx;
        ectx.project = project.get();
        ectx.engine = engine.get();
        ectx.app = app.get();
        const ExportReport report = RunExportJob(MakeExportJob(*app, *project, *engine, out + "/Chase"), ectx);
        ASSERT_TRUE(report.Succeeded()) << report.finalText;
        std::string mixdown;
        for (const auto& file : fs::directory_iterator(out))
            if (file.path().extension() == ".wav") mixdown = file.path().string();
        int rate = 0;
        const std::vector<float> mono = ReadMono(mixdown, rate);
        ASSERT_FALSE(mono.empty()) << mixdown;

        auto stretch = [&](int event) {
            const auto [from, to] = span[event];
            return Measure(mono, rate, size_t(std::max(0.0f, from) * float(rate)), size_t(to * float(rate)));
        };
        const Spectrum metal = stretch(metalEvent), heavy = stretch(heavyEvent);
        std::printf("[Test] seed %u: metal %.0f Hz, %.2f above 4 kHz; heavy %.0f Hz, %.2f under 250 Hz\n", seed,
                    metal.centroid, metal.above4k, heavy.centroid, heavy.below250);
        EXPECT_GT(metal.centroid, 1500.0);
        EXPECT_GT(metal.above4k, 0.1) << "no real energy above 4 kHz";
        EXPECT_GT(heavy.below250, 0.5);
        EXPECT_LT(heavy.centroid, metal.centroid / 4);
    }
}
