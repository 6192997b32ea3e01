// The same project file gives the same export however its voices were built:
// builds that finish in another order (the reversed-build seam, or the race
// of every core) leave the voices in result order, so every file, name for
// name and sample for sample, is the export of a build on one core. CTest
// runs this file once as is and once held to one core (taskset).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "document/event.h"
#include "export/aaf_export.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/export_job.h"
#include "operations/voice_sync.h"
#include "persistence/project_load.h"
#include "platform/usable_cores.h"
#include "render/processed_clip_cache.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// One run of the program over the project file: open (read, then build the
// voices as the open does), then export everything into `out`.
struct OpenAndExport : DocumentRecords {
    SessionList session;
    ExportReport report;

    void Run(const std::string& projectPath, const std::string& out, bool reversedBuilds, uint32_t shuffle = 0,
             const ExportSettings& settings = EveryExportPass()) {
        const ProjectLoadResult loaded = LoadProjectFile(projectPath, *project);
        ASSERT_TRUE(loaded.ok) << loaded.error;
        size_t planned = 0;
        for (const RenderResult& r : project->results) planned += r.procMode == 1 && !r.fillChunks.empty() ? 1 : 0;
        ASSERT_EQ(planned, 0u) << "the file holds no chunk plan";
        engine->reverb.enabled = 1;
        observer.reverseVoiceBuilds = reversedBuilds;
        observer.shuffleVoiceBuilds = shuffle;
        DocumentContext ctx = Context();
        RebuildCache(ctx, true);
        ASSERT_TRUE(VoicesInResultOrder(*engine));
        ASSERT_EQ(engine->voices.size(), project->results.size());

        app->exportSettings = settings;
        report = RunExportJob(MakeExportJob(*app, *project, *engine, out + "/Reel"),
                              ExportContextOf(CapturingAafStep(session)));
    }
};

}  // namespace

// A rendered generated project (Beds, Fills, Clips, the same sounds on several
// layers), saved without chunk plans and opened twice: once with its voice
// builds finishing in reverse, once on every core this process may use. Every
// WAV pass, the reverb stem and the AAF session with markers come out the same.
TEST(ExportDeterminism, ReversedVoiceBuildsExportWhatABuildOnOneCoreExports) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 36, .seconds = 64, .layers = LargeProjectLayers::Rendered, .soundCount = 20};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    std::set<std::string> names;
    size_t repeated = 0, fills = 0, beds = 0, clips = 0;
    for (const RenderResult& r : large.project.results) {
        repeated += names.insert(r.name).second ? 0 : 1;
        fills += r.procMode == 1 ? 1 : 0;
    }
    for (const Event& e : large.project.events) {
        beds += e.shape == kShapeBed ? 1 : 0;
        clips += e.shape == kShapeClip ? 1 : 0;
    }
    ASSERT_GT(repeated, 5u) << "layers share sound names, so the clips pass numbers them";
    ASSERT_GT(fills, 4u);
    ASSERT_GE(beds, 3u);
    ASSERT_GE(clips, 3u);
    const std::string path = WriteLargeProject(large, dir.path(), "Determinism");
    ASSERT_FALSE(path.empty());

    OpenAndExport reversed, plain;
    reversed.Run(path, dir.File("reversed"), true);
    plain.Run(path, dir.File("plain"), false);
    ASSERT_TRUE(reversed.report.Succeeded()) << reversed.report.finalText;
    ASSERT_TRUE(plain.report.Succeeded()) << plain.report.finalText;
    std::printf("[Test] voices built on %d core(s); %d files\n", UsableCoreCount(), plain.report.filesWritten);

    const std::map<std::string, std::string> a = ExportedFiles(dir.File("reversed"));
    const std::map<std::string, std::string> b = ExportedFiles(dir.File("plain"));
    ASSERT_GT(a.size(), 40u);
    ExpectSameExportFiles(a, b);
    ExpectSameSession(reversed.session, plain.session);
    EXPECT_FALSE(reversed.session.list.markers.empty());
}

// Sounds kept as libraries of recordings keep them (11,025 to 96,000 Hz, 8 to
// 24 bit, lengths that are no round number), and every plain layer doubled
// by a twin of the same sound whose offset is less than a millisecond later
// (frame 603 against 604 of a 44.1 kHz file): each twin plays its own region
// whichever build decodes first. Twenty runs, each from an empty region
// cache, with the builds in shuffled orders on every core or in reverse on
// one thread, export the same files.
TEST(ExportDeterminism, RegionsASampleApartExportTheSameInAnyBuildOrder) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 9, .seconds = 16, .layers = LargeProjectLayers::Made, .soundCount = 16};
    spec.fieldRecordings = true;
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    std::set<int> rates;
    for (const LibraryEntry& e : large.library.index.entries) rates.insert(int(e.sampleRate));
    ASSERT_GE(rates.size(), 6u);
    std::vector<RenderResult> twins;
    for (RenderResult& r : large.project.results) {
        if (r.procMode != 0 || r.filepath.empty()) continue;
        r.sourceOffset = 0.0136948f;
        RenderResult twin = r;
        twin.sourceOffset = 0.0136967f;
        twin.track = r.track + 1;
        twins.push_back(twin);
    }
    ASSERT_GE(twins.size(), 6u);
    for (RenderResult& twin : twins) large.project.results.push_back(std::move(twin));
    const std::string path = WriteLargeProject(large, dir.path(), "Twins");
    ASSERT_FALSE(path.empty());

    // Each layer's clip file, the voice's samples: what a merged region
    // changes (the session reads its regions from the sources themselves).
    ExportSettings layers;
    layers.exportFormatAAF = false;
    layers.exportWavMixdown = layers.exportReverbStem = false;
    layers.exportWavClips = true;
    std::map<std::string, std::string> first;
    for (uint32_t round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        ClearProcessedClipCache();
        OpenAndExport run;
        const std::string out = dir.File("out" + std::to_string(round));
        run.Run(path, out, round % 5 == 0, round + 1, layers);
        ASSERT_TRUE(run.report.Succeeded()) << run.report.finalText;
        std::map<std::string, std::string> files = ExportedFiles(out);
        if (round == 0) {
            ASSERT_GT(files.size(), 30u);
            first = std::move(files);
        } else {
            ExpectSameExportFiles(first, files);
        }
        std::error_code ec;
        fs::remove_all(out, ec);
    }
}
