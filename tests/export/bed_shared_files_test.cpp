// Beds whose layers share sounds, stored as a project file and opened as the
// program opens one: a Bed that names one sound twice, a Bed of a sound and
// its byte copy in another folder (one layer each), and Beds of one start
// and length sharing a file. The open, a render and an export of every pass
// hold one layer per distinct sound of each Bed, and every file is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "export/aaf_export.h"
#include "library/file_registry.h"
#include "operations/export_job.h"
#include "operations/render_job.h"
#include "operations/voice_sync.h"
#include "persistence/project_file.h"
#include "persistence/project_load.h"
#include "playback/audio_engine.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

int AddBed(Project& p, float time, float duration, const std::vector<std::string>& files) {
    const int e = AddEvent(p, time, kShapeBed, 0.5f);
    p.events[size_t(e)].duration = duration;
    p.events[size_t(e)].pinnedFiles = files;
    p.events[size_t(e)].bedLayerWeight.assign(files.size(), 0.55f);  // probed: the open changes nothing else
    return e;
}

// The event's layers' files, in results order.
std::vector<std::string> LayerFiles(const Project& p, int event) {
    std::vector<std::string> files;
    for (const RenderResult& r : p.results)
        if (r.eventIdx == event) files.push_back(r.filepath);
    return files;
}

}  // namespace

TEST(BedSharedFiles, ABedNamingOneSoundTwiceOpensRendersAndExports) {
    TempDir dir;
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.seed = 5309;  // a content of its own: the registry outlives the test
    spec.sampleRate = 44100;
    spec.seconds = 1.37;
    spec.channels = 2;
    const std::string a = dir.File("Sounds/rain.wav"), copy = dir.File("Elsewhere/rain.wav");
    const std::string b = dir.File("Sounds/wind.wav");
    fs::create_directories(dir.File("Sounds"));
    fs::create_directories(dir.File("Elsewhere"));
    ASSERT_TRUE(WriteTestAudio(a, spec));
    fs::copy_file(a, copy);
    spec.seed = 5310;
    spec.channels = 1;
    spec.seconds = 0.83;
    ASSERT_TRUE(WriteTestAudio(b, spec));
    FileRegistry& registry = FileRegistry::Instance();
    const std::string idA = registry.FileRefForPath(a).id;
    ASSERT_EQ(registry.FileRefForPath(copy).id, idA);

    // The document as an earlier session stored it: a second layer of one
    // sound in each of the first two Beds.
    Project stored;
    stored.fps = 24;
    stored.totalDuration = 12;
    const int twice = AddBed(stored, 1.0f, 4.0f, {a, a});
    const int copied = AddBed(stored, 2.0f, 4.0f, {a, copy});
    const int alike = AddBed(stored, 2.0f, 4.0f, {b, a});  // the second one's start and length
    for (Event& e : stored.events) e.pinnedFileIds.assign(e.pinnedFiles.size(), "");
    stored.events[size_t(copied)].pinnedFileIds = {idA, idA};
    ASSERT_TRUE(RebuildBedEvents(stored));
    std::vector<RenderResult> seconds;
    for (const RenderResult& r : stored.results) {
        if (r.eventIdx != twice && r.eventIdx != copied) continue;
        RenderResult again = r;
        again.id = RenderResult().id;  // a layer of its own
        if (r.eventIdx == copied) again.filepath = copy;
        again.fileId = idA;
        seconds.push_back(again);
    }
    ASSERT_EQ(seconds.size(), 2u);
    stored.results.insert(stored.results.end(), seconds.begin(), seconds.end());
    AssignTracks(stored);
    ProjectSaveContext save;
    save.project = &stored;
    save.collectAudio = false;
    const std::string path = dir.File("Project/Shared.tlproj");
    fs::create_directories(dir.File("Project"));
    ASSERT_TRUE(WriteProjectFile(path, save));

    // Opened as the program opens it: read, then the Beds and every voice.
    DocumentRecords doc;
    const ProjectLoadResult loaded = LoadProjectFile(path, *doc.project);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    ASSERT_EQ(doc.project->results.size(), stored.results.size());
    doc.engine->reverb.enabled = 1;
    const DocumentContext ctx = doc.Context();
    RebuildCacheAsyncJob(ctx, true);
    const Project& p = *doc.project;
    EXPECT_EQ(LayerFiles(p, twice).size(), 1u) << "one sound named twice plays once";
    EXPECT_EQ(LayerFiles(p, copied).size(), 1u) << "a byte copy is the same sound";
    EXPECT_EQ(LayerFiles(p, alike), (std::vector<std::string>{b, a}));
    EXPECT_TRUE(BedsHoldTheirLayers(p));
    EXPECT_EQ(doc.engine->voices.size(), p.results.size());

    // Rendered: the Beds come out as they are.
    RenderRequest render;
    render.kind = 1;
    render.all = 1;
    RunRenderJob(ctx, render);
    EXPECT_EQ(LayerFiles(p, twice).size(), 1u);
    EXPECT_EQ(LayerFiles(p, copied).size(), 1u);
    EXPECT_EQ(LayerFiles(p, alike).size(), 2u);
    ASSERT_EQ(doc.engine->voices.size(), p.results.size());

    // Exported: every pass, the AAF session with a clip per layer.
    SessionList session;
    doc.app->exportSettings = EveryExportPass();
    const ExportReport report = RunExportJob(MakeExportJob(*doc.app, *doc.project, *doc.engine, dir.File("Out/Reel")),
                                             doc.ExportContextOf(CapturingAafStep(session)));
    ASSERT_TRUE(report.Succeeded()) << report.finalText;
    const std::map<std::string, std::string> files = ExportedFiles(dir.File("Out"));
    int clips = 0;
    for (const auto& [name, bytes] : files) clips += name.rfind("Clips/", 0) == 0 ? 1 : 0;
    EXPECT_EQ(clips, int(p.results.size()));
    EXPECT_TRUE(files.count("Reel.wav"));
    EXPECT_FALSE(session.list.positions.empty());
}
