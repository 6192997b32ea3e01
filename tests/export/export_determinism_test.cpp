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
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// One run of the program over the project file: open (read, then build the
// voices as the open does), then export everything into `out`.
struct OpenAndExport {
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    JobObserver observer;
    SessionList session;
    ExportReport report;

    void Run(const std::string& projectPath, const std::string& out, bool reversedBuilds) {
        const ProjectLoadResult loaded = LoadProjectFile(projectPath, *project);
        ASSERT_TRUE(loaded.ok) << loaded.error;
        size_t planned = 0;
        for (const RenderResult& r : project->results) planned += r.procMode == 1 && !r.fillChunks.empty() ? 1 : 0;
        ASSERT_EQ(planned, 0u) << "the file holds no chunk plan";
        engine->reverb.enabled = 1;
        observer.reverseVoiceBuilds = reversedBuilds;
        DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
        ctx.observer = &observer;
        RebuildCache(ctx, true);
        ASSERT_TRUE(VoicesInResultOrder(*engine));
        ASSERT_EQ(engine->voices.size(), project->results.size());

        app->exportSettings = EveryExportPass();
        ExportContext ectx;
        ectx.project = project.get();
        ectx.engine = engine.get();
        ectx.app = app.get();
        ectx.aafStep = CapturingAafStep(session);
        report = RunExportJob(MakeExportJob(*app, *project, *engine, out + "/Reel"), ectx);
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
